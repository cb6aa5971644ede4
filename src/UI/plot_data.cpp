#include "UI/plot_data.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "host/convert.h"
#include "host/error.h"
#include "host/fft.h"
#include "host/function_table.h"
#include "host/sample_allocator.h"

namespace ui::plot {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The plots' dB axes span at most this much below their top.
constexpr double kMaxAxisSpanDb = 100;

// NaN and non-positive rates (a missing setting) draw as 1 sample per second.
double usableSampleRate(double sampleRate) { return sampleRate > 0 ? sampleRate : 1; }

bool isWholeNumber(double v) { return std::isfinite(v) && v == std::floor(v); }

// n values from first to last, the last exactly `last`; a single value is `first`.
RealVector linspace(double first, double last, std::size_t n) {
    RealVector v(n);
    if (n == 0) return v;
    if (n == 1) {
        v[0] = first;
        return v;
    }
    const double step = (last - first) / static_cast<double>(n - 1);
    for (std::size_t k = 0; k < n; ++k) v[k] = first + static_cast<double>(k) * step;
    v.back() = last;
    return v;
}

// Loops rather than std::min/max_element: NaN levels must neither win nor break the scan.
double largestOf(const RealVector& v) {
    double top = -kInf;
    for (double x : v)
        if (x > top) top = x;
    return top;
}
double smallestOf(const RealVector& v) {
    double bottom = kInf;
    for (double x : v)
        if (x < bottom) bottom = x;
    return bottom;
}

struct DbLimits {
    double low = -kMaxAxisSpanDb, high = 0;
};
// Whole 10 dB steps around the levels, no more than 100 dB deep. Only finite levels count: a
// bin of exactly zero is -Inf dB and would otherwise drag the axis to -Inf, and NaN samples
// (which reach every bin through the FFT) leave the default -100 .. 0 dB.
DbLimits dbAxisLimits(const RealVector& levels) {
    double low = kInf, high = -kInf;
    for (double v : levels) {
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (low > high) return {};
    DbLimits limits{10 * std::floor(low / 10), 10 * std::ceil(high / 10)};
    limits.low = std::max(limits.low, limits.high - kMaxAxisSpanDb);
    return limits;
}

// ---- FFT --------------------------------------------------------------------------------

using host::fft::FftBuffer;
using host::fft::SharedPlan;
using host::fft::transform;

SharedPlan forwardPlan(std::size_t n) { return host::fft::plan(n, host::fft::Direction::Forward); }

// Display position k shows bin (k + a - 1) mod n, a = round(n/2) (see displayBinOrder).
// Walking it as two runs spares a table of n indices for every transform.
std::size_t displayRotation(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(std::round(static_cast<double>(n) / 2)) - 1; }

template <class PerBin>
void forEachBinInDisplayOrder(std::size_t n, PerBin perBin) {
    const std::size_t shift = displayRotation(n);
    std::size_t position = 0;
    for (std::size_t bin = shift; bin < n; ++bin) perBin(position++, bin);
    for (std::size_t bin = 0; bin < shift; ++bin) perBin(position++, bin);
}

// ---- CCDF -------------------------------------------------------------------------------

constexpr double kTinyPower = 1e-300;
// maxX / (maxX / 200) is 200 up to a rounding error, so there are always 201 levels.
constexpr std::size_t kCcdfSteps = 200;
constexpr double kCcdfMinimumRangeDb = 20;

struct AveragePower {
    double power = 0, db = 0;
    bool zerosLifted = false;
};
// Zero samples are lifted to 1e-300 so that they sit at a finite (very low) level instead of
// -Inf; the sum is then taken again over the lifted powers, as they are the ones counted.
// NaN samples cannot be summed and are left out.
AveragePower averagePower(const ComplexVector& x) {
    double total = 0, smallest = kInf;
    for (const Complex& v : x) {
        const double p = std::norm(v);
        smallest = p < smallest ? p : smallest;
        if (!std::isnan(p)) total += p;
    }
    AveragePower average;
    average.zerosLifted = smallest == 0;
    if (average.zerosLifted) {
        total = 0;
        for (const Complex& v : x) {
            const double p = std::norm(v) + kTinyPower;
            if (!std::isnan(p)) total += p;
        }
    }
    if (total == 0) total = kTinyPower;
    average.power = total / static_cast<double>(x.size());
    average.db = 10 * std::log10(average.power);
    return average;
}

// The level, in dB above the average, of every sample at or above the average power, sorted
// ascending. Only these can reach a plotted level (0 dB and up): about a third of a
// noise-like waveform. A power below the average by more than a rounding error cannot come
// out at 0 dB or above, so its logarithm is skipped; every other level is computed and
// tested exactly as for the whole waveform, which keeps the counts the same.
RealVector sortedLevelsAtOrAboveAverage(const ComplexVector& x, const AveragePower& average) {
    const double candidate = average.power * (1 - 1e-9);
    RealVector levels;
    levels.reserve(x.size() / 2);
    for (const Complex& v : x) {
        const double p = average.zerosLifted ? std::norm(v) + kTinyPower : std::norm(v);
        if (!(p >= candidate)) continue;
        const double level = 10 * std::log10(p) - average.db;
        if (level >= 0) levels.push_back(level);  // NaN never is
    }
    std::sort(levels.begin(), levels.end());
    return levels;
}

// 20 dB, or 1 % beyond the peak when the peak is higher, so the last sample is on the plot.
double ccdfRange(const RealVector& sortedLevels) {
    const double peak = sortedLevels.empty() ? 0 : sortedLevels.back();
    return peak > kCcdfMinimumRangeDb ? 1.01 * peak : kCcdfMinimumRangeDb;
}

// Percentage of all `points` samples at or above each (ascending) level. Each level's
// search starts where the previous one ended: the samples above a level are a shrinking tail.
RealVector percentageAtOrAbove(const RealVector& sortedLevels, const RealVector& levels, std::size_t points) {
    RealVector percent(levels.size());
    auto from = sortedLevels.begin();
    for (std::size_t i = 0; i < levels.size(); ++i) {
        from = std::lower_bound(from, sortedLevels.end(), levels[i]);
        percent[i] = 100 * static_cast<double>(sortedLevels.end() - from) / static_cast<double>(points);
    }
    return percent;
}

RealVector gaussianReference(const RealVector& levels, bool realWave) {
    RealVector reference(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i)
        reference[i] = realWave ? 100 * std::erfc(std::pow(10, levels[i] / 20) / std::numbers::sqrt2)
                                : 100 * std::exp(-std::pow(10, levels[i] / 10));
    return reference;
}

// The logarithmic axis needs a positive bottom: the smallest percentage actually reached
// (at most 0.001 %), with 1e-300 added everywhere so that zero percentages stay drawable.
double ccdfAxisBottom(RealVector& percent) {
    double bottom = smallestOf(percent);
    if (bottom == 0) {
        // Nonincreasing, so the last positive entry is the smallest; none when no sample is
        // counted at all (every level NaN), and the default bottom applies.
        const auto lastPositive = std::find_if(percent.rbegin(), percent.rend(), [](double v) { return v > 0; });
        bottom = lastPositive != percent.rend() ? *lastPositive : 0.001;
        for (double& v : percent) v += kTinyPower;
    }
    return std::min(bottom, 0.001);
}

// ---- spectrum and waterfall -----------------------------------------------------------

constexpr double kTinyBinFraction = 1e-20;

// Squared magnitudes in display order, or the fixed shape drawn for an empty waveform.
RealVector displayedPower(const ComplexVector& x) {
    if (x.empty()) {
        RealVector shape{0.001, 0.01, 0.1, 0.5, 1, 1, 0.5, 0.1, 0.01, 0.001};
        for (double& v : shape) v *= v;
        return shape;
    }
    FftBuffer bins(x.size());
    transform(x, bins);
    RealVector power(x.size());
    forEachBinInDisplayOrder(x.size(), [&](std::size_t position, std::size_t bin) { power[position] = std::norm(bins[bin]); });
    return power;
}

// Empty bins are raised just above zero, relative to the strongest, so that their level is
// finite but far below anything the axis shows.
void liftEmptyBins(RealVector& power) {
    if (smallestOf(power) != 0) return;
    const double strongest = largestOf(power);
    const double lift = strongest == 0 ? kTinyBinFraction : kTinyBinFraction * strongest;
    for (double& v : power) v += lift;
}

// In place: the power is not needed afterwards, and a second frame-sized array costs page faults.
RealVector decibelsBelowPeak(RealVector power) {
    for (double& v : power) v = 10 * std::log10(v);
    const double peak = largestOf(power);
    for (double& v : power) v -= peak;
    return power;
}

constexpr double kMinimumSliceSamples = 10;

// ceil(period x sampleRate), at least 10 samples. A period of a whole number of samples
// usually comes back a rounding error above it (10 / 6144000 x 6144000 is not exactly 10),
// which a plain ceil would turn into one sample more, hence the relative tolerance. A slice
// is also never longer than the waveform (or 10 samples): a huge period would otherwise ask
// for an unbounded zero-padded transform, and one slice of the whole waveform shows the same.
std::size_t samplesPerSlice(double sampleRate, double period, std::size_t points) {
    const double shortest = kMinimumSliceSamples / sampleRate;
    period = period > 0 ? std::max(period, shortest) : shortest;
    const double exact = period * sampleRate;
    const double samples = std::max(kMinimumSliceSamples, std::ceil(exact - 1e-9 * exact));
    const double longest = std::max(static_cast<double>(points), kMinimumSliceSamples);
    return static_cast<std::size_t>(samples < longest ? samples : longest);
}

// Column i: slice i (zeros appended to the last) transformed, 10 log10 of the squared real
// part of each bin in display order. A real part of exactly zero stays -Inf dB.
RealVector sliceLevels(const ComplexVector& x, std::size_t n, std::size_t m) {
    RealVector levels(n * m);
    const SharedPlan plan = forwardPlan(n);
    FftBuffer slice(n), bins(n);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t start = i * n;
        const std::size_t count = std::min(n, x.size() - start);
        std::copy_n(x.begin() + static_cast<std::ptrdiff_t>(start), count, slice.begin());
        std::fill(slice.begin() + count, slice.end(), Complex{});
        plan->run(slice.data(), bins.data());
        double* column = levels.data() + start;
        forEachBinInDisplayOrder(n, [&](std::size_t position, std::size_t bin) {
            const double re = bins[bin].real();
            column[position] = 10 * std::log10(re * re);
        });
    }
    return levels;
}

// Drawn for an empty waveform: 10 x 5 levels of 0 dB crossed by one row and one column at
// half amplitude.
RealVector waterfallTestPattern(std::size_t n, std::size_t m) {
    const double halfAmplitudeDb = 10 * std::log10(0.5 * 0.5);
    RealVector levels(n * m, 0.0);
    const std::size_t markedColumn = (m + 1) / 2 - 1, markedRow = (n + 1) / 2 - 1;
    for (std::size_t r = 0; r < n; ++r) levels[markedColumn * n + r] = halfAmplitudeDb;
    for (std::size_t c = 0; c < m; ++c) levels[c * n + markedRow] = halfAmplitudeDb;
    return levels;
}

// ---- placement ----------------------------------------------------------------------------

Rect shrunk(Rect r) {
    r.width *= 0.8;
    r.height *= 0.8;
    return r;
}

}  // namespace

