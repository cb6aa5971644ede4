#pragma once
// Oversampling and baseband filtering of a chip frame. The frame loops endlessly on the
// signal generator, so every filter here is circular: the end of the frame feeds the start
// of the filter and the filter delay is taken out by a cyclic rotation.

#include <cstddef>
#include <string_view>

#include "host/matrix.h"

namespace onex {

using host::Complex;
using host::ComplexVector;
using host::RealVector;

inline constexpr double kPassbandEdgeHz = 590000.0;
inline constexpr double kStopbandEdgeHz = 740000.0;
inline constexpr int kMaxDesignOversampling = 64;

enum class BasebandFilterChoice { Rectangular = 1, Standard = 2, Acp = 3, Evm = 4 };

// 1 rectangular, 3 ACP, 4 EVM, any other number the standard filter.
BasebandFilterChoice basebandFilterChoice(double filterType);
// "IS95-STD", "IS95-ACP", "IS95-EVM"; any other text is rectangular.
BasebandFilterChoice basebandFilterChoice(std::string_view key);

// Each value followed by n - 1 zeros.
template <class V>
V upsample(const V& x, std::size_t n) {
    V out(x.size() * n, typename V::value_type{});
    for (std::size_t k = 0; k < x.size(); ++k) out[k * n] = x[k];
    return out;
}

// Each value held for `ratio` samples.
RealVector upsampleMarker(const RealVector& in, std::size_t ratio);

// The equiripple designs, cached per oversampling ratio (2 ... 64):
// the standard filter, 12 x OS taps, and the ACP filter, 26 x OS taps (the standard filter
// convolved with a 14 x OS + 1 tap design of unit DC gain whose stopband falls from 0.005
// to 0.001).
const RealVector& FilterCoeff_IS95_Std(int oversampling);
const RealVector& FilterCoeff_IS95_Acp(int oversampling);
// The second factor of the ACP design alone, normalised to unit DC gain.
const RealVector& acpShapingFactor(int oversampling);

// out[k] = sum_j h[j] x[(k + advance - j) mod N]: a circular FIR whose output is advanced
// by `advance` samples. When every sample off the multiples of `stuffing` is zero, only
// the non-zero samples are touched.
ComplexVector circularFir(const ComplexVector& x, const RealVector& h, std::size_t advance, std::size_t stuffing = 1);

// The same for x zero-stuffed by p, given only its chips (every p-th sample): n = chips x p.
ComplexVector circularFirChips(const Complex* chips, std::size_t count, std::size_t p, const RealVector& h,
                               std::size_t advance);

// Samples kept as the host's arrays keep them: real and imaginary parts apart.
struct SplitSamples {
    double* re;
    double* im;
    std::size_t size;
};

// The baseband filter of a zero-stuffed frame at `oversampling` samples per chip.
ComplexVector OneX_BasebandFilter(const ComplexVector& frame, int oversampling, BasebandFilterChoice choice);
// The same for the frame given as its chips, without building the zero-stuffed frame.
ComplexVector basebandFilterChips(const ComplexVector& chips, int oversampling, BasebandFilterChoice choice);
// The same written into `out` (chips x oversampling samples, zero where the filter puts
// nothing), for a frame that goes straight into a host array.
void basebandFilterChipsInto(const ComplexVector& chips, int oversampling, BasebandFilterChoice choice, SplitSamples out);

}  // namespace onex
