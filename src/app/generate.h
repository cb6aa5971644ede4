#pragma once
// onexfwd generate: one frame from the default or a saved parameter set, with settings
// changed on the command line, written as a MAT file or in the instrument's binary format.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"

namespace app {

struct GenerateOptions {
    std::string params;             // parameter file; empty for the defaults
    std::vector<std::string> sets;  // NAME=VALUE, applied in order
    std::optional<std::uint64_t> seed;
    std::string out;  // .mat or .bin
    bool quiet = false;
};

// Changes one field of a parameter set: "OverSampling=8", "slot.DATAslotMod=3" (a single
// number fills every slot), "slot.RAslotGain=-3 -4 ..." (one number per element),
// "LastPath=/tmp" for a text field. Numbers are read by the safe entry reader.
// Throws host::Error naming the setting when the name or value does not fit.
void applySetting(host::Array& parameters, std::string_view assignment);

// Computes the frame and writes it; returns the exit status (0 success) after printing
// a summary on `out` or the failure on `err`.
int runGenerate(const GenerateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
