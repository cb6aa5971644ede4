#include "OneX/pn_spreading.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "host/lifecycle.h"
#include "host/text.h"

namespace onex {

namespace {

// Characteristic polynomials, coefficients of x^0 ... x^15.
constexpr std::array<double, 16> kTapsI = {1, 0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1};
constexpr std::array<double, 16> kTapsQ = {1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1};


// One period of a short PN sequence as bits, in time order: a 0, then the register output,
// which follows the recursion of the characteristic polynomial (I: i(n) = i(n-15) ^ i(n-10)
// ^ i(n-8) ^ i(n-7) ^ i(n-6) ^ i(n-2)); the inserted 0 makes the run of fifteen 0s the period
// starts with, and the 1 after it is the seed's. Read backwards, the same bits would follow
// the reciprocal polynomial: another m-sequence, which no receiver of the standard acquires.
// The register runs on bits, not through lfsr: with taps and seed of 0s and 1s its sums
// modulo 2 are exactly these exclusive ors, and a process that only makes a frame starts
// without building and copying period-long vectors of doubles (fresh memory is what costs).
std::vector<std::uint8_t> shortPnBits(const std::array<double, 16>& taps) {
    std::vector<std::uint8_t> s(kPnPeriod, 0);
    std::uint8_t* a = s.data() + 1;  // s = [0, a]
    a[kPnRegisterLength - 1] = 1;
    for (std::size_t i = kPnRegisterLength; i < kPnPeriod - 1; ++i) {
        std::uint8_t bit = 0;
        for (std::size_t k = 0; k < kPnRegisterLength; ++k)
            if (taps[k] != 0.0) bit ^= a[i - kPnRegisterLength + k];
        a[i] = bit;
    }
    return s;
}

const std::vector<std::uint8_t>& pnBitsI() {
    static const std::vector<std::uint8_t> bits = shortPnBits(kTapsI);
    return bits;
}

const std::vector<std::uint8_t>& pnBitsQ() {
    static const std::vector<std::uint8_t> bits = shortPnBits(kTapsQ);
    return bits;
}

const RealVector& pnPeriodI() {
    static const RealVector period(pnBitsI().begin(), pnBitsI().end());
    return period;
}

const RealVector& pnPeriodQ() {
    static const RealVector period(pnBitsQ().begin(), pnBitsQ().end());
    return period;
}

// Built with the library's constants so the first frame does not pay for them.
const bool registered = (host::addInitializer([] { complexPnPeriod(); }), true);

}  // namespace

RealVector lfsr(int n, const RealVector& taps, std::size_t m, const RealVector& seed) {
    if (n < 1) throw host::Error("lfsr: the register length n must be at least 1, got " + std::to_string(n) + ".");
    const auto len = static_cast<std::size_t>(n);
    if (taps.size() < len)
        throw host::Error("lfsr: taps holds " + std::to_string(taps.size()) + " values; the register needs " +
                          std::to_string(n) + ".");
    if (seed.size() != len)
        throw host::Error("lfsr: the seed must hold n = " + std::to_string(n) + " values, got " +
                          std::to_string(seed.size()) + ".");
    RealVector a(std::max(m, len), 0.0);
    std::copy(seed.begin(), seed.end(), a.begin());
    // Only the tapped stages contribute: a(i) = sum over k of taps(k) a(i - n + k - 1).
    std::vector<std::pair<std::size_t, double>> tapped;
    for (std::size_t k = 0; k < len; ++k)
        if (taps[k] != 0.0) tapped.emplace_back(k, taps[k]);
    for (std::size_t i = len; i < m; ++i) {
        double sum = 0.0;
        for (const auto& [k, t] : tapped) sum += t * a[i - len + k];
        a[i] = mod2(sum);
    }
    return a;
}

RealVector OneX_PNiSequence(std::size_t reps) {
    if (reps == 0) throw host::Error("OneX_PNiSequence: reps must be at least 1.");
    return OneX_Repeat(pnPeriodI(), reps);
}

RealVector OneX_PNqSequence(std::size_t reps) {
    if (reps == 0) throw host::Error("OneX_PNqSequence: reps must be at least 1.");
    return OneX_Repeat(pnPeriodQ(), reps);
}

const ComplexVector& complexPnPeriod() {
    static const ComplexVector pn = [] {
        // OneX_SignalMap of each: 0 -> +1, 1 -> -1.
        const std::vector<std::uint8_t>& i = pnBitsI();
        const std::vector<std::uint8_t>& q = pnBitsQ();
        ComplexVector out(kPnPeriod);
        for (std::size_t k = 0; k < kPnPeriod; ++k) out[k] = Complex(1.0 - 2.0 * i[k], 1.0 - 2.0 * q[k]);
        return out;
    }();
    return pn;
}

long long shiftCount(double count, std::size_t length) {
    if (std::isnan(count)) throw host::Error("CircularShiftRight: count must be a number, not NaN.");
    const double c = std::round(count);  // halves away from zero
    if (c > static_cast<double>(length))
        throw host::Error("CircularShiftRight: count " + host::num2str(c) + " exceeds the length " +
                          std::to_string(length) + " of the input.");
    return c <= 0 ? 0 : static_cast<long long>(c);
}

ComplexVector complexPnSequence(double offsetIndex) {
    return CircularShiftRight(complexPnPeriod(), static_cast<double>(kPnOffsetStep) * offsetIndex);
}

void quadSpread(const Complex* frames, std::size_t length, double offsetIndex, ComplexVector& out) {
    if (length == 0 || length % kPnPeriod != 0)
        throw host::Error("OneX_FwdQuadSpreading: the frame holds " + std::to_string(length) +
                          " chips, which is not a whole number of " + std::to_string(kPnPeriod) +
                          "-chip PN periods.");
    const auto delay = static_cast<std::size_t>(shiftCount(static_cast<double>(kPnOffsetStep) * offsetIndex, kPnPeriod));
    const ComplexVector& pn = complexPnPeriod();
    out.resize(length);
    // Chip k of each period uses PN chip k - delay, cyclically: two straight runs per period.
    for (std::size_t base = 0; base < length; base += kPnPeriod) {
        auto spread = [&](std::size_t from, std::size_t to, std::size_t pnStart) {
            for (std::size_t k = from, p = pnStart; k < to; ++k, ++p) {
                const double a = frames[base + k].real(), b = frames[base + k].imag();
                const double c = pn[p].real(), d = pn[p].imag();
                out[base + k] = Complex(a * c - b * d, a * d + b * c);
            }
        };
        spread(0, delay, kPnPeriod - delay);
        spread(delay, kPnPeriod, 0);
    }
}

ComplexVector OneX_FwdQuadSpreading(const ComplexVector& frames, double offsetIndex) {
    ComplexVector out;
    quadSpread(frames.data(), frames.size(), offsetIndex, out);
    return out;
}

}  // namespace onex
