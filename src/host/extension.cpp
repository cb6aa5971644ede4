#include "host/extension.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "brevia.h"
#include "host/console.h"
#include "host/error.h"
#include "host/exports.h"
#include "host/lifecycle.h"
#include "mex.h"

namespace host {

namespace {

using MexEntry = void (*)(int, mxArray*[], int, const mxArray*[]);
using ExitFunction = void (*)();

class DlHandle {
public:
    explicit DlHandle(void* handle) : handle_(handle) {}
    DlHandle(DlHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    DlHandle(const DlHandle&) = delete;
    DlHandle& operator=(const DlHandle&) = delete;
    DlHandle& operator=(DlHandle&& other) noexcept {
        if (this != &other) {
            if (handle_) dlclose(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~DlHandle() {
        if (handle_) dlclose(handle_);
    }
    void* get() const { return handle_; }

private:
    void* handle_;
};

struct Module {
    std::string name;
    std::string path;
    DlHandle handle;
    MexEntry entry = nullptr;
    // Set by the module through mexAtExit; guarded by the registry's mutex.
    ExitFunction atExit = nullptr;
};

// Calls in flight hold their module, so a module that terminateLibrary drops stays mapped
// until the last of them returns.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Module>, std::less<>> modules;
    // A process that ends without terminateLibrary still unloads its modules as the host
    // does: each exit function runs before its module is unmapped, so that instrument
    // sessions are closed and what the module holds is freed, not left behind in memory
    // that is gone.
    ~Registry();
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The module whose code runs on this thread (mexFunction or its exit function), for mexAtExit.
thread_local Module* current = nullptr;

class CurrentModule {
public:
    explicit CurrentModule(Module* m) : previous_(std::exchange(current, m)) {}
    CurrentModule(const CurrentModule&) = delete;
    CurrentModule& operator=(const CurrentModule&) = delete;
    ~CurrentModule() { current = previous_; }

private:
    Module* previous_;
};

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string dlError() {
    const char* text = dlerror();
    return text ? text : "unknown loader error";
}

std::vector<std::string> searchFolders() {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("BREVIA_EXTENSION_PATH")) {
        const std::string list = env;
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            if (end > start) folders.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    if (std::string dir = libraryDirectory(); !dir.empty()) folders.push_back(std::move(dir));
    return folders;
}

void unload(const std::string& name);

// An extension finds the host's interface (mexErrMsgTxt, mxCreateDoubleMatrix, ...) among the
// symbols loaded globally. A program linked with this library has them there; an interpreter
// that loaded it into a scope of its own (Python's import) has not, so the library makes its
// symbols global once, before the first extension is opened.
void exportHostInterface() {
    static const bool done = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<const void*>(&libraryDirectory), &info) != 0 && info.dli_fname)
            dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);  // the handle stays: the library is in use anyway
        return true;
    }();
    (void)done;
}

std::shared_ptr<Module> open(std::string_view name) {
    // A name, not a path: "../x" or "a/b" must not reach outside the search folders.
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..")
        throw Error("Invalid extension name \"" + std::string(name) + "\".");

    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.modules.find(name); it != r.modules.end()) return it->second;

    exportHostInterface();
    const std::string file = std::string(name) + ".so";
    std::string searched;
    DlHandle handle(nullptr);
    std::string path;
    for (const std::string& folder : searchFolders()) {
        const std::string candidate = folder + "/" + file;
        searched += (searched.empty() ? "" : ", ") + folder;
        if (!isFile(candidate)) continue;
        handle = DlHandle(dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL));
        // A module that is there but does not load is an error to report, not to skip.
        if (!handle.get())
            throw Error("Cannot open extension \"" + std::string(name) + "\" (" + candidate + "): " + dlError());
        path = candidate;
        break;
    }
    if (!handle.get()) {
        handle = DlHandle(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!handle.get()) {
            throw Error("Extension \"" + std::string(name) + "\" not found: no " + file + " in " +
                        (searched.empty() ? std::string("BREVIA_EXTENSION_PATH") : searched) +
                        " nor on the library search path (" + dlError() + ").");
        }
        path = file;
    }

    dlerror();
    void* symbol = dlsym(handle.get(), "mexFunction");
    auto module = std::make_shared<Module>(Module{std::string(name), path, std::move(handle), nullptr, nullptr});
    module->entry = reinterpret_cast<MexEntry>(symbol);
    if (!module->entry)
        throw Error("Extension \"" + std::string(name) + "\" (" + path + ") has no mexFunction.");

    r.modules.emplace(module->name, module);
    // Exit hooks run once, so each opening registers its own closing.
    addExitHook([moduleName = module->name] { unload(moduleName); });
    return module;
}

Registry::~Registry() {
    for (auto& [name, module] : modules) {
        const ExitFunction atExit = std::exchange(module->atExit, nullptr);
        if (!atExit) continue;
        CurrentModule scope(module.get());
        try {
            atExit();
        } catch (...) {
            // The process is ending and its console may be gone: there is nobody to tell.
        }
    }
}

void unload(const std::string& name) {
    std::shared_ptr<Module> module;
    ExitFunction atExit = nullptr;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.modules.find(name);
        if (it == r.modules.end()) return;
        module = std::move(it->second);
        r.modules.erase(it);
        atExit = std::exchange(module->atExit, nullptr);
    }
    if (!atExit) return;
    CurrentModule scope(module.get());
    try {
        atExit();
    } catch (const std::exception& e) {
        // The module is closed regardless; say why its clean-up did not finish.
        warning("Exit function of extension \"" + name + "\" failed: " + e.what());
    } catch (...) {
        warning("Exit function of extension \"" + name + "\" failed.");
    }
}

