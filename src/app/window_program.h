#pragma once
// onexfwd without a sub-command: the application's window.

#include <ostream>

namespace app {

// Whether there is a screen to show windows on: a display named in the environment and Qt
// not told to draw offscreen. Decided without loading the window library.
bool displayPresent();

// Starts the application (its splash, then the main window) and handles its events until
// the main window has closed; returns the exit status. Without a display it says so in one
// line and returns 2.
int runWindowProgram(std::ostream& err);

}  // namespace app
