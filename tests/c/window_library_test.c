/* A C caller of a window function: the window library (and Qt with it) is mapped only once
 * a window is asked for; when it cannot be loaded the call fails with a message naming it,
 * and the signal functions keep working. What is mapped is read from the process's own map. */
#define _GNU_SOURCE
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "brevia.h"

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            ++failures;                                                              \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                            \
    } while (0)

/* Whether a file whose path contains `needle` is mapped into this process. */
static int mapped(const char* needle) {
    FILE* maps = fopen("/proc/self/maps", "r");
    if (!maps) return -1;
    char line[4096];
    int found = 0;
    while (!found && fgets(line, sizeof line, maps)) found = strstr(line, needle) != NULL;
    fclose(maps);
    return found;
}

static mxArray* tone(size_t n) {
    mxArray* a = mxCreateDoubleMatrix(1, n, mxCOMPLEX);
    for (size_t k = 0; k < n; ++k) {
        mxGetPr(a)[k] = cos(0.01 * (double)k);
        mxGetPi(a)[k] = sin(0.01 * (double)k);
    }
    return a;
}

static int signalFunctionWorks(void) {
    mxArray* order = mxCreateDoubleScalar(8);
    mxArray* walsh = mlfOneX_WalshMatrix(order);
    const int ok = walsh != NULL && mxGetM(walsh) == 8;
    mxDestroyArray(walsh);
    mxDestroyArray(order);
    return ok;
}

int main(void) {
    CHECK(BreviaInitialize());
    CHECK(mapped("libbrevia.so") == 1);
    CHECK(mapped("libQt6") == 0);

    /* A plot computation needs no window. */
    mxArray* period = mxCreateDoubleScalar(2e-6);
    mxArray* units = mlfDetermineTimeUnits(period);
    CHECK(units != NULL);
    mxDestroyArray(units);
    mxDestroyArray(period);

    mxArray* screen = mxCreateDoubleScalar(0);
    mxArray* label = mxCreateString("tone");
    mxArray* wave = tone(4096);

    /* No window library where it is looked for: a clear failure, nothing loaded. */
    setenv("BREVIA_WINDOW_LIBRARY", "/nonexistent/libbrevia_windows.so.0", 1);
    mxArray* fig = mlfSX_PlotCCDF(screen, label, wave);
    CHECK(fig == NULL);
    const char* message = BreviaLastError();
    CHECK(strstr(message, "window library /nonexistent/libbrevia_windows.so.0 could not be loaded") != NULL);
    CHECK(mapped("libQt6") == 0);
    CHECK(signalFunctionWorks());

    /* Found: the same call draws the window, and Qt is mapped from now on. */
    unsetenv("BREVIA_WINDOW_LIBRARY");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fig = mlfSX_PlotCCDF(screen, label, wave);
    CHECK(fig != NULL && mxGetScalar(fig) > 0);
    if (!fig) fprintf(stderr, "SX_PlotCCDF: %s\n", BreviaLastError());
    CHECK(mapped("libbrevia_windows.so") == 1);
    CHECK(mapped("libQt6Widgets") == 1);
    CHECK(signalFunctionWorks());

    mxDestroyArray(fig);
    mxDestroyArray(wave);
    mxDestroyArray(label);
    mxDestroyArray(screen);
    BreviaTerminate();
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