// Outputs the module has stored; whatever is not handed back is freed, also on error.
class Outputs {
public:
    explicit Outputs(std::size_t n) : plhs_(n, nullptr) {}
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    ~Outputs() {
        for (mxArray* a : plhs_) mxDestroyArray(a);
    }
    mxArray** data() { return plhs_.data(); }
    bool has(std::size_t i) const { return plhs_[i] != nullptr; }
    Array take(std::size_t i) {
        std::unique_ptr<Array> owned(unwrap(std::exchange(plhs_[i], nullptr)));
        return std::move(*owned);
    }

private:
    std::vector<mxArray*> plhs_;
};

std::string formatMessage(const char* format, std::va_list args) {
    if (!format) return {};
    std::va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

}  // namespace

std::string libraryDirectory() {
    // Any address inside the library finds it.
    static const char anchor = 0;
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || !info.dli_fname) return {};
    const std::string file = info.dli_fname;
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

namespace {

std::vector<Array> callModule(std::string_view module, int nlhs, std::vector<const mxArray*> prhs);

}  // namespace

std::vector<Array> mexCallByName(std::string_view module, int nlhs, const std::vector<Array>& args) {
    // The module sees copies, so nothing it does can alter the caller's values.
    return mexCallByName(module, nlhs, std::vector<Array>(args));
}

std::vector<Array> mexCallByName(std::string_view module, int nlhs, std::vector<Array>&& args) {
    std::vector<Array> inputs(std::move(args));
    std::vector<const mxArray*> prhs;
    prhs.reserve(inputs.size());
    for (Array& a : inputs) prhs.push_back(wrap(&a));
    return callModule(module, nlhs, std::move(prhs));
}

std::vector<Array> mexCallByNameReadOnly(std::string_view module, int nlhs, std::span<const Array* const> args) {
    std::vector<const mxArray*> prhs;
    prhs.reserve(args.size());
    for (const Array* a : args) prhs.push_back(wrap(const_cast<Array*>(a)));  // reached only as const mxArray*
    return callModule(module, nlhs, std::move(prhs));
}

namespace {

std::vector<Array> callModule(std::string_view module, int nlhs, std::vector<const mxArray*> prhs) {
    if (nlhs < 0) throw Error("mexCallByName: the number of outputs must not be negative.");
    const std::shared_ptr<Module> m = open(module);

    // One slot even for nlhs == 0: the module may set plhs[0] for ans.
    const std::size_t slots = nlhs > 0 ? static_cast<std::size_t>(nlhs) : 1;
    Outputs outputs(slots);
    {
        CurrentModule scope(m.get());
        try {
            m->entry(nlhs, outputs.data(), static_cast<int>(prhs.size()), prhs.data());
        } catch (const Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Error(e.what());
        } catch (...) {
            throw Error("Extension \"" + m->name + "\" failed with an unknown exception.");
        }
    }

    std::vector<Array> results;
    if (nlhs == 0) {
        if (outputs.has(0)) results.push_back(outputs.take(0));
        return results;
    }
    for (std::size_t i = 0; i < slots; ++i)
        if (!outputs.has(i))
            throw Error("One or more output arguments not assigned during call to \"" + m->name + "\".");
    for (std::size_t i = 0; i < slots; ++i) results.push_back(outputs.take(i));
    return results;
}

}  // namespace

bool extensionLoaded(std::string_view module) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.modules.find(module) != r.modules.end();
}

}  // namespace host

extern "C" {

void mexErrMsgTxt(const char* message) { throw host::Error(message ? message : ""); }

void mexErrMsgIdAndTxt(const char* errorid, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = host::formatMessage(format, args);
    va_end(args);
    throw host::Error(text, errorid ? errorid : "");
}

void mexWarnMsgTxt(const char* message) { host::warning(message ? message : ""); }

void mexWarnMsgIdAndTxt(const char* /*warningid*/, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = host::formatMessage(format, args);
    va_end(args);
    host::warning(text);
}

int mexPrintf(const char* format, ...) {
    if (!format) return 0;
    std::va_list args;
    va_start(args, format);
    const int n = std::vprintf(format, args);
    va_end(args);
    return n;
}

int mexAtExit(void (*exitFcn)(void)) {
    host::Module* m = host::current;
    if (!m) return 1;
    std::lock_guard lock(host::registry().mutex);
    m->atExit = exitFcn;
    return 0;
}

const char* mexFunctionName(void) { return host::current ? host::current->name.c_str() : ""; }

bool BreviaCallExtension(const char* module, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    host::exports::clearLastError();
    try {
        if (!module) throw host::Error("BreviaCallExtension: no extension name.");
        if (nlhs < 0 || nrhs < 0 || (nlhs > 0 && !plhs) || (nrhs > 0 && !prhs))
            throw host::Error("BreviaCallExtension: inconsistent argument counts and arrays.");
        std::vector<host::Array> args;
        args.reserve(static_cast<std::size_t>(nrhs));
        for (int i = 0; i < nrhs; ++i) args.push_back(prhs[i] ? *host::unwrap(prhs[i]) : host::Array());
        std::vector<host::Array> results = host::mexCallByName(module, nlhs, args);
        for (int i = 0; i < nlhs; ++i) plhs[i] = host::release(std::move(results[static_cast<std::size_t>(i)]));
        return true;
    } catch (const std::exception& e) {
        host::exports::setLastError(e.what());
    } catch (...) {
        host::exports::setLastError("Unknown error.");
    }
    return false;
}

}  // extern "C"
