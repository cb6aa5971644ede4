// The MEX-style array API over host::Array. Every entry tolerates a null array the way a
// defensive caller expects (null in, null or zero out) instead of crashing.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "brevia_mx.h"
#include "host/array.h"
#include "host/exports.h"

using host::Array;
using host::ClassId;
using host::release;
using host::unwrap;

namespace {

// The host's classes; the standard classes it cannot hold map to nothing.
std::optional<ClassId> hostClass(mxClassID id) {
    switch (id) {
    case mxDOUBLE_CLASS: return ClassId::Double;
    case mxINT8_CLASS: return ClassId::Int8;
    case mxUINT8_CLASS: return ClassId::Uint8;
    case mxINT32_CLASS: return ClassId::Int32;
    case mxCHAR_CLASS: return ClassId::Char;
    case mxLOGICAL_CLASS: return ClassId::Logical;
    case mxSTRUCT_CLASS: return ClassId::Struct;
    case mxCELL_CLASS: return ClassId::Cell;
    default: return std::nullopt;
    }
}

mxClassID standardClass(ClassId id) {
    switch (id) {
    case ClassId::Double: return mxDOUBLE_CLASS;
    case ClassId::Int8: return mxINT8_CLASS;
    case ClassId::Uint8: return mxUINT8_CLASS;
    case ClassId::Int32: return mxINT32_CLASS;
    case ClassId::Char: return mxCHAR_CLASS;
    case ClassId::Logical: return mxLOGICAL_CLASS;
    case ClassId::Struct: return mxSTRUCT_CLASS;
    case ClassId::Cell: return mxCELL_CLASS;
    }
    return mxUNKNOWN_CLASS;
}

bool holdsData(const Array* a) { return a && !a->isStruct() && !a->isCell(); }

// Whether `p` is `root` or lives inside it. Storing an array into one of its own parts, or a
// part of the container into the container, would free storage that is still in use, so
// such calls are refused.
bool contains(const Array& root, const Array* p) {
    if (&root == p) return true;
    if (root.isStruct()) {
        for (std::size_t f = 0; f < root.fieldCount(); ++f)
            for (std::size_t e = 0; e < root.numel(); ++e)
                if (contains(root.fieldAt(static_cast<int>(f), e), p)) return true;
    } else if (root.isCell()) {
        for (std::size_t i = 0; i < root.numel(); ++i)
            if (contains(root.cellAt(i), p)) return true;
    }
    return false;
}

// A struct's field slot for (index, fieldnumber), or null when there is none.
Array* fieldSlot(const mxArray* array, mwIndex index, int fieldnumber) {
    auto* a = const_cast<Array*>(unwrap(array));
    if (!a || !a->isStruct() || index >= a->numel()) return nullptr;
    if (fieldnumber < 0 || static_cast<std::size_t>(fieldnumber) >= a->fieldCount()) return nullptr;
    return &a->fieldAt(fieldnumber, index);
}

Array* cellSlot(const mxArray* array, mwIndex index) {
    auto* a = const_cast<Array*>(unwrap(array));
    if (!a || !a->isCell() || index >= a->numel()) return nullptr;
    return &a->cellAt(index);
}

// Moves `value` into `slot` and frees its wrapper: the container now owns the data.
void adopt(mxArray* container, Array* slot, mxArray* value) {
    if (!slot || !value || contains(*unwrap(container), unwrap(value)) || contains(*unwrap(value), slot)) return;
    *slot = std::move(*unwrap(value));
    delete unwrap(value);
}

mxArray* createNumeric(mwSize m, mwSize n, mxClassID classid, mxComplexity complexity) {
    const std::optional<ClassId> cls = hostClass(classid);
    if (!cls) return nullptr;
    try {
        if (*cls == ClassId::Struct) return release(Array::structure(m, n));
        if (*cls == ClassId::Cell) return release(Array::cell(m, n));
        return release(Array::numeric(*cls, m, n, complexity == mxCOMPLEX));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

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

// --- class and shape --------------------------------------------------------------------

mxClassID mxGetClassID(const mxArray* array) {
    return array ? standardClass(unwrap(array)->classId()) : mxUNKNOWN_CLASS;
}

const char* mxGetClassName(const mxArray* array) {
    // className() views string literals, so the pointer stays valid.
    return array ? unwrap(array)->className().data() : "unknown";
}

bool mxIsClass(const mxArray* array, const char* name) {
    return array && name && unwrap(array)->className() == name;
}

bool mxIsStruct(const mxArray* array) { return array && unwrap(array)->isStruct(); }
bool mxIsCell(const mxArray* array) { return array && unwrap(array)->isCell(); }
bool mxIsLogical(const mxArray* array) { return array && unwrap(array)->isLogical(); }
bool mxIsNumeric(const mxArray* array) { return array && unwrap(array)->isNumeric(); }
bool mxIsInt8(const mxArray* array) { return mxGetClassID(array) == mxINT8_CLASS; }
bool mxIsUint8(const mxArray* array) { return mxGetClassID(array) == mxUINT8_CLASS; }
bool mxIsInt32(const mxArray* array) { return mxGetClassID(array) == mxINT32_CLASS; }
// The host has no arrays of these classes.
bool mxIsSingle(const mxArray*) { return false; }
bool mxIsInt16(const mxArray*) { return false; }
bool mxIsUint16(const mxArray*) { return false; }
bool mxIsUint32(const mxArray*) { return false; }
bool mxIsInt64(const mxArray*) { return false; }
bool mxIsUint64(const mxArray*) { return false; }
bool mxIsScalar(const mxArray* array) { return array && unwrap(array)->isScalar(); }
bool mxIsLogicalScalar(const mxArray* array) { return mxIsLogical(array) && mxIsScalar(array); }
bool mxIsLogicalScalarTrue(const mxArray* array) {
    return mxIsLogicalScalar(array) && unwrap(array)->realAt(0) != 0.0;
}
size_t mxGetElementSize(const mxArray* array) {
    if (!array) return 0;
    // Struct and cell elements are array pointers in the standard API.
    return holdsData(unwrap(array)) ? unwrap(array)->elementSize() : sizeof(mxArray*);
}
mwSize mxGetNumberOfDimensions(const mxArray* array) { return array ? 2 : 0; }

// --- data -------------------------------------------------------------------------------

void* mxGetData(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!holdsData(a) || a->isEmpty()) return nullptr;
    return const_cast<void*>(a->realData());
}

void* mxGetImagData(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!holdsData(a)) return nullptr;
    return const_cast<void*>(a->imagData());
}

mxLogical* mxGetLogicals(const mxArray* array) {
    return mxIsLogical(array) ? static_cast<mxLogical*>(mxGetData(array)) : nullptr;
}

mxChar* mxGetChars(const mxArray* array) {
    return mxIsChar(array) ? static_cast<mxChar*>(mxGetData(array)) : nullptr;
}

char* mxArrayToString(const mxArray* array) {
    const Array* a = unwrap(array);
    if (!a || !a->isChar()) return nullptr;
    const std::string text = a->text();
    auto* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (!out) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

// --- creation ---------------------------------------------------------------------------

mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity complexity) {
    // Only numeric classes here; char, logical, struct and cell have their own creators.
    const std::optional<ClassId> cls = hostClass(classid);
    if (!cls || (*cls != ClassId::Double && *cls != ClassId::Int8 && *cls != ClassId::Uint8 &&
                 *cls != ClassId::Int32))
        return nullptr;
    return createNumeric(m, n, classid, complexity);
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid, mxComplexity complexity) {
    if (ndim > 0 && !dims) return nullptr;
    for (mwSize k = 2; k < ndim; ++k)
        if (dims[k] != 1) return nullptr;
    const mwSize m = ndim > 0 ? dims[0] : 0;
    const mwSize n = ndim > 1 ? dims[1] : (ndim == 1 ? 1 : 0);
    return mxCreateNumericMatrix(m, n, classid, complexity);
}

mxArray* mxCreateLogicalScalar(mxLogical value) {
    try {
        return release(Array::logicalScalar(value));
    } catch (...) {
        return nullptr;
    }
}

mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n) { return createNumeric(m, n, mxLOGICAL_CLASS, mxREAL); }

