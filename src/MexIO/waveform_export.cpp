#include "MexIO/waveform_export.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/temporary_file.h"

namespace mexio {

namespace {

constexpr double kHalfScale = 32768.0;  // 2^(16 - 1)
constexpr double kFullScale = kHalfScale - 2;

// The 16-bit two's-complement code of an already rounded value, high byte first. A
// sample that is not a number (NaN, or Inf scaled by an infinite peak) becomes 0, as the
// host's conversion to an integer format makes it.
void putWord(std::vector<std::uint8_t>& out, double value) {
    const auto code = static_cast<std::uint16_t>(std::isfinite(value) ? static_cast<std::int16_t>(value) : 0);
    out.push_back(static_cast<std::uint8_t>(code >> 8));
    out.push_back(static_cast<std::uint8_t>(code & 0xff));
}

}  // namespace

bool saveBrindleWaveform(const host::ComplexVector& waveform, const std::string& path, double scale,
                         std::string* failure) {
    // min(scale, 1) then max(scale, 1e-5); the host's min and max pass over a NaN.
    scale = std::isnan(scale) ? 1.0 : std::clamp(scale, 1e-5, 1.0);

    double peak = 0;
    for (const host::Complex& s : waveform)
        for (const double part : {s.real(), s.imag()})
            if (!std::isnan(part)) peak = std::max(peak, std::abs(part));
    // Every waveform but an all-zero one is scaled, a constant-magnitude one included. The
    // product is formed in the written order (value x scale x 32766 / peak): at exact
    // halves the order decides the rounding.
    const auto scaled = [&](double v) { return peak > 0 ? v * scale * kFullScale / peak : v; };

    std::vector<std::uint8_t> bytes;
    bytes.reserve(4 * waveform.size());
    for (const host::Complex& s : waveform) {
        putWord(bytes, std::round(scaled(s.real())));
        putWord(bytes, std::round(scaled(s.imag())));
    }
    try {
        host::replaceFile(path, bytes);
    } catch (const host::Error& e) {
        if (failure) *failure = "Unable to write '" + path + "': " + e.what() + ".";
        return false;
    }
    return true;
}

}  // namespace mexio

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> saveBrindleWaveform(int, Arguments args) {
    constexpr const char* fn = "saveBrindleWaveform";
    // Any other count is a failure reported through the result, not an error.
    if (args.empty() || args.size() > 3) return {Array::scalar(0)};
    const Array& waveform = *args[0];
    if (!waveform.isVector() && !waveform.isEmpty())
        throw host::Error(std::string(fn) + ": waveform must be a row or column vector, not a " +
                          std::to_string(waveform.rows()) + " x " + std::to_string(waveform.cols()) + " matrix.");
    const host::ComplexVector samples = host::complexVector(waveform, {fn, "waveform"});
    std::string path = mexio::kDefaultBrindleFile;
    if (args.size() >= 2) {
        // A file name that is not text cannot be opened: a file error, hence success 0.
        if (!args[1]->isChar()) return {Array::scalar(0)};
        path = args[1]->text();
    }
    const double scale = args.size() == 3 ? host::realScalar(*args[2], {fn, "scale"}) : 1.0;
    return {Array::scalar(mexio::saveBrindleWaveform(samples, path, scale) ? 1 : 0)};
}

}  // namespace brevia::bind
