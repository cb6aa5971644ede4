#include "host/function_table.h"

#include <algorithm>
#include <new>

#include "host/error.h"

namespace host {

const FunctionInfo* findFunction(std::string_view name) {
    for (const FunctionInfo& f : functionTable())
        if (f.name == name) return &f;
    return nullptr;
}

std::string argumentCountMessage(std::string_view file, int line, std::string_view kind, int declared) {
    std::string function(file);
    const auto slash = function.rfind('/');
    if (slash != std::string::npos) function = function.substr(slash + 1);
    return "Run-time Error: File: " + std::string(file) + " Line: " + std::to_string(line) +
           " Column: 1 The function \"" + function + "\" was called with more than the declared number of " +
           std::string(kind) + " (" + std::to_string(declared) + ").";
}

void checkArgumentCounts(const FunctionInfo& info, int nargout, int nargin) {
    if (info.nargout >= 0 && nargout > info.nargout)
        throw Error(argumentCountMessage(info.name, info.line, "outputs", info.nargout));
    if (info.nargin >= 0 && nargin > info.nargin)
        throw Error(argumentCountMessage(info.name, info.line, "inputs", info.nargin));
    requireInputs(info.name, static_cast<std::size_t>(std::max(nargin, 0)), static_cast<std::size_t>(std::max(info.minInputs, 0)));
}

std::vector<Array> callFunction(std::string_view name, int nargout, Arguments args) {
    const FunctionInfo* info = findFunction(name);
    if (!info) throw Error("Undefined function or variable '" + std::string(name) + "'.");
    if (nargout < 0) nargout = 0;
    checkArgumentCounts(*info, nargout, static_cast<int>(args.size()));
    std::vector<Array> out;
    try {
        out = info->entry(nargout, args);
    } catch (const std::bad_alloc&) {
        throw Error("Out of memory. " + std::string(name) + " needs more memory than the system can give.");
    }
    if (info->nargout == 0) {
        out.clear();
        return out;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::max(nargout, 1));
    if (out.size() < wanted) {
        // With no output requested the host is content with none (an action called for its effect).
        if (nargout == 0 && out.empty()) return out;
        throw Error("One or more output arguments not assigned during call to '" + std::string(name) + "'.");
    }
    out.resize(wanted);
    return out;
}

std::vector<Array> callFunction(std::string_view name, int nargout, const std::vector<Array>& args) {
    std::vector<const Array*> ptrs;
    ptrs.reserve(args.size());
    for (const Array& a : args) ptrs.push_back(&a);
    return callFunction(name, nargout, Arguments(ptrs));
}

void requireInputs(std::string_view function, std::size_t given, std::size_t needed) {
    if (given < needed)
        throw Error("Not enough input arguments: " + std::string(function) + " needs " + std::to_string(needed) + ", got " +
                    std::to_string(given) + ".");
}

void requireInputs(std::string_view function, Arguments args, std::size_t needed) { requireInputs(function, args.size(), needed); }

}  // namespace host
