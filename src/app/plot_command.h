#pragma once
// onexfwd plot: one analysis plot of the frame (computed, or read from a MAT file) drawn by
// the windows' own plot code offscreen and written as a PNG picture.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace app {

struct PlotOptions {
    std::string kind;      // spectrum, waterfall, iq, iq-overlay, eye, scatter, ccdf
    std::string params;    // parameter file; empty for the defaults
    std::string waveform;  // or a MAT file with `waveform` (and `sampleRate`)
    std::vector<std::string> sets;
    std::optional<std::uint64_t> seed;
    std::string out;  // .png
    int width = 800, height = 600;
    bool quiet = false;     // only errors and the data asked for
    bool progress = false;  // what it is doing, on a terminal
};

inline const std::vector<std::string> kPlotKinds = {"spectrum", "waterfall", "iq", "iq-overlay", "eye", "scatter", "ccdf"};

// Returns the exit status after printing the result on `out` or the failure on `err`.
int runPlot(const PlotOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
