#pragma once
// What the program the transports run in may offer beyond the MEX interface: a request to
// stop long work (its user pressed Cancel or Ctrl+C), and a place to report how much of a
// block has been sent. The extension module finds them in its host when it is loaded; a host
// without them (GNU Octave), or a program that sets none, never stops and sees no progress.

#include <cstddef>

namespace vesk {

using InterruptQuery = bool (*)();
using ProgressReport = void (*)(double done, double total);
void setHostHooks(InterruptQuery pending, ProgressReport progress);

bool interruptPending();
void reportProgress(std::size_t done, std::size_t total);

// The status text of work stopped on request.
inline constexpr const char* kCancelledText = "The work was cancelled";

}  // namespace vesk
