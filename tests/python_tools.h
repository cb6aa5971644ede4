#pragma once
// Tests that run a Python script of tests/tools with SciPy: they need /usr/bin/python3 with
// SciPy (scripts/setup installs both) and say so by skipping where it is missing.

#include <cstdlib>
#include <string>

// Whether PYTHON3 can import SciPy's MAT-file module; asked once.
inline bool scipyAvailable() {
    static const bool available = std::system((std::string(PYTHON3) + " -c 'import scipy.io' >/dev/null 2>&1").c_str()) == 0;
    return available;
}

#define SKIP_WITHOUT_SCIPY()                                                                                     \
    if (!scipyAvailable())                                                                                       \
    GTEST_SKIP() << PYTHON3 << " with SciPy is not installed here (scripts/setup installs it); this test runs a " \
                    "script of tests/tools with it"
