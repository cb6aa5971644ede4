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
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

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
/* Copies a char array into buf as a NUL-terminated string; returns 0 on success, 1 when
 * the array is not char or the text (with its NUL) does not fit (buf then holds what fits). */
BREVIA_API int mxGetString(const mxArray* array, char* buf, mwSize buflen);

#ifdef __cplusplus
}
#endif

#endif /* BREVIA_MX_H */
