#pragma once
// I/Q and RF-channel corrections of one signal generator: where its correction file lives
// and the circular filter that applies a correcting FIR to the looping waveform.

#include <string>
#include <string_view>
#include <vector>

#include "host/matrix.h"

namespace mexio {

// 1-based positions at which `pattern` starts in `text`; empty when it never does.
std::vector<std::size_t> strfindpt(std::string_view text, std::string_view pattern);

// The serial number in an *IDN? reply: from the first "US" up to the next comma; empty
// when the reply has no "US" or no comma after it.
std::string GetSerialNumber(std::string_view id);

// Carrier frequency as the correction files name it: whole GHz, ".", tenths rounded half
// away from zero, " GHz" (2.2e9 -> "2.2 GHz", 1.99e9 -> "1.10 GHz").
std::string FormatFreq(double freq);

// Folder of the correction files: BREVIA_CORRECTIONS_DIR, else
// $XDG_DATA_HOME/brevia/corrections, else ~/.local/share/brevia/corrections. A fixed,
// per-user place: a shared temporary folder would let anyone alter the waveform.
std::string correctionsDirectory();

// <folder>/<serial> <frequency>.mat
std::string CreateFileName(std::string_view id, double freq);

// The circular convolution of x with h, advanced by floor(length(h) / 2) samples so that an
// odd linear-phase filter adds no delay. x must hold at least length(h) - 1 samples.
host::ComplexVector circfilt(const host::ComplexVector& x, const host::RealVector& h);

}  // namespace mexio
