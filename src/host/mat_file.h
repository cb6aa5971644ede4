#pragma once
// Level-5 MAT files: the format that parameter, configuration and waveform files use, and
// that the other numerical tools of our users (and SciPy) read and write.

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/array.h"

namespace host {

// A real matrix of doubles given as runs of equal columns, written as a compressed
// variable: the marker rows of a long waveform are a few thousand runs for millions of
// columns, and this way take a few hundred kilobytes instead of tens of megabytes.
struct MatColumnRuns {
    struct Run {
        std::vector<double> column;  // `rows` values
        std::size_t count = 0;       // columns in a row that are this one
    };
    std::size_t rows = 0;
    std::vector<Run> runs;
    std::size_t cols() const;
};

using MatValue = std::variant<Array, MatColumnRuns>;
using MatVariables = std::vector<std::pair<std::string, MatValue>>;

// Writes a level-5 MAT file holding these variables in order; replaces `path` only when
// the whole file was written (temporary file beside it, then rename). Throws host::Error.
void saveMatFile(const std::string& path, const MatVariables& variables);

// Reads every variable of a MAT file into a 1x1 struct Array, one field per variable in
// file order. Throws host::Error naming the file for anything it cannot read.
Array loadMatFile(const std::string& path);

}  // namespace host