// ---- units ------------------------------------------------------------------------------

FrequencyUnits DetermineFrequencyUnits(double sampleRate) {
    const double k = std::floor(std::log10(sampleRate) / 3);
    if (k == 0) return {1, "Hz"};
    if (k == 1) return {1e3, "kHz"};
    if (k == 2) return {1e6, "MHz"};
    return {1e9, "GHz"};
}

TimeUnits DetermineTimeUnits(double period) {
    const double e = std::floor(std::log10(period) / 3);
    if (e == 0) return {1, "S"};
    if (e == -1) return {1e3, "mS"};
    if (e == -2) return {1e6, "uS"};
    if (e == -3) return {1e9, "nS"};
    return {1e12, "pS"};
}

// ---- window placement -------------------------------------------------------------------

Rect plotWindowPosition(Placement placement, const std::optional<Rect>& parent, bool pixels) {
    switch (placement) {
        case Placement::Standard: {
            if (!parent) return pixels ? Rect{150, 150, 340, 340} : Rect{0.1, 0.1, 0.5, 0.5};
            Rect r = shrunk(*parent);
            r.left += 0.1 * r.width;
            r.bottom -= 0.1 * r.height;
            return r;
        }
        case Placement::Spectrum: {
            if (!parent) return pixels ? Rect{50, 480, 300, 300} : Rect{0.1, 0.1, 0.5, 0.5};
            Rect r = shrunk(*parent);
            r.left = parent->left + 0.1 * parent->width;
            r.bottom = parent->bottom + 0.18 * parent->height;
            return r;
        }
        case Placement::Waterfall: {
            if (!parent) return pixels ? Rect{100, 100, 300, 300} : Rect{0, 0, 0.5, 0.5};
            Rect r = shrunk(*parent);
            r.left += 0.2 * r.width;
            r.bottom -= 0.2 * r.height;
            return r;
        }
    }
    return {};
}

