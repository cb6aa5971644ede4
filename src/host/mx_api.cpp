// The MEX-style array API over host::Array. Every entry tolerates a null array the way a
// defensive caller expects (null in, null or zero out) instead of crashing.

#include <algorithm>
#include <cstring>
#include <string>
#include <new>

#include "brevia_mx.h"
#include "host/array.h"
#include "host/exports.h"

using host::Array;
using host::release;
using host::unwrap;

extern "C" {

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
    try {
        return release(Array::numeric(host::ClassId::Double, m, n, complexity == mxCOMPLEX));
    } catch (...) {
        return nullptr;
    }
}

mxArray* mxCreateDoubleScalar(double value) {
    try {
        return release(Array::scalar(value));
    } catch (...) {
        return nullptr;
    }
}

mxArray* mxCreateString(const char* text) {
    try {
        return release(Array::string(text ? text : ""));
    } catch (...) {
        return nullptr;
    }
}

mxArray* mxDuplicateArray(const mxArray* array) {
    if (!array) return nullptr;
    try {
        return release(Array(*unwrap(array)));
    } catch (...) {
        return nullptr;
    }
}

void mxDestroyArray(mxArray* array) { delete unwrap(array); }

double* mxGetPr(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!a || !a->isDouble()) return nullptr;
    return const_cast<double*>(a->pr());
}

double* mxGetPi(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!a || !a->isDouble()) return nullptr;
    return const_cast<double*>(a->pi());
}

double mxGetScalar(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!a || a->isEmpty() || a->isStruct() || a->isCell()) return 0.0;
    return a->realAt(0);
}

mwSize mxGetM(const mxArray* array) { return array ? unwrap(array)->rows() : 0; }
mwSize mxGetN(const mxArray* array) { return array ? unwrap(array)->cols() : 0; }
mwSize mxGetNumberOfElements(const mxArray* array) { return array ? unwrap(array)->numel() : 0; }
bool mxIsComplex(const mxArray* array) { return array && unwrap(array)->isComplex(); }
bool mxIsDouble(const mxArray* array) { return array && unwrap(array)->isDouble(); }
bool mxIsChar(const mxArray* array) { return array && unwrap(array)->isChar(); }
bool mxIsEmpty(const mxArray* array) { return !array || unwrap(array)->isEmpty(); }

int mxGetString(const mxArray* array, char* buf, mwSize buflen) {
    if (!buf || buflen == 0) return 1;
    buf[0] = '\0';
    const Array* a = unwrap(array);
    if (!a || !a->isChar()) return 1;
    const std::string text = a->text();
    const std::size_t n = std::min<std::size_t>(text.size(), buflen - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return n == text.size() ? 0 : 1;
}

}  // extern "C"
