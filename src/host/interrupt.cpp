#include "host/interrupt.h"

#include <atomic>
#include <mutex>

#include "brevia.h"
#include "host/text.h"

namespace host {

namespace {

// Set from a signal handler too: a lock-free atomic is what such a handler may touch.
std::atomic<bool> interrupt{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::mutex progressMutex;
ProgressState progressNow;

}  // namespace

void requestInterrupt() { interrupt.store(true); }
void clearInterrupt() { interrupt.store(false); }
bool interruptRequested() { return interrupt.load(); }

void setProgressStep(std::string step) {
    const std::lock_guard lock(progressMutex);
    progressNow = {std::move(step), 0, 0};
}

void setProgressBytes(std::uint64_t done, std::uint64_t total) {
    const std::lock_guard lock(progressMutex);
    progressNow.done = done;
    progressNow.total = total;
}

ProgressState progressState() {
    const std::lock_guard lock(progressMutex);
    return progressNow;
}

namespace {

std::string byteCount(std::uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (b >= 1e6) return fixedText(b / 1e6, 1) + " MB";
    if (b >= 1e3) return fixedText(b / 1e3, 1) + " kB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string bytesSentText(const ProgressState& state) {
    if (state.total == 0) return {};
    return byteCount(state.done) + " of " + byteCount(state.total) + " sent";
}

}  // namespace host

extern "C" {

void BreviaRequestInterrupt(void) { host::requestInterrupt(); }
void BreviaClearInterrupt(void) { host::clearInterrupt(); }
bool BreviaInterruptPending(void) { return host::interruptRequested(); }

void BreviaReportProgress(double done, double total) {
    if (done >= 0 && total >= 0) host::setProgressBytes(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
}

}
