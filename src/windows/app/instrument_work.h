#pragma once
// Instrument work off the window's thread. A download to an instrument that never answers,
// or an RS-232 transfer of minutes, must not freeze the window: the work runs on a second
// thread while the window thread keeps painting and shows the modal progress window
// "Instrument" (the step, the bytes of a block sent of the total, Cancel; Escape and the
// window's frame are Cancel too). Cancel asks the work to stop; it ends within a second with
// a failure that says so. Only the window thread touches the application's records: the
// work gets copies and hands back its result. A question the work asks (the long RS-232
// transfer) is shown on the window thread.

#include <functional>

class QWidget;

namespace windows::app {

// Runs `work` to its end as above; returns when it has ended. Exceptions from the work
// reach the caller.
void runInstrumentWork(const std::function<void()>& work);

// The progress window while it is up (for tests), else nullptr.
QWidget* instrumentProgressWindow();

}  // namespace windows::app
