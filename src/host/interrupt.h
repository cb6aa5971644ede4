#pragma once
// Stopping long instrument work, and watching it. The window's Cancel button and the command
// line's Ctrl+C ask for a stop; the work, on whatever thread it runs, looks at the request in
// its waits (a tenth of a second at most apart) and ends with a failure that says it was
// cancelled. Meanwhile it says what it is doing (its step, the bytes of a block sent of the
// total) for a progress display on another thread.

#include <cstdint>
#include <string>

namespace host {

void requestInterrupt();
void clearInterrupt();
bool interruptRequested();

struct ProgressState {
    std::string step;
    std::uint64_t done = 0, total = 0;  // bytes of the block being sent; total 0: no block
};
// A new step; its bytes start at none.
void setProgressStep(std::string step);
void setProgressBytes(std::uint64_t done, std::uint64_t total);
ProgressState progressState();
// The bytes of a block as a display shows them ("1.2 MB of 3.9 MB sent"); "" without a block.
std::string bytesSentText(const ProgressState& state);

}  // namespace host
