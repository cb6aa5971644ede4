/* Calls the library from C through brevia.h, as a C host program would. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "brevia.h"

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                                      \
    do {                                                                 \
        ++checks;                                                        \
        if (!(cond)) {                                                   \
            ++failures;                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                \
    } while (0)

static mxArray* row(const double* values, size_t n) {
    mxArray* a = mxCreateDoubleMatrix(1, n, mxREAL);
    memcpy(mxGetPr(a), values, n * sizeof(double));
    return a;
}

int main(void) {
    CHECK(BreviaInitialize());

    /* mlf form: OneX_Repeat([1 2 3], 2) */
    const double v[] = {1, 2, 3};
    mxArray* input = row(v, 3);
    mxArray* two = mxCreateDoubleScalar(2);
    mxArray* repeated = mlfOneX_Repeat(input, two);
    CHECK(repeated != NULL);
    if (repeated) {
        CHECK(mxGetM(repeated) == 1 && mxGetN(repeated) == 6);
        CHECK(mxGetPr(repeated)[3] == 1 && mxGetPr(repeated)[5] == 3);
        mxDestroyArray(repeated);
    }

    /* mlf form: the 64 x 64 Walsh matrix, row 33 is 32 x +1 then 32 x -1 */
    mxArray* order = mxCreateDoubleScalar(64);
    mxArray* walsh = mlfOneX_WalshMatrix(order);
    CHECK(walsh != NULL && mxGetM(walsh) == 64 && mxGetN(walsh) == 64);
    if (walsh) {
        const double* w = mxGetPr(walsh);
        CHECK(w[0 * 64 + 32] == 1 && w[31 * 64 + 32] == 1 && w[32 * 64 + 32] == -1 && w[63 * 64 + 32] == -1);
        mxDestroyArray(walsh);
    }

    /* mlx form: the PN I sequence starts with fifteen 0s and a 1 */
    mxArray* reps = mxCreateDoubleScalar(1);
    mxArray* out[1] = {NULL};
    mxArray* in[3] = {reps, NULL, NULL};
    mlxOneX_PNiSequence(1, out, 1, in);
    CHECK(out[0] != NULL && mxGetN(out[0]) == 32768);
    if (out[0]) {
        const double* pn = mxGetPr(out[0]);
        int zeros = 0;
        for (int k = 0; k < 15; ++k) zeros += pn[k] == 0;
        CHECK(zeros == 15 && pn[15] == 1);
        mxDestroyArray(out[0]);
    }

    /* mlx form with a surplus input: the host's argument-count error, no output */
    in[0] = input;
    in[1] = two;
    in[2] = two;
    out[0] = NULL;
    mlxOneX_FwdTrfModulator(1, out, 3, in);
    CHECK(out[0] == NULL);
    CHECK(strcmp(BreviaLastError(),
                 "Run-time Error: File: OneX_FwdTrfModulator Line: 1 Column: 1 The function "
                 "\"OneX_FwdTrfModulator\" was called with more than the declared number of inputs (2).") == 0);

    /* an unknown modulation code is a host error with a clear message */
    mxArray* code = mxCreateDoubleScalar(5);
    mxArray* symbols = mlfOneX_FwdTrfModulator(input, code);
    CHECK(symbols == NULL);
    CHECK(strstr(BreviaLastError(), "unknown modulation code 5") != NULL);

    /* a 16-QAM symbol: bits 0 1 1 0 -> (-3 + j) / sqrt(10) */
    const double bits[] = {0, 1, 1, 0};
    mxArray* b = row(bits, 4);
    mxArray* three = mxCreateDoubleScalar(3);
    mxArray* iq = mlfOneX_IQmap(b, three);
    CHECK(iq != NULL && mxIsComplex(iq));
    if (iq) {
        CHECK(fabs(mxGetPr(iq)[0] + 3 / sqrt(10.0)) < 1e-15 && fabs(mxGetPi(iq)[0] - 1 / sqrt(10.0)) < 1e-15);
        mxDestroyArray(iq);
    }

    /* the waveform from a record naming only what differs: packets at DRC 2 need two frames */
    const char* fields[] = {"DATAchnActive", "DATApacketMode", "DATApacketDRC", "OverSampling"};
    mxArray* p = mxCreateStructMatrix(1, 1, 4, fields);
    mxSetField(p, 0, "DATAchnActive", mxCreateDoubleScalar(1));
    mxSetField(p, 0, "DATApacketMode", mxCreateDoubleScalar(1));
    mxSetField(p, 0, "DATApacketDRC", mxCreateDoubleScalar(2));
    mxSetField(p, 0, "OverSampling", mxCreateDoubleScalar(2));
    mxArray* frames[2] = {NULL, NULL};
    mxArray* record[1] = {p};
    mlxOneX_FwdChnFrames(2, frames, 1, record);
    CHECK(frames[0] != NULL && mxGetN(frames[0]) == 2 * 2 * 32768 && mxIsComplex(frames[0]));
    CHECK(frames[1] != NULL && mxGetM(frames[1]) == 2 && mxGetN(frames[1]) == 2 * 2 * 32768);
    mxDestroyArray(frames[0]);
    mxDestroyArray(frames[1]);
    mxDestroyArray(p);

    /* a physical-layer packet: 1002 zero bits, then the FCS 0xC9A3 and six tail zeros */
    mxArray* zeros = mxCreateDoubleMatrix(1, 1002, mxREAL);
    mxArray* drc = mxCreateDoubleScalar(1);
    mxArray* packet = mlfOneX_FwdPhysicalLayerPacket(zeros, drc);
    CHECK(packet != NULL && mxGetN(packet) == 1024);
    if (packet) {
        unsigned fcs = 0;
        for (int bit = 0; bit < 16; ++bit) fcs = fcs << 1 | (mxGetPr(packet)[1002 + bit] != 0);
        CHECK(fcs == 0xC9A3);
        mxDestroyArray(packet);
    }
    mxDestroyArray(zeros);
    mxDestroyArray(drc);

    /* the function table by name */
    int nin = 0, nout = 0;
    CHECK(BreviaFunctionInfo("lfsr", &nin, &nout) && nin == 4 && nout == 1);
    CHECK(!BreviaFunctionInfo("nonexistent", &nin, &nout));
    mxArray* res[1] = {NULL};
    mxArray* args[2] = {input, two};
    CHECK(BreviaCallFunction("OneX_Repeat", 1, res, 2, args) && res[0] != NULL && mxGetN(res[0]) == 6);
    mxDestroyArray(res[0]);

    mxDestroyArray(input);
    mxDestroyArray(two);
    mxDestroyArray(order);
    mxDestroyArray(reps);
    mxDestroyArray(code);
    mxDestroyArray(b);
    mxDestroyArray(three);
    BreviaTerminate();

    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
