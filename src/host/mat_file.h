#pragma once
// Level-5 MAT files: the format that parameter, configuration and waveform files use, and
// that the other numerical tools of our users (and SciPy) read and write.

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/array.h"

namespace host {

// A real matrix of doubles made piece by piece as it is written, for one too large to be
// worth holding in memory: fill(first, count, out) writes elements first ... first + count
// - 1 in column-major order.
struct MatGenerated {
    std::size_t rows = 0, cols = 0;
    std::function<void(std::size_t first, std::size_t count, double* out)> fill;
};

using MatValue = std::variant<Array, MatGenerated>;
using MatVariables = std::vector<std::pair<std::string, MatValue>>;

// Writes a level-5 MAT file holding these variables in order; replaces `path` only when
// the whole file was written (temporary file beside it, then rename). Throws host::Error.
void saveMatFile(const std::string& path, const MatVariables& variables);

// Reads every variable of a MAT file into a 1x1 struct Array, one field per variable in
// file order. Throws host::Error naming the file for anything it cannot read.
Array loadMatFile(const std::string& path);

}  // namespace host
