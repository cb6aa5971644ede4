#include "host/lifecycle.h"

#include <vector>

#include "host/records.h"
#include "host/sample_allocator.h"

namespace host {

namespace {
struct Lifecycle {
    std::vector<std::function<void()>> initializers;
    std::vector<std::function<void()>> exitHooks;
    bool initialized = false;
};

Lifecycle& lifecycle() {
    static Lifecycle instance;
    return instance;
}
}  // namespace

void addInitializer(std::function<void()> builder) { lifecycle().initializers.push_back(std::move(builder)); }
void addExitHook(std::function<void()> hook) { lifecycle().exitHooks.push_back(std::move(hook)); }

void initializeLibrary() {
    Lifecycle& l = lifecycle();
    if (l.initialized) return;
    for (auto& build : l.initializers) build();
    l.initialized = true;
}

void terminateLibrary() {
    Lifecycle& l = lifecycle();
    // Take the hooks first so that a hook that registers another cannot loop forever.
    std::vector<std::function<void()>> hooks;
    hooks.swap(l.exitHooks);
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
        try {
            (*it)();
        } catch (...) {
            // An exit hook that fails must not stop the others from running.
        }
    }
    clearRecords();
    trimSampleCache();
    l.initialized = false;
}

bool libraryInitialized() { return lifecycle().initialized; }

}  // namespace host
