/* Brevia: the 1xEV forward-link signal generator library, C interface.
 *
 * Call BreviaInitialize once before anything else and BreviaTerminate at the end.
 * Every library function has a C form mlfX (inputs as arguments, first output as the
 * result, further outputs through pointer arguments) and a host form mlxX (number of
 * outputs, output array, number of inputs, input array); see brevia_functions.h.
 *
 * Ownership: inputs are borrowed, outputs are new arrays that the caller releases with
 * mxDestroyArray. A trailing NULL input means the argument is not given.
 *
 * Errors: a C form that fails returns NULL (the host form leaves its outputs NULL) and
 * the message of the host error is available from BreviaLastError until the next call
 * on the same thread. */
#ifndef BREVIA_H
#define BREVIA_H

#include "brevia_mx.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Long instrument work (a download, a query waiting for its reply) running on another
 * thread stops within about a tenth of a second of BreviaRequestInterrupt, failing with a
 * message that says it was cancelled; clear the request before the next piece of work.
 * The extension reports the bytes of a block it sends with BreviaReportProgress. */
BREVIA_API void BreviaRequestInterrupt(void);
BREVIA_API void BreviaClearInterrupt(void);
BREVIA_API bool BreviaInterruptPending(void);
BREVIA_API void BreviaReportProgress(double done, double total);

/* Builds the library's constants; returns true on success. Safe to call again. */
BREVIA_API bool BreviaInitialize(void);
/* Runs the exit hooks and releases the constants and application records. */
BREVIA_API void BreviaTerminate(void);

/* Message of the last failed call on this thread, or "" when it succeeded. */
BREVIA_API const char* BreviaLastError(void);

/* The function table: looks a function up by its host name. Returns true and fills the
 * declared counts (-1 for a variable number) when it exists. */
BREVIA_API bool BreviaFunctionInfo(const char* name, int* nargin, int* nargout);
/* Calls a function by name in the host form; returns true on success. */
BREVIA_API bool BreviaCallFunction(const char* name, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);

/* Calls the entry point of extension `module` (opened by name on first use, closed at
 * BreviaTerminate); plhs[0..nlhs-1] receive new arrays for the caller to destroy. Returns
 * true on success; on failure BreviaLastError has the extension's error message. */
BREVIA_API bool BreviaCallExtension(const char* module, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);

/* Seeds the process-wide random generator (idle-slot noise and the like). */
BREVIA_API void BreviaSeedRandom(unsigned long long seed);

#ifdef __cplusplus
}
#endif

#include "brevia_functions.h"

#endif /* BREVIA_H */
