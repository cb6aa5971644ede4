#pragma once
// Pilot, MAC and idle-slot bursts of one slot, and the small helpers shared with the
// spreading and the traffic channel: bit-to-sign map, Walsh-Hadamard matrix, Walsh cover
// and whole-sequence repetition.

#include <cmath>
#include <cstddef>
#include <memory>
#include <string>

#include "host/error.h"

#include "host/matrix.h"

namespace onex {

using host::Complex;
using host::ComplexVector;
using host::RealMatrix;
using host::RealVector;

inline constexpr std::size_t kPilotChips = 96;
inline constexpr std::size_t kMacChips = 256;
inline constexpr std::size_t kMacCodeLength = 64;
inline constexpr std::size_t kRpcChannels = 59;
inline constexpr int kRaMacIndex = 4;

// 96 ones: Walsh code 0, in phase, amplitude 1.
RealVector OneX_FwdPilot();

// The 256 MAC chips of a slot: the RA bit on MAC index 4 and RPC bit c on MAC index c + 4,
// each times its linear amplitude, on the 64-chip Walsh codes; odd MAC indices on the
// quadrature branch; the 64-chip sum repeated four times.
ComplexVector OneX_FwdMACslot(const RealVector& rpcBits, const RealVector& rpcGains, double raBit, double raGain);

// Idle filler: complex white Gaussian noise of power 10^(gainDb/10) (real and imaginary
// parts each of half that power) from the process-wide generator, or zeros.
ComplexVector OneX_FwdIdleSlot(bool active, double gainDb, std::size_t numberOfChips);

// Bit 0 -> +1, bit 1 -> -1 (1 - 2 x), element by element.
RealVector OneX_SignalMap(const RealVector& bits);

// The Sylvester-ordered Walsh-Hadamard matrix of order 2^floor(log2(index)); an index
// below 2 gives [1]. Orders above kMaxWalshOrder are refused.
inline constexpr double kMaxWalshOrder = 4096;
RealMatrix OneX_WalshMatrix(double index);

// Each symbol times the whole code, one after the other: L symbols x C chips.
template <class S, class C>
auto OneX_WalshCover(const S& signal, const C& code) {
    using T = decltype(signal[0] * code[0]);
    std::vector<T, typename std::allocator_traits<typename S::allocator_type>::template rebind_alloc<T>> out;
    out.reserve(signal.size() * code.size());
    for (const auto& s : signal)
        for (const auto& c : code) out.push_back(s * c);
    return out;
}

// `factor` copies of the whole input, end to end.
template <class V>
V OneX_Repeat(const V& input, std::size_t factor) {
    V out;
    out.reserve(input.size() * factor);
    for (std::size_t k = 0; k < factor; ++k) out.insert(out.end(), input.begin(), input.end());
    return out;
}

// The sequence repeated cyclically from its first value and cut at `length` values.
// `function` names the caller in the error for an empty sequence.
template <class V>
V repeatToLength(const V& data, std::size_t length, const char* function) {
    if (length <= data.size()) return V(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    if (data.empty())
        throw host::Error(std::string(function) + ": cannot fill " + std::to_string(length) +
                          " values from an empty sequence.");
    V out;
    out.reserve(length);
    while (out.size() + data.size() <= length) out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length - out.size()));
    return out;
}

// A user bit pattern stretched (or cut) to `reqLength` values; the pattern must not be empty.
template <class V>
V extendVector(const V& data, std::size_t reqLength) {
    if (data.empty()) throw host::Error("extendVector: data must not be empty.");
    return repeatToLength(data, reqLength, "extendVector");
}

// The host's mod by 2: the result is never negative, so sums of bits wrap as the host's do.
inline double mod2(double x) {
    const double r = std::fmod(x, 2.0);
    return r < 0 ? r + 2.0 : r;
}

// MAC index -> 64-chip Walsh code index: 32 x (i mod 2) + floor(i / 2).
inline int macWalshCode(int macIndex) { return 32 * (macIndex % 2) + macIndex / 2; }
// Odd MAC indices ride on the quadrature branch.
inline bool macOnQuadrature(int macIndex) { return macIndex % 2 == 1; }

}  // namespace onex
