#pragma once
// FIR filters fitted to a measured frequency response: freq2fir fits n taps centred on the
// middle tap to a response by least squares; createRealFIR fits the inverse of a measured
// response (the correcting filter of an instrument path).

#include <cstddef>

#include "host/matrix.h"

namespace onex {

using host::ComplexVector;
using host::RealVector;

// n taps (odd) whose response at frequencies F (Hz, sample rate SR) best matches H.
ComplexVector freq2fir(double n, const RealVector& f, const ComplexVector& h, double sr);

// The inverse of the response H measured at F, resampled on 5000 points, as an FIR of at
// least 3 taps (n rounded up to odd).
ComplexVector createRealFIR(double n, const RealVector& f, const ComplexVector& h, double sr);

// Correction filters have 31 taps; far longer fits would take the least squares minutes.
inline constexpr double kMaxInverseFirTaps = 511;

}  // namespace onex
