#pragma once
// What the main window's packet controls show, worked out without a display: the DRC list as
// an engineer reads the rates, and the waveform's length with the frames it really has.

#include <string>
#include <vector>

#include "host/array.h"

namespace ui {

// "1: 38.4 kbps, 16 slots, QPSK, preamble 1024" ... "12: 2457.6 kbps, 1 slot, 16-QAM, preamble 64".
std::vector<std::string> drcListItems();

// "163840 Samples", or with the frames when there are several ("655360 Samples (4 frames)"):
// the frame count raised in packet mode to whole packets on every interlace.
std::string waveformLengthText(const host::Array& parameters);

}  // namespace ui
