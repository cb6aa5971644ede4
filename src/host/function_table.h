#pragma once
// The library's function table: every function callable by name, with its declared
// numbers of inputs and outputs (-1 for a variable number) and the line of its
// declaration, which the argument-count message names.
//
// The table itself is generated at build time from src/functions.def, together with the
// exported C forms mlfX / mlxX; each function family provides the binding
// `brevia::bind::<name>` that converts host arrays to typed arguments and back.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"

namespace host {

// Arguments as the host passes them: borrowed, in order, never null.
using Arguments = std::span<const Array* const>;
// A binding returns its outputs in order; it may return more than were asked for and
// must return at least max(nargout, 1) unless the function declares no outputs.
using HostFunction = std::vector<Array> (*)(int nargout, Arguments args);

struct FunctionInfo {
    std::string_view name;          // host-level name, e.g. "OneX_Repeat", "lfsr"
    std::string_view exportedName;  // C suffix after mlf/mlx, e.g. "OneX_Repeat", "Lfsr"
    int nargin;                     // declared inputs, -1 for a variable number
    int nargout;                    // declared outputs, -1 for a variable number
    int line;                       // line of the declaration in its module
    HostFunction entry;
    int minInputs = 0;              // inputs a call must give (functions.def states them)
};

// Every registered function, in registration order.
std::span<const FunctionInfo> functionTable();
const FunctionInfo* findFunction(std::string_view name);

// "Run-time Error: File: X Line: N Column: 1 The function \"X\" was called with more
// than the declared number of inputs (K)." (or outputs). `file` is the module, or module
// and local function joined by a slash.
std::string argumentCountMessage(std::string_view file, int line, std::string_view kind, int declared);
// Throws that message when the call asks for more outputs or passes more inputs than
// declared; outputs are checked first.
void checkArgumentCounts(const FunctionInfo& info, int nargout, int nargin);

// Calls a function by name as the host does: argument counts checked, every outputs
// requested delivered or "One or more output arguments not assigned ..." raised.
// Returns exactly max(nargout, 1) outputs (none for a function that declares none).
std::vector<Array> callFunction(std::string_view name, int nargout, Arguments args);
std::vector<Array> callFunction(std::string_view name, int nargout, const std::vector<Array>& args);

// Helpers for bindings.
// Throws "Not enough input arguments." naming the function when fewer than `needed`.
void requireInputs(std::string_view function, Arguments args, std::size_t needed);
void requireInputs(std::string_view function, std::size_t given, std::size_t needed);

}  // namespace host