Rect adjustedAxesPosition(const Rect& p) { return {p.left * 1.2, p.bottom * 1.4, p.width, p.height / 1.1}; }

// ---- CCDF -------------------------------------------------------------------------------

ComplexVector ccdfTestSignal() {
    constexpr std::size_t kPoints = 1000;
    const RealVector t = linspace(-kPi, kPi, kPoints);
    const RealVector u = linspace(-10 * kPi, 10 * kPi, kPoints);
    ComplexVector x(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k) x[k] = (1.5 + std::cos(t[k])) * Complex{std::cos(u[k]), std::sin(u[k])};
    return x;
}

// NaN samples add nothing to the average power and never reach a level, but still count
// among the points. An infinite sample makes the average infinite, so that no sample reaches
// 0 dB and the curve is 1e-300 throughout.
CcdfData ccdfData(const ComplexVector& iqWave, bool realWave) {
    if (iqWave.empty()) return ccdfData(ccdfTestSignal(), false);
    const RealVector sortedLevels = sortedLevelsAtOrAboveAverage(iqWave, averagePower(iqWave));
    CcdfData d;
    d.realWave = realWave;
    d.maxX = ccdfRange(sortedLevels);
    const double step = d.maxX / kCcdfSteps;
    d.X.resize(kCcdfSteps + 1);
    for (std::size_t k = 0; k < d.X.size(); ++k) d.X[k] = static_cast<double>(k) * step;
    d.Y = percentageAtOrAbove(sortedLevels, d.X, iqWave.size());
    d.Y1 = gaussianReference(d.X, realWave);
    d.yMin = ccdfAxisBottom(d.Y);
    return d;
}

