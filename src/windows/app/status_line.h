#pragma once
// The main window's status line: the last calculation, the last file written, the last
// instrument result and the last error an action ended with, each in its own part (texts
// from UI/status_line.h). A part with nothing to say is hidden.

#include <string>

namespace windows::app {

enum class StatusPart { Calculation, File, Instrument, Error };

// Shows `text` in its part, the whole of it as the part's tooltip too (the part may be too
// narrow); "" hides the part. Does nothing while there is no main window.
void showStatus(StatusPart part, const std::string& text);

// The same with the current time: "<what> at 15:13:10: <text>".
void showStatusNow(StatusPart part, const std::string& what, const std::string& text);

}  // namespace windows::app
