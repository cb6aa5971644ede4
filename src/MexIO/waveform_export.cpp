#include "MexIO/waveform_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/parallel.h"
#include "host/sample_allocator.h"
#include "host/temporary_file.h"

namespace mexio {

namespace {

constexpr double kHalfScale = 32768.0;  // 2^(16 - 1)
constexpr double kFullScale = kHalfScale - 2;

// The 16-bit two's-complement code of an already rounded value, high byte first. A
// sample that is not a number (NaN, or Inf scaled by an infinite peak) becomes 0, as the
// host's conversion to an integer format makes it.
void putWord(std::uint8_t* out, double value) {
    const auto code = static_cast<std::uint16_t>(std::isfinite(value) ? static_cast<std::int16_t>(value) : 0);
    out[0] = static_cast<std::uint8_t>(code >> 8);
    out[1] = static_cast<std::uint8_t>(code & 0xff);
}

inline double roundHalfAwayHere(double v) {
    if (!(std::abs(v) < 4503599627370496.0)) return std::round(v);  // 2^52: whole already, or not a number
    // The largest double below one half, with the sign of v: an exact half is carried to
    // the next whole number, anything below it is not; truncation then rounds.
    const double t = v + std::copysign(0.49999999999999994, v);
    return static_cast<double>(static_cast<std::int64_t>(t));
}

// A buffer of the sample allocator, left unwritten (every byte is written before use).
struct SampleBytes {
    explicit SampleBytes(std::size_t n) : size(n), data(static_cast<std::uint8_t*>(host::allocateSamples(n))) {}
    ~SampleBytes() { host::releaseSamples(data, size); }
    SampleBytes(const SampleBytes&) = delete;
    SampleBytes& operator=(const SampleBytes&) = delete;
    std::size_t size;
    std::uint8_t* data;
};

// The largest |value| of n values `stride` apart, NaN passed over; four running maxima
// (the order of a maximum does not matter) so that the loop is not one long chain.
double largestMagnitude(const double* v, std::size_t n, std::size_t stride) {
    double m[4] = {0, 0, 0, 0};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4)
        for (std::size_t j = 0; j < 4; ++j) {
            const double a = std::abs(v[(k + j) * stride]);
            m[j] = a > m[j] ? a : m[j];  // false for NaN
        }
    for (; k < n; ++k) m[0] = std::abs(v[k * stride]) > m[0] ? std::abs(v[k * stride]) : m[0];
    return std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
}

// The file from `count` samples whose I and Q are `stride` doubles apart (Q absent: zeros).
bool saveWords(const double* re, const double* im, std::size_t count, std::size_t stride, const std::string& path, double scale,
               std::string* failure) {
    // min(scale, 1) then max(scale, 1e-5); the host's min and max pass over a NaN.
    scale = std::isnan(scale) ? 1.0 : std::clamp(scale, 1e-5, 1.0);

    // From the sample allocator, as every waveform-sized buffer: on huge pages, and not
    // cleared first.
    SampleBytes bytes(4 * count);
    const bool parallel = count >= (std::size_t{1} << 18);  // halves on the two processors
    auto halves = [&](auto&& work) {
        if (parallel)
            host::inParallel([&] { work(count / 2, count); }, [&] { work(0, count / 2); });
        else
            work(0, count);
    };

    double peaks[2] = {0, 0};
    halves([&](std::size_t from, std::size_t to) {
        double& peak = peaks[from == 0 ? 0 : 1];
        peak = largestMagnitude(re + from * stride, to - from, stride);
        if (im) peak = std::max(peak, largestMagnitude(im + from * stride, to - from, stride));
    });
    const double peak = std::max(peaks[0], peaks[1]);
    // Every waveform but an all-zero one is scaled, a constant-magnitude one included. The
    // product is formed in the written order (value x scale x 32766 / peak): at exact
    // halves the order decides the rounding.
    // Everything the loop reads is a local copy: its byte stores could alias any memory,
    // which would make the compiler read each captured value afresh after every store.
    halves([&bytes, re, im, stride, peak, scale](std::size_t from, std::size_t to) {
        std::uint8_t* out = bytes.data;
        const auto scaled = [peak, scale](double v) { return peak > 0 ? v * scale * kFullScale / peak : v; };
        for (std::size_t k = from; k < to; ++k) {
            putWord(out + 4 * k, roundHalfAwayHere(scaled(re[k * stride])));
            putWord(out + 4 * k + 2, roundHalfAwayHere(scaled(im ? im[k * stride] : 0.0)));
        }
    });
    try {
        host::replaceFile(path, std::span<const std::uint8_t>(bytes.data, bytes.size));
    } catch (const host::Error& e) {
        if (failure) *failure = "Unable to write '" + path + "': " + e.what() + ".";
        return false;
    }
    return true;
}

}  // namespace

double roundHalfAway(double v) { return roundHalfAwayHere(v); }

bool saveBrindleWaveform(const host::ComplexVector& waveform, const std::string& path, double scale,
                         std::string* failure) {
    const auto* parts = reinterpret_cast<const double*>(waveform.data());  // re, im of each sample in turn
    return saveWords(parts, parts + 1, waveform.size(), 2, path, scale, failure);
}

bool saveBrindleWaveform(const host::Array& waveform, const std::string& path, double scale, std::string* failure) {
    if (!waveform.isDouble() || waveform.numel() == 0)
        return saveBrindleWaveform(host::complexVector(waveform, {"saveBrindleWaveform", "waveform"}), path, scale, failure);
    const double* re = waveform.pr();
    const double* im = waveform.isComplex() ? waveform.pi() : nullptr;
    return saveWords(re, im, waveform.numel(), 1, path, scale, failure);
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
