#include "ext/host_hooks.h"

#include <atomic>

namespace vesk {

namespace {

std::atomic<InterruptQuery> pendingHook{nullptr};
std::atomic<ProgressReport> progressHook{nullptr};

}  // namespace

void setHostHooks(InterruptQuery pending, ProgressReport progress) {
    pendingHook.store(pending);
    progressHook.store(progress);
}

bool interruptPending() {
    const InterruptQuery q = pendingHook.load();
    return q && q();
}

void reportProgress(std::size_t done, std::size_t total) {
    if (const ProgressReport r = progressHook.load()) r(static_cast<double>(done), static_cast<double>(total));
}

}  // namespace vesk
