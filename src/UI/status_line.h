#pragma once
// The texts of the main window's status line: what happened last, when, and how it went, each
// on one line (a message of several lines is joined), so that a glance at the window's foot
// answers "did that work?" without a box or the console.

#include <ctime>
#include <string>
#include <string_view>

namespace ui::status {

// `what` at the local time `at`, then the text on one line: "Download at 15:13:10: Waveform
// has been successfully transferred to the instrument". Line breaks and tabs become spaces,
// runs of them one; an empty text leaves just "Download at 15:13:10".
std::string line(std::string_view what, std::time_t at, std::string_view text);

// A calculation: "Calculated at 15:12:03 in 0.21 s: 196608 samples".
std::string calculation(std::time_t at, double seconds, std::size_t samples);

}  // namespace ui::status
