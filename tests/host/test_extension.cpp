// A tiny extension module for the loader tests. prhs[0] names what to do; the environment
// carries what the tests need to see across loads (a static counter restarts with each load).

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "mex.h"

namespace {

void bump(const char* variable) {
    const char* value = std::getenv(variable);
    const int count = value ? std::atoi(value) + 1 : 1;
    setenv(variable, std::to_string(count).c_str(), 1);
}

// Counts loads: runs once each time the loader maps the module.
const bool loaded = (bump("BREVIA_TEST_EXTENSION_LOADS"), true);

int calls = 0;

void exitFirst() { bump("BREVIA_TEST_EXTENSION_EXIT_FIRST"); }
void exitSecond() { bump("BREVIA_TEST_EXTENSION_EXIT_SECOND"); }
// Seen from outside a process that is ending, where the environment is no use.
void exitSay() { std::fputs("test_extension: exit function ran\n", stderr); }

std::string command(int nrhs, const mxArray* prhs[]) {
    char buf[32];
    if (nrhs < 1 || mxGetString(prhs[0], buf, sizeof buf) != 0) mexErrMsgTxt("test_extension: no command.");
    return buf;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)loaded;
    ++calls;
    const std::string what = command(nrhs, prhs);
    if (what == "echo") {
        // Outputs are the inputs after the command; with nlhs 0 the first goes to ans.
        const int n = nlhs > 0 ? nlhs : 1;
        for (int i = 0; i < n && i + 1 < nrhs; ++i) plhs[i] = mxDuplicateArray(prhs[i + 1]);
    } else if (what == "calls") {
        plhs[0] = mxCreateDoubleScalar(calls);
    } else if (what == "error") {
        // An output already made when the error is raised: the host must free it.
        plhs[0] = mxCreateString("made before the error");
        char message[128];
        mxGetString(prhs[1], message, sizeof message);
        mexErrMsgTxt(message);
    } else if (what == "errorid") {
        mexErrMsgIdAndTxt("test:formatted", "value %d out of range for %s", 42, "Amplitude");
    } else if (what == "throw") {
        throw std::runtime_error("thrown by the module");
    } else if (what == "scribble") {
        // Writes into its input the way a careless module might.
        double* data = mxGetPr(prhs[1]);
        if (data) data[0] = -1.0;
        plhs[0] = mxDuplicateArray(prhs[1]);
    } else if (what == "atexit1") {
        if (mexAtExit(exitFirst) != 0) mexErrMsgTxt("mexAtExit refused");
    } else if (what == "atexit2") {
        if (mexAtExit(exitSecond) != 0) mexErrMsgTxt("mexAtExit refused");
    } else if (what == "atexitsay") {
        if (mexAtExit(exitSay) != 0) mexErrMsgTxt("mexAtExit refused");
    } else if (what == "name") {
        plhs[0] = mxCreateString(mexFunctionName());
    } else if (what == "nothing") {
        // Leaves every output unset.
    } else {
        mexErrMsgIdAndTxt("test:unknown", "unknown command '%s'", what.c_str());
    }
}
