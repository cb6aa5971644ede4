#pragma once
// The short PN sequences of the forward link and quadrature spreading: the generic linear
// feedback shift register, the I and Q sequences of period 2^15 chips, the cyclic delay
// and the multiplication of a chip frame by the complex PN sequence at a pilot offset.

#include <cmath>
#include <cstddef>
#include <string>

#include "OneX/common_channels.h"
#include "host/error.h"

namespace onex {

inline constexpr std::size_t kPnPeriod = 32768;      // chips per short-PN period (one frame)
inline constexpr std::size_t kPnOffsetStep = 64;     // chips per pilot offset index
inline constexpr int kPnRegisterLength = 15;

// Bits a(1..m) of the register: a(1..n) = seed, then
// a(i) = (sum_k taps(k) * a(i - n + k - 1)) mod 2 for k = 1..n.
// The result holds max(m, n) bits (the seed is always kept whole).
RealVector lfsr(int n, const RealVector& taps, std::size_t m, const RealVector& seed);

// `reps` periods of the I (Q) short PN sequence as bits, in time order: [0, register output]
// from the seed fourteen 0s and a 1, so fifteen 0s, then a 1, ...
RealVector OneX_PNiSequence(std::size_t reps);
RealVector OneX_PNqSequence(std::size_t reps);

// One period of (1 - 2 PN_I) + j (1 - 2 PN_Q), computed once.
const ComplexVector& complexPnPeriod();
// That period delayed by 64 x offsetIndex chips (cyclically), as the spreading uses it.
ComplexVector complexPnSequence(double offsetIndex);

// Rounds a shift count half away from zero; refuses NaN and counts beyond `length`.
long long shiftCount(double count, std::size_t length);

// Cyclic delay: element k of the output is element k - count of the input. A count of 0
// or less returns the input unchanged; a count above the length is refused.
template <class V>
V CircularShiftRight(const V& input, double count) {
    const long long c = shiftCount(count, input.size());
    if (c <= 0) return input;
    V out(input.size());
    const std::size_t k = static_cast<std::size_t>(c);
    std::copy(input.end() - static_cast<std::ptrdiff_t>(k), input.end(), out.begin());
    std::copy(input.begin(), input.end() - static_cast<std::ptrdiff_t>(k), out.begin() + static_cast<std::ptrdiff_t>(k));
    return out;
}

// frames x (PN_I + j PN_Q) chip by chip, the PN delayed by 64 x offsetIndex chips and
// repeated over every whole period of the frame. The frame must hold whole periods.
ComplexVector OneX_FwdQuadSpreading(const ComplexVector& frames, double offsetIndex);
// The same, writing into `out` (resized), without building the delayed PN sequence.
void quadSpread(const Complex* frames, std::size_t length, double offsetIndex, ComplexVector& out);

}  // namespace onex
