#pragma once
// The window library, as the core reaches it. Windows need Qt, and Qt costs a headless
// process tens of milliseconds and dozens of libraries before it does anything, so the core
// never links it: the window functions of the function table, the window program and the
// plot pictures load the window library on first need, here, and call through this
// interface. A window library that is missing or does not load is a host error naming it;
// everything headless goes on working.

#include <span>
#include <string>
#include <string_view>

#include "host/function_table.h"

namespace host::window {

// A window function's binding, by its host name.
struct Binding {
    std::string_view name;
    HostFunction entry;
};

// What the window library gives the core. The version changes whenever this layout does, so
// a window library from another build is refused rather than called wrongly.
inline constexpr int kInterfaceVersion = 2;
struct Interface {
    int version = kInterfaceVersion;
    std::span<const Binding> bindings;
    // A figure rendered into a PNG file (of its own size when width or height is 0), and a
    // figure closed; both throw host::Error.
    void (*savePng)(double figure, const std::string& path, int width, int height) = nullptr;
    void (*deleteObject)(double figure) = nullptr;
    // Handles the windows' events until the windows shown when it was called have all gone
    // (closed, deleted or hidden); windows kept hidden for reuse do not hold it.
    void (*runUntilClosed)() = nullptr;
    // Whether windows can be shown on a screen here (a display, not the offscreen platform).
    bool (*displayAvailable)() = nullptr;
};

// The entry point the window library exports under kEntryName.
using Entry = const Interface* (*)();
inline constexpr const char* kEntryName = "breviaWindowInterface";

// The file name of the window library, and where it is looked for: $BREVIA_WINDOW_LIBRARY
// when set (a path), else beside libbrevia, else through the dynamic loader's own search.
std::string libraryFileName();

// Loads the window library once (it stays loaded: Qt does not survive being unloaded) and
// returns its interface. Throws host::Error naming the library and the reason on failure,
// and tries again on the next call.
const Interface& load();

// Calls window function `name` as the function table does.
std::vector<Array> call(std::string_view name, int nargout, Arguments args);

// The window library's side: the window functions' bindings (generated from the function list).
std::span<const Binding> windowBindings();

}  // namespace host::window
