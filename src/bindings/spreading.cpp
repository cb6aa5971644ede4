// The host forms of PN sequences and quadrature spreading: each unpacks and checks its arrays,
// calls the typed function and packs the result (argument counts are checked from
// functions.def before it runs).
#include <algorithm>
#include <array>
#include <cstdint>

#include "OneX/pn_spreading.h"
#include "host/convert.h"
#include "host/function_table.h"
#include "host/lifecycle.h"
#include "host/text.h"

// ---- pn spreading

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> lfsr(int, Arguments args) {
    constexpr const char* fn = "lfsr";
    const auto n = host::integerScalar(*args[0], {fn, "n"}, 1, 64);
    const auto taps = host::realVector(*args[1], {fn, "taps"});
    const auto m = host::integerScalar(*args[2], {fn, "m"}, 0, host::kMaxElements);
    const auto seed = host::realVector(*args[3], {fn, "seed"});
    return {host::toRow(onex::lfsr(static_cast<int>(n), taps, static_cast<std::size_t>(m), seed))};
}

namespace {
std::size_t repsArgument(const char* fn, Arguments args) {
    return static_cast<std::size_t>(host::integerScalar(*args[0], {fn, "reps"}, 1, 4096));
}
}  // namespace

std::vector<Array> OneX_PNiSequence(int, Arguments args) {
    return {host::toRow(onex::OneX_PNiSequence(repsArgument("OneX_PNiSequence", args)))};
}

std::vector<Array> OneX_PNqSequence(int, Arguments args) {
    return {host::toRow(onex::OneX_PNqSequence(repsArgument("OneX_PNqSequence", args)))};
}

std::vector<Array> CircularShiftRight(int, Arguments args) {
    constexpr const char* fn = "CircularShiftRight";
    const Array& in = *args[0];
    const double count = host::realScalar(*args[1], {fn, "count"});
    Array out = host::applyToElements(in, {fn, "input"}, [&](const auto& v) { return onex::CircularShiftRight(v, count); });
    out.reshape(in.rows(), in.cols());  // a column stays a column
    return {std::move(out)};
}

std::vector<Array> OneX_FwdQuadSpreading(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdQuadSpreading";
    const Array& frames = *args[0];
    if (!frames.isVector() && !frames.isEmpty())
        throw host::Error(std::string(fn) + ": frames must be a row or column of chips, not a " +
                          std::to_string(frames.rows()) + " x " + std::to_string(frames.cols()) + " matrix.");
    const double offset = host::realScalar(*args[1], {fn, "offsetIndex"});
    Array out = host::toRow(onex::OneX_FwdQuadSpreading(host::complexVector(frames, {fn, "frames"}), offset));
    out.reshape(frames.rows(), frames.cols());
    return {std::move(out)};
}

}  // namespace brevia::bind
