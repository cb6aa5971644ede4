#include "host/exports.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "brevia.h"
#include "host/error.h"
#include "host/lifecycle.h"
#include "host/random.h"

namespace host::exports {

namespace {
thread_local std::string lastError;

// Runs `body`, turning any exception into the last-error text; true on success.
template <class F>
bool guarded(F&& body) {
    try {
        clearLastError();
        body();
        return true;
    } catch (const std::exception& e) {
        setLastError(e.what());
    } catch (...) {
        setLastError("Unknown error.");
    }
    return false;
}
}  // namespace

void setLastError(std::string message) { lastError = std::move(message); }
void clearLastError() { lastError.clear(); }

mxArray* callMlf(const FunctionInfo& info, int nargout, std::initializer_list<mxArray**> outputs,
                 std::initializer_list<mxArray*> inputs, std::va_list* varargin) {
    mxArray* first = nullptr;
    guarded([&] {
        std::vector<const Array*> args;
        for (mxArray* in : inputs) args.push_back(unwrap(in));
        if (varargin)
            while (mxArray* extra = va_arg(*varargin, mxArray*)) args.push_back(unwrap(extra));
        // A trailing null input is an argument not given.
        while (!args.empty() && args.back() == nullptr) args.pop_back();
        if (std::find(args.begin(), args.end(), nullptr) != args.end())
            throw Error(std::string(info.name) + ": an input before the last given one is NULL.");
        // The outputs asked for: the first, and every further one up to the last non-null pointer.
        int requested = nargout;
        int k = 2;
        for (mxArray** out : outputs) {
            if (out) {
                *out = nullptr;
                requested = std::max(requested, k);
            }
            ++k;
        }
        std::vector<Array> results = callFunction(info.name, requested, Arguments(args));
        k = 0;
        for (mxArray** out : outputs) {
            ++k;
            if (out && static_cast<std::size_t>(k) < results.size()) *out = release(std::move(results[k]));
        }
        if (!results.empty()) first = release(std::move(results[0]));
    });
    return first;
}

void callMlx(const FunctionInfo& info, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    guarded([&] {
        if (nlhs > 0 && !plhs) throw Error(std::string(info.name) + ": no output array given.");
        if (nrhs > 0 && !prhs) throw Error(std::string(info.name) + ": no input array given.");
        for (int i = 0; i < nlhs; ++i) plhs[i] = nullptr;
        std::vector<const Array*> args;
        for (int i = 0; i < nrhs; ++i) {
            if (!prhs[i]) throw Error(std::string(info.name) + ": input " + std::to_string(i + 1) + " is NULL.");
            args.push_back(unwrap(prhs[i]));
        }
        std::vector<Array> results = callFunction(info.name, nlhs, Arguments(args));
        const std::size_t n = std::min<std::size_t>(results.size(), static_cast<std::size_t>(std::max(nlhs, 1)));
        for (std::size_t i = 0; i < n && plhs; ++i) plhs[i] = release(std::move(results[i]));
    });
}

}  // namespace host::exports

extern "C" {

bool BreviaInitialize(void) {
    return host::exports::guarded([] { host::initializeLibrary(); });
}

void BreviaTerminate(void) {
    host::exports::guarded([] { host::terminateLibrary(); });
}

const char* BreviaLastError(void) { return host::exports::lastError.c_str(); }

bool BreviaFunctionInfo(const char* name, int* nargin, int* nargout) {
    const host::FunctionInfo* info = name ? host::findFunction(name) : nullptr;
    if (!info) return false;
    if (nargin) *nargin = info->nargin;
    if (nargout) *nargout = info->nargout;
    return true;
}

bool BreviaCallFunction(const char* name, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    const host::FunctionInfo* info = name ? host::findFunction(name) : nullptr;
    if (!info) {
        host::exports::setLastError("Undefined function or variable '" + std::string(name ? name : "") + "'.");
        return false;
    }
    host::exports::callMlx(*info, nlhs, plhs, nrhs, prhs);
    return host::exports::lastError.empty();
}

void BreviaSeedRandom(unsigned long long seed) { host::seedRandom(seed); }

}  // extern "C"
