#pragma once
// Export of a waveform as a headerless file of interleaved I/Q samples in the signal
// generator's own format (signed 16-bit, high byte first), for transfer by other means.

#include <string>

#include "host/array.h"
#include "host/matrix.h"

namespace mexio {

// std::round (halves away from zero), equal for every double (a zero may lose its sign), without the library call
// and without a branch on the value's fraction (a coin toss on samples).
double roundHalfAway(double v);

// The file name used when none is given.
inline constexpr const char* kDefaultBrindleFile = "Orvex-C";

// Scales the waveform so that its largest I or Q magnitude becomes 32766 x scale (scale
// limited to 1e-5 .. 1; an all-zero waveform stays zero), rounds half away from zero and
// writes the file. Returns true when the whole file was written; a failure leaves any
// earlier file of that name as it was and, when `failure` is given, says why there.
bool saveBrindleWaveform(const host::ComplexVector& waveform, const std::string& path, double scale,
                         std::string* failure = nullptr);
// The same from a numeric host array of doubles (its samples in order), read where it is.
bool saveBrindleWaveform(const host::Array& waveform, const std::string& path, double scale, std::string* failure = nullptr);

}  // namespace mexio