mxArray* mxCreateCharMatrixFromStrings(mwSize m, const char** strings) {
    if (m > 0 && !strings) return nullptr;
    std::size_t width = 0;
    for (mwSize r = 0; r < m; ++r) width = std::max(width, strings[r] ? std::strlen(strings[r]) : 0);
    mxArray* out = createNumeric(m, width, mxCHAR_CLASS, mxREAL);
    if (!out) return nullptr;
    // Rows shorter than the longest are padded with blanks, column-major like all data.
    auto* data = static_cast<char*>(mxGetData(out));
    for (mwSize r = 0; r < m; ++r) {
        const std::size_t len = strings[r] ? std::strlen(strings[r]) : 0;
        for (std::size_t c = 0; c < width; ++c) data[c * m + r] = c < len ? strings[r][c] : ' ';
    }
    return out;
}

mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames) {
    if (nfields < 0 || (nfields > 0 && !fieldnames)) return nullptr;
    try {
        Array s = Array::structure(m, n);
        for (int f = 0; f < nfields; ++f) {
            if (!fieldnames[f] || !*fieldnames[f]) return nullptr;
            s.addField(fieldnames[f]);
        }
        return release(std::move(s));
    } catch (...) {
        return nullptr;
    }
}

mxArray* mxCreateCellMatrix(mwSize m, mwSize n) { return createNumeric(m, n, mxCELL_CLASS, mxREAL); }

