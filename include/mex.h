/* The extension interface of the host: the standard MEX entry point and services, with the
 * standard names and signatures, over the host's arrays (brevia_mx.h).
 *
 * An extension module is a shared object with one exported entry point, mexFunction. The
 * host opens it by name, calls mexFunction with its inputs in prhs (owned by the host, never
 * modify or destroy them) and takes over whatever the module leaves in plhs[0..nlhs-1]
 * (plhs[0] may be set even when nlhs is 0, for the host's ans).
 *
 * Errors: mexErrMsgTxt and mexErrMsgIdAndTxt do not return. In this host they throw a C++
 * exception that unwinds through mexFunction to the caller, so an extension must be C++ built
 * with exceptions, must not catch (...) around them without rethrowing, and must hold its
 * resources in RAII objects: anything held only by a raw pointer on that path leaks. Arrays
 * already stored in plhs are freed by the host. */
#ifndef BREVIA_MEX_H
#define BREVIA_MEX_H

#include "brevia_mx.h"

#if defined(__cplusplus)
#define BREVIA_NORETURN [[noreturn]]
#else
#define BREVIA_NORETURN _Noreturn
#endif

#if defined(__GNUC__)
#define BREVIA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BREVIA_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The entry point each extension module defines. */
BREVIA_API void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

/* Raises a host error with this message for the caller of the extension. */
BREVIA_NORETURN BREVIA_API void mexErrMsgTxt(const char* message);
/* Raises a host error with identifier `errorid` and the printf-formatted message. */
BREVIA_NORETURN BREVIA_API void mexErrMsgIdAndTxt(const char* errorid, const char* format, ...)
    BREVIA_PRINTF(2, 3);
/* Prints "Warning: <message>" on the host's console (stderr) and returns. */
BREVIA_API void mexWarnMsgTxt(const char* message);
BREVIA_API void mexWarnMsgIdAndTxt(const char* warningid, const char* format, ...) BREVIA_PRINTF(2, 3);
/* printf to the host's console (stdout); returns the number of characters written. */
BREVIA_API int mexPrintf(const char* format, ...) BREVIA_PRINTF(1, 2);

/* Registers the function the host calls before it unloads the module (at BreviaTerminate).
 * One per module: a later registration replaces the earlier. Returns 0 on success, 1 when
 * called outside a call of mexFunction. */
BREVIA_API int mexAtExit(void (*exitFcn)(void));
/* The name of the module being called ("vesk"); "" outside a call. */
BREVIA_API const char* mexFunctionName(void);

#ifdef __cplusplus
}
#endif

#endif /* BREVIA_MEX_H */