// ---- spectrum and waterfall -------------------------------------------------------------

// Bins a-1 .. n-1 followed by 0 .. b-1: with b = a - 1 (for n = 1, b = -1 wraps nothing, as
// a - 1 = 0 does) that is all n bins rotated left by a - 1.
std::vector<std::size_t> displayBinOrder(std::size_t n) {
    std::vector<std::size_t> order(n);
    forEachBinInDisplayOrder(n, [&](std::size_t position, std::size_t bin) { order[position] = bin; });
    return order;
}

// A single point is drawn at 0 Hz.
RealVector frequencyAxis(std::size_t n, double sampleRate, double divider) {
    if (n == 1) return {0.0};
    const double fMax = sampleRate / (2 * divider);
    return linspace(-fMax, fMax, n);
}

// NaN or Inf samples reach every bin through the transform: every level is then NaN and the
// level axis keeps its default -100 .. 0 dB.
SpectrumData spectrumData(double sampleRate, const ComplexVector& iqWave) {
    sampleRate = usableSampleRate(sampleRate);
    RealVector power = displayedPower(iqWave);
    liftEmptyBins(power);
    SpectrumData d;
    d.magSignal = decibelsBelowPeak(std::move(power));
    const DbLimits limits = dbAxisLimits(d.magSignal);
    d.mMin = limits.low;
    d.mMax = limits.high;
    d.units = DetermineFrequencyUnits(sampleRate);
    d.f = frequencyAxis(d.magSignal.size(), sampleRate, d.units.divider);
    d.fMax = sampleRate / (2 * d.units.divider);
    d.fMin = -d.fMax;
    return d;
}

