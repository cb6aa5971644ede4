#pragma once
// Support for the generated C forms: conversion of the C calling conventions into a call
// through the function table, with host errors turned into a NULL result and a message
// that BreviaLastError returns. Nothing here lets an exception cross into C.

#include <cstdarg>
#include <initializer_list>
#include <string>

#include "brevia_mx.h"
#include "host/function_table.h"

namespace host::exports {

// mlfX: `outputs` holds pointers for outputs 2..n (null = not requested), `inputs` the
// inputs in order; trailing null inputs are not passed. Returns output 1 or null.
mxArray* callMlf(const FunctionInfo& info, int nargout, std::initializer_list<mxArray**> outputs,
                 std::initializer_list<mxArray*> inputs, std::va_list* varargin = nullptr);
// mlxX: the host form.
void callMlx(const FunctionInfo& info, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);

void setLastError(std::string message);
void clearLastError();

}  // namespace host::exports

namespace host {
inline Array* unwrap(mxArray* a) { return reinterpret_cast<Array*>(a); }
inline const Array* unwrap(const mxArray* a) { return reinterpret_cast<const Array*>(a); }
inline mxArray* wrap(Array* a) { return reinterpret_cast<mxArray*>(a); }
// Moves a value onto the heap as a new mxArray owned by the caller.
inline mxArray* release(Array&& a) { return wrap(new Array(std::move(a))); }
}  // namespace host
