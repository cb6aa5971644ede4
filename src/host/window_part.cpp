#include "host/window_part.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

#include "host/error.h"
#include "host/extension.h"

namespace host::window {

namespace {

struct Loaded {
    std::mutex mutex;
    const Interface* interface = nullptr;
    std::string path;
};

Loaded& state() {
    static Loaded instance;
    return instance;
}

bool isFile(const std::string& path) {
    struct stat s{};
    return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

// Where the window library is opened from: the path the environment names, else the copy
// beside libbrevia, else the bare file name for the dynamic loader's own search.
std::string libraryPath() {
    if (const char* path = std::getenv("BREVIA_WINDOW_LIBRARY"); path && *path) return path;
    if (const std::string dir = libraryDirectory(); !dir.empty()) {
        std::string beside = dir + "/" + libraryFileName();
        if (isFile(beside)) return beside;
    }
    return libraryFileName();
}

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw Error("Windows are not available: the window library " + path + " could not be loaded (" + reason +
                "). Work without windows is not affected.");
}

}  // namespace

std::string libraryFileName() { return BREVIA_WINDOW_LIBRARY_NAME; }

const Interface& load() {
    Loaded& s = state();
    std::lock_guard lock(s.mutex);
    if (s.interface) return *s.interface;

    const std::string path = libraryPath();
    // Never closed: Qt keeps threads and global state that do not survive an unload.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        fail(path, reason ? reason : "unknown loader error");
    }
    dlerror();
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kEntryName));
    if (!entry) fail(path, std::string("it has no entry point ") + kEntryName);
    const Interface* interface = entry();
    if (!interface || interface->version != kInterfaceVersion)
        fail(path, "it is from another build: interface version " + std::to_string(interface ? interface->version : 0) +
                       ", this library needs " + std::to_string(kInterfaceVersion));
    s.interface = interface;
    s.path = path;
    return *interface;
}

std::vector<Array> call(std::string_view name, int nargout, Arguments args) {
    const Interface& part = load();
    for (const Binding& b : part.bindings)
        if (b.name == name) return b.entry(nargout, args);
    throw Error("The window library " + state().path + " has no function " + std::string(name) + ".");
}

}  // namespace host::window