// --- struct -----------------------------------------------------------------------------

int mxGetNumberOfFields(const mxArray* array) {
    return mxIsStruct(array) ? static_cast<int>(unwrap(array)->fieldCount()) : 0;
}

const char* mxGetFieldNameByNumber(const mxArray* array, int fieldnumber) {
    if (!mxIsStruct(array) || fieldnumber < 0 || fieldnumber >= mxGetNumberOfFields(array)) return nullptr;
    return unwrap(array)->fieldNames()[static_cast<std::size_t>(fieldnumber)].c_str();
}

int mxGetFieldNumber(const mxArray* array, const char* fieldname) {
    if (!mxIsStruct(array) || !fieldname) return -1;
    return unwrap(array)->fieldIndex(fieldname);
}

mxArray* mxGetFieldByNumber(const mxArray* array, mwIndex index, int fieldnumber) {
    return host::wrap(fieldSlot(array, index, fieldnumber));
}

mxArray* mxGetField(const mxArray* array, mwIndex index, const char* fieldname) {
    return mxGetFieldByNumber(array, index, mxGetFieldNumber(array, fieldname));
}

int mxAddField(mxArray* array, const char* fieldname) {
    if (!mxIsStruct(array) || !fieldname || !*fieldname) return -1;
    try {
        return unwrap(array)->addField(fieldname);
    } catch (...) {
        return -1;
    }
}

void mxRemoveField(mxArray* array, int fieldnumber) {
    const char* name = mxGetFieldNameByNumber(array, fieldnumber);
    if (!name) return;
    try {
        unwrap(array)->removeField(std::string(name));
    } catch (...) {
        // Nothing removed; the array is unchanged.
    }
}

void mxSetFieldByNumber(mxArray* array, mwIndex index, int fieldnumber, mxArray* value) {
    adopt(array, fieldSlot(array, index, fieldnumber), value);
}

void mxSetField(mxArray* array, mwIndex index, const char* fieldname, mxArray* value) {
    mxSetFieldByNumber(array, index, mxGetFieldNumber(array, fieldname), value);
}

// --- cell -------------------------------------------------------------------------------

mxArray* mxGetCell(const mxArray* array, mwIndex index) { return host::wrap(cellSlot(array, index)); }

void mxSetCell(mxArray* array, mwIndex index, mxArray* value) { adopt(array, cellSlot(array, index), value); }

// --- memory and special values ------------------------------------------------------------

// Plain C heap: memory from these outlives the call that made it (the host does not free it
// behind the caller's back), so callers free what they allocate.
void* mxMalloc(size_t n) { return std::malloc(n ? n : 1); }
void* mxCalloc(size_t n, size_t size) { return std::calloc(n ? n : 1, size ? size : 1); }
void* mxRealloc(void* ptr, size_t size) { return std::realloc(ptr, size ? size : 1); }
void mxFree(void* ptr) { std::free(ptr); }

double mxGetInf(void) { return std::numeric_limits<double>::infinity(); }
double mxGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }
double mxGetEps(void) { return std::numeric_limits<double>::epsilon(); }
bool mxIsInf(double value) { return std::isinf(value); }
bool mxIsNaN(double value) { return std::isnan(value); }
bool mxIsFinite(double value) { return std::isfinite(value); }

}  // extern "C"