// Levels of exactly zero power stay -Inf (and NaN samples make their slice NaN); the level
// limits come from the finite levels only, -100 .. 0 dB when there are none.
WaterfallData waterfallData(double sampleRate, double period, const ComplexVector& iqWave) {
    sampleRate = usableSampleRate(sampleRate);
    WaterfallData d;
    if (iqWave.empty()) {
        d.n = 10;
        d.m = 5;
        d.levels = waterfallTestPattern(d.n, d.m);
    } else {
        d.n = samplesPerSlice(sampleRate, period, iqWave.size());
        d.m = (iqWave.size() + d.n - 1) / d.n;
        d.levels = sliceLevels(iqWave, d.n, d.m);
    }
    const DbLimits limits = dbAxisLimits(d.levels);
    d.mMin = limits.low;
    d.mMax = limits.high;

    d.fUnits = DetermineFrequencyUnits(sampleRate);
    d.f = frequencyAxis(d.n, sampleRate, d.fUnits.divider);
    d.fMax = sampleRate / (2 * d.fUnits.divider);
    d.fMin = -d.fMax;

    const double n = static_cast<double>(d.n), m = static_cast<double>(d.m);
    d.tUnits = DetermineTimeUnits(m * n / sampleRate);
    const double sliceDuration = n * d.tUnits.multiplier / sampleRate;
    d.sliceTime.resize(d.m);
    for (std::size_t i = 0; i < d.m; ++i) d.sliceTime[i] = static_cast<double>(i) * sliceDuration;
    d.tMax = (m - 1) * sliceDuration;
    return d;
}

// ---- time, eye and scatter ----------------------------------------------------------------

// NaN samples are passed on but ignored by iMax; an infinite one makes iMax infinite.
IqTimeData iqTimeData(double sampleRate, const ComplexVector& iqWave) {
    sampleRate = usableSampleRate(sampleRate);
    IqTimeData d;
    if (iqWave.empty()) {
        d.testCircle = true;
        const RealVector u = linspace(-2 * kPi, 2 * kPi, 100);
        for (double v : u) {
            d.i.push_back(std::cos(v));
            d.q.push_back(std::sin(v));
        }
    } else {
        d.i.resize(iqWave.size());
        d.q.resize(iqWave.size());
        for (std::size_t k = 0; k < iqWave.size(); ++k) {
            d.i[k] = iqWave[k].real();
            d.q[k] = iqWave[k].imag();
        }
    }
    const std::size_t points = d.i.size();
    d.iMax = std::max({std::abs(largestOf(d.i)), std::abs(smallestOf(d.i)), std::abs(largestOf(d.q)), std::abs(smallestOf(d.q))});
    const double period = static_cast<double>(points) / sampleRate;
    d.units = DetermineTimeUnits(period);
    d.tMax = period * d.units.multiplier;
    d.t = linspace(0, d.tMax, points);
    return d;
}

// NaN n counts as 1 and NaN offset as 0, as std::max keeps its first argument then.
EyeArguments clampEyeArguments(double n, double period, double offset) {
    EyeArguments a;
    a.n = std::max(1.0, n);
    a.offset = std::min(a.n - 1, std::max(0.0, offset));
    a.period = period == 0 ? 1 : period;
    return a;
}

ScatterArguments clampScatterArguments(double n, double offset) {
    ScatterArguments a;
    a.n = std::max(1.0, n);
    a.offset = std::min(a.n - 1, std::max(0.0, offset));
    return a;
}

