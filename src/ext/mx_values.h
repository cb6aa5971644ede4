#pragma once
// Reading the caller's arrays without trusting their class or size: every element is read
// through its own class, and a missing element is reported rather than read past the end.
// Only the standard array API is used, so the same code runs under any MEX host.

#include <cstddef>
#include <string>
#include <vector>

#include "mex.h"

namespace vesk {

// Element `index` of a numeric, char or logical array as a double; false for a struct,
// a cell or an index past the end.
bool elementAsDouble(const mxArray* array, std::size_t index, double& value);

// The first element as a double, or `fallback` when there is none.
double firstAsDouble(const mxArray* array, double fallback);

// The characters of a char array in linear order, one byte each (a host with wider
// characters keeps the low byte); false when the array is not char.
bool charText(const mxArray* array, std::string& text);

// The real parts of a numeric, char or logical array, `count` values: elements past the end
// of the array read as 0. False for a struct or a cell.
bool realValues(const mxArray* array, std::size_t count, std::vector<double>& values);
// The imaginary parts, all 0 for a real array.
bool imagValues(const mxArray* array, std::size_t count, std::vector<double>& values);

// The first `count` values of the real or imaginary part as doubles, as realValues and
// imagValues give them: the array's own storage when it is a double array that holds them
// (no copy of a 16 MB frame), else the converted values in `scratch`.
const double* partView(const mxArray* array, std::size_t count, bool imaginary, std::vector<double>& scratch);

// A double value truncated toward zero and limited to [low, high]; NaN gives 0.
int truncateToInt(double value, int low, int high);

}  // namespace vesk
