/* The array interface of the host, in C: the subset of the standard MEX array API that
 * the library's C callers and the extension use. An mxArray is a host array; the
 * functions keep the standard names and signatures. */
#ifndef BREVIA_MX_H
#define BREVIA_MX_H

#include <stdbool.h>
#include <stddef.h>

#if defined(_WIN32)
#define BREVIA_API __declspec(dllexport)
#else
#define BREVIA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Host arrays hold double, int8, uint8, int32, char, logical, struct and cell; the other
 * classes exist so that callers can name them, but creating one fails (returns NULL). */
typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

/* Char arrays store one byte per character and logicals one byte holding 0 or 1. */
typedef char mxChar;
typedef bool mxLogical;
typedef double mxDouble;
typedef signed char mxInt8;
typedef unsigned char mxUint8;
typedef int mxInt32;

BREVIA_API mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
BREVIA_API mxArray* mxCreateDoubleScalar(double value);
BREVIA_API mxArray* mxCreateString(const char* text);
BREVIA_API mxArray* mxDuplicateArray(const mxArray* array);
BREVIA_API void mxDestroyArray(mxArray* array);

BREVIA_API double* mxGetPr(const mxArray* array);
BREVIA_API double* mxGetPi(const mxArray* array);
BREVIA_API double mxGetScalar(const mxArray* array);
BREVIA_API mwSize mxGetM(const mxArray* array);
BREVIA_API mwSize mxGetN(const mxArray* array);
BREVIA_API mwSize mxGetNumberOfElements(const mxArray* array);
BREVIA_API bool mxIsComplex(const mxArray* array);
BREVIA_API bool mxIsDouble(const mxArray* array);
BREVIA_API bool mxIsChar(const mxArray* array);
BREVIA_API bool mxIsEmpty(const mxArray* array);
/* --- class and shape ------------------------------------------------------------------ */
BREVIA_API mxClassID mxGetClassID(const mxArray* array);
/* "double", "int8", ... "struct", "cell"; "unknown" for NULL. */
BREVIA_API const char* mxGetClassName(const mxArray* array);
BREVIA_API bool mxIsClass(const mxArray* array, const char* name);
BREVIA_API bool mxIsStruct(const mxArray* array);
BREVIA_API bool mxIsCell(const mxArray* array);
BREVIA_API bool mxIsLogical(const mxArray* array);
BREVIA_API bool mxIsNumeric(const mxArray* array);
BREVIA_API bool mxIsSingle(const mxArray* array);
BREVIA_API bool mxIsInt8(const mxArray* array);
BREVIA_API bool mxIsUint8(const mxArray* array);
BREVIA_API bool mxIsInt16(const mxArray* array);
BREVIA_API bool mxIsUint16(const mxArray* array);
BREVIA_API bool mxIsInt32(const mxArray* array);
BREVIA_API bool mxIsUint32(const mxArray* array);
BREVIA_API bool mxIsInt64(const mxArray* array);
BREVIA_API bool mxIsUint64(const mxArray* array);
BREVIA_API bool mxIsScalar(const mxArray* array);
BREVIA_API bool mxIsLogicalScalar(const mxArray* array);
BREVIA_API bool mxIsLogicalScalarTrue(const mxArray* array);
BREVIA_API size_t mxGetElementSize(const mxArray* array);
BREVIA_API mwSize mxGetNumberOfDimensions(const mxArray* array);

/* --- data ------------------------------------------------------------------------------ */
/* Real (and imaginary) storage of a numeric, char or logical array in its native element
 * type; NULL for NULL, struct, cell, or (mxGetImagData) a real array. */
BREVIA_API void* mxGetData(const mxArray* array);
BREVIA_API void* mxGetImagData(const mxArray* array);
BREVIA_API mxLogical* mxGetLogicals(const mxArray* array);
BREVIA_API mxChar* mxGetChars(const mxArray* array);
/* The text of a char array in a new mxMalloc'd NUL-terminated buffer (mxFree it); NULL
 * when the array is not char. */
BREVIA_API char* mxArrayToString(const mxArray* array);

/* --- creation -------------------------------------------------------------------------- */
BREVIA_API mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity complexity);
/* Two dimensions at most (trailing singleton dimensions are accepted). */
BREVIA_API mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                                         mxComplexity complexity);
BREVIA_API mxArray* mxCreateLogicalScalar(mxLogical value);
BREVIA_API mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n);
BREVIA_API mxArray* mxCreateCharMatrixFromStrings(mwSize m, const char** strings);
BREVIA_API mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames);
BREVIA_API mxArray* mxCreateCellMatrix(mwSize m, mwSize n);

/* --- struct ---------------------------------------------------------------------------- */
/* Field values are owned by the struct: never mxDestroyArray what mxGetField or
 * mxGetFieldByNumber returns. They return NULL for a NULL or non-struct array, a missing
 * field, or an element index past the end. */
BREVIA_API mxArray* mxGetField(const mxArray* array, mwIndex index, const char* fieldname);
BREVIA_API mxArray* mxGetFieldByNumber(const mxArray* array, mwIndex index, int fieldnumber);
BREVIA_API int mxGetNumberOfFields(const mxArray* array);
BREVIA_API const char* mxGetFieldNameByNumber(const mxArray* array, int fieldnumber);
/* -1 when the field is absent or the array is not a struct. */
BREVIA_API int mxGetFieldNumber(const mxArray* array, const char* fieldname);
/* Adds an (empty-valued) field and returns its number; an existing field's number when it is
 * already there; -1 on failure. */
BREVIA_API int mxAddField(mxArray* array, const char* fieldname);
BREVIA_API void mxRemoveField(mxArray* array, int fieldnumber);
/* Stores value in field `fieldname` of element `index`. The struct takes the value over:
 * the value pointer must not be used or destroyed afterwards, and the previous value of
 * that slot is freed by the host (do not destroy it yourself). When the field does not
 * exist (use mxAddField first), the index is out of range or the array is not a struct,
 * nothing is stored and the caller keeps the value. */
BREVIA_API void mxSetField(mxArray* array, mwIndex index, const char* fieldname, mxArray* value);
BREVIA_API void mxSetFieldByNumber(mxArray* array, mwIndex index, int fieldnumber, mxArray* value);

/* --- cell ------------------------------------------------------------------------------ */
/* The same ownership rules as for struct fields. */
BREVIA_API mxArray* mxGetCell(const mxArray* array, mwIndex index);
BREVIA_API void mxSetCell(mxArray* array, mwIndex index, mxArray* value);

/* --- memory and special values --------------------------------------------------------- */
BREVIA_API void* mxMalloc(size_t n);
BREVIA_API void* mxCalloc(size_t n, size_t size);
BREVIA_API void* mxRealloc(void* ptr, size_t size);
BREVIA_API void mxFree(void* ptr);
BREVIA_API double mxGetInf(void);
BREVIA_API double mxGetNaN(void);
BREVIA_API double mxGetEps(void);
BREVIA_API bool mxIsInf(double value);
BREVIA_API bool mxIsNaN(double value);
BREVIA_API bool mxIsFinite(double value);

/* Copies a char array into buf as a NUL-terminated string; returns 0 on success, 1 when
 * the array is not char or the text (with its NUL) does not fit (buf then holds what fits). */
BREVIA_API int mxGetString(const mxArray* array, char* buf, mwSize buflen);

#ifdef __cplusplus
}
#endif

#endif /* BREVIA_MX_H */