namespace {

constexpr const char* kEmptyInput = "Input variable X is empty.";
constexpr const char* kBadOffset = "OFFSET must be a nonnegative integer less than N.";

void checkOffset(double offset, double n) {
    if (!isWholeNumber(offset) || offset < 0 || offset >= n) throw host::Error(kBadOffset);
}

}  // namespace

// Trace j is the n + 1 samples from offset + j n - floor(n/2): for even n its middle sample,
// offset + j n, is at time 0; for odd n the time axis stays symmetric (-period/2 .. period/2)
// and that sample falls half a sample before 0. Traces start at the first such window that
// lies wholly inside the waveform and end at the last; neighbours share their end sample. A
// waveform no longer than n samples holds no trace and gives no time axis either.
EyeData eyeDiagramData(const ComplexVector& x, double n, double period, double offset) {
    if (x.empty()) throw host::Error(kEmptyInput);
    if (!isWholeNumber(n) || n <= 1) throw host::Error("N must be an integer greater than 1.");
    if (!(period > 0) || !std::isfinite(period)) throw host::Error("PERIOD must be a positive number.");
    checkOffset(offset, n);

    EyeData d;
    if (n >= static_cast<double>(x.size())) return d;
    const auto step = static_cast<std::size_t>(n);
    const auto first = static_cast<std::size_t>(offset);
    const std::size_t half = step / 2;
    // Trace 0 when its window starts inside the waveform, else trace 1 (step > half).
    const std::size_t start = first >= half ? first - half : first + step - half;
    d.pointsPerTrace = step + 1;
    d.traces = start + step < x.size() ? (x.size() - 1 - step - start) / step + 1 : 0;

    d.time.resize(d.pointsPerTrace);
    for (std::size_t k = 0; k <= step; ++k) d.time[k] = (static_cast<double>(k) - n / 2) * period / n;

    d.iTraces.resize(d.traces * d.pointsPerTrace);
    d.qTraces.resize(d.traces * d.pointsPerTrace);
    for (std::size_t j = 0; j < d.traces; ++j) {
        const Complex* samples = x.data() + start + j * step;
        double* iOut = d.iTraces.data() + j * d.pointsPerTrace;
        double* qOut = d.qTraces.data() + j * d.pointsPerTrace;
        for (std::size_t k = 0; k <= step; ++k) {
            iOut[k] = samples[k].real();
            qOut[k] = samples[k].imag();
        }
    }
    return d;
}

ScatterData scatterData(const ComplexVector& x, double n, double offset) {
    if (x.empty()) throw host::Error(kEmptyInput);
    if (!isWholeNumber(n) || n < 1) throw host::Error("N must be a positive integer.");
    // Any whole offset: the trajectory of the trace-on window is every sample (n = 1) from
    // the symbol instants' offset, which may well exceed 0.
    if (!isWholeNumber(offset) || offset < 0) throw host::Error("OFFSET must be a nonnegative integer.");

    ScatterData d;
    if (offset >= static_cast<double>(x.size())) return d;
    const auto first = static_cast<std::size_t>(offset);
    // A step past the end leaves just the first point (and must not be converted when huge).
    const std::size_t step = n < static_cast<double>(x.size()) ? static_cast<std::size_t>(n) : x.size();
    const std::size_t count = (x.size() - 1 - first) / step + 1;
    d.i.resize(count);
    d.q.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        d.i[k] = x[first + k * step].real();
        d.q[k] = x[first + k * step].imag();
    }
    return d;
}

}  // namespace ui::plot

// A computation, not a window: it stays usable without the window library.
namespace brevia::bind {

std::vector<host::Array> DetermineTimeUnits(int, host::Arguments args) {
    const ui::plot::TimeUnits u = ui::plot::DetermineTimeUnits(host::realScalar(*args[0], {"DetermineTimeUnits", "period"}));
    host::Array pair = host::Array::cell(1, 2);
    pair.cellAt(0) = host::Array::string(u.unit);
    pair.cellAt(1) = host::Array::scalar(u.multiplier);
    return {std::move(pair)};
}

}  // namespace brevia::bind
