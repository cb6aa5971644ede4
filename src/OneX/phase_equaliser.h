#pragma once
// The transmit phase equaliser: the analog second-order all-pass of the forward link
// mapped to the sample rate by the bilinear transform, or (with the EVM filter choice) an
// 85-tap FIR table designed at 4 samples per chip and carried to other ratios by
// band-limited interpolation. Applied circularly, like the baseband filter.

#include <array>
#include <cstddef>

#include "OneX/baseband_filter.h"
#include "host/error.h"
#include "host/matrix.h"

namespace onex {

using host::Complex;
using host::ComplexVector;
using host::RealVector;

inline constexpr double kEqualiserOmega0 = 1979203.3717615698;  // 2 pi x 315 kHz, rad/s
inline constexpr double kEqualiserAlpha = 1.36;
inline constexpr double kEqualiserMatchHz = 500000.0;
inline constexpr int kEqualiserTableMaxOversampling = 15;

struct Biquad {
    std::array<double, 3> b;  // numerator, powers of 1/z
    std::array<double, 3> a;  // denominator, a[0] = 1
};

// Bilinear transform with pre-warping, s = k (z - 1) / (z + 1), k = 2 pi Fp / tan(pi Fp / Fs),
// of (n0 s^2 + n1 s + n2) / (d0 s^2 + d1 s + d2).
Biquad bilinearPrewarped(const std::array<double, 3>& num, const std::array<double, 3>& den, double fs, double fp);

// The digital all-pass section at sample rate fs.
Biquad eqlrfilt(double fs);

// The 85-tap equaliser table at 4 samples per chip.
const RealVector& equaliserTable85();

// Band-limited interpolation by an integer factor r: the least-squares interpolator of
// half-length l for signals band-limited to `cutoff` x Nyquist. Original samples pass
// unchanged; the ends are extended by point reflection before filtering.
RealVector interpolateBandLimited(const RealVector& x, std::size_t r, std::size_t l = 4, double cutoff = 0.5);
// Its filter, 2 l r + 1 taps (delay l r).
RealVector bandLimitedInterpolator(std::size_t r, std::size_t l = 4, double cutoff = 0.5);

// The FIR table equaliser for `os` samples per chip: taps and the pre-roll length.
// Ratios above 15 are designed for 15; `forcedOversampling` says what was used.
struct EqualiserTableDesign {
    RealVector b;
    std::size_t filterLength = 0;
    int forcedOversampling = 0;
};
EqualiserTableDesign equaliserTableDesign(int os);

// The equaliser at `os` samples per chip; `useTable` selects the FIR table (the EVM
// filter choice) over the all-pass section.
ComplexVector phaseEqualise(const ComplexVector& input, int os, bool useTable);
// The same on the frame itself (no second frame-sized buffer for the all-pass section);
// `conjugate` writes the complex conjugate of each result, saving a pass over the frame.
void phaseEqualiseInPlace(ComplexVector& x, int os, bool useTable, bool conjugate = false);
void phaseEqualiseInPlace(SplitSamples x, int os, bool useTable, bool conjugate = false);
// As the frame builder calls it: the table is used when the application's
// parameters.FilterType is 4.
ComplexVector OneX_FwdPhaseEq(const ComplexVector& input, int os);
void fwdPhaseEqInPlace(ComplexVector& x, int os, bool conjugate = false);
void fwdPhaseEqInPlace(SplitSamples x, int os, bool conjugate = false);

// Rotates row (or column) `position` (1-based) of a matrix right (down) by `amount`,
// cyclically; other rows (columns) stay. Messages as the host function gives them.
template <class T>
host::Matrix<T> circularShift(host::Matrix<T> m, long long amount, long long position, bool rows) {
    const std::size_t count = rows ? m.rows() : m.cols();   // rows (or columns) that exist
    const std::size_t length = rows ? m.cols() : m.rows();  // elements along one of them
    if (position < 1 || static_cast<std::size_t>(position) > count)
        throw host::Error(rows ? "Row does not exist" : "Column does not exist");
    if (length == 0) return m;
    const auto len = static_cast<long long>(length);
    const auto shift = static_cast<std::size_t>(((amount % len) + len) % len);
    const std::size_t p = static_cast<std::size_t>(position - 1);
    std::vector<T> line(length);
    for (std::size_t i = 0; i < length; ++i) line[(i + shift) % length] = rows ? m(p, i) : m(i, p);
    for (std::size_t i = 0; i < length; ++i) (rows ? m(p, i) : m(i, p)) = line[i];
    return m;
}

}  // namespace onex
