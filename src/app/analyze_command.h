#pragma once
// onexfwd analyze: the signal-quality report of a frame, computed from the default or a
// saved parameter set (with --set changes), or measured on a waveform file made from it.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "OneX/signal_quality.h"

namespace app {

struct AnalyzeOptions {
    std::string params;             // parameter file; empty for the defaults
    std::vector<std::string> sets;  // NAME=VALUE, applied in order
    std::string waveform;           // MAT file with 'waveform'; empty: the frame is computed
    std::optional<std::uint64_t> seed;
    std::string json;  // also write the report here as JSON
    bool quiet = false;     // only errors and the data asked for
    bool progress = false;  // what it is doing, on a terminal
};

// The report as a person reads it, and as JSON (NaN and channels off as null).
std::string reportText(const onex::quality::Report& report);
std::string reportJson(const onex::quality::Report& report);

// Computes or reads the frame, measures it and prints the report on `out`; returns the exit
// status (0 success) after printing a failure on `err`.
int runAnalyze(const AnalyzeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
