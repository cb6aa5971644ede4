#pragma once
// Library start and end: constants that modules build once (BreviaInitialize) and the
// exit hooks that run at BreviaTerminate (the extension's mexAtExit among them).

#include <functional>

namespace host {

// Registers a constant builder; run by initializeLibrary in registration order.
// Modules register from a static object, so builders must not depend on each other's order.
void addInitializer(std::function<void()> builder);
// Registers an exit hook; hooks run once, most recent first, at terminateLibrary.
void addExitHook(std::function<void()> hook);

void initializeLibrary();
void terminateLibrary();
bool libraryInitialized();

}  // namespace host
