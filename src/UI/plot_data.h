#pragma once
// What each analysis plot shows, computed apart from any drawing: levels, axes, limits,
// units and window placement. The plot windows and the offscreen PNG export draw these.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/matrix.h"

namespace ui::plot {

using host::Complex;
using host::ComplexVector;
using host::RealVector;

// ---- units ------------------------------------------------------------------------------

struct FrequencyUnits {
    double divider = 1;
    std::string unit;  // "Hz", "kHz", "MHz", "GHz"
};
// k = floor(log10(sampleRate) / 3): 0 Hz, 1 kHz, 2 MHz, anything else GHz.
FrequencyUnits DetermineFrequencyUnits(double sampleRate);

struct TimeUnits {
    double multiplier = 1;
    std::string unit;  // "S", "mS", "uS", "nS", "pS"
};
// e = floor(log10(period) / 3): 0 S, -1 mS, -2 uS, -3 nS, anything else pS.
TimeUnits DetermineTimeUnits(double period);

// ---- window placement -------------------------------------------------------------------

// Positions are [left bottom width height] with the origin at the bottom left, in the units
// of the parent (pixels or normalised to the screen).
struct Rect {
    double left = 0, bottom = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};
enum class Placement {
    Standard,   // CCDF, I/Q time, eye and scatter windows
    Spectrum,   // magnitude spectrum
    Waterfall,  // spectrum waterfall
};
// Where a plot window opens: derived from the parent window's position, or when there is no
// parent (`parent` empty) the fixed place for the screen in pixels or normalised units.
Rect plotWindowPosition(Placement placement, const std::optional<Rect>& parent, bool pixels);
// The position of the single axes of a plot inside its window, from the default axes
// position p: [p.left * 1.2, p.bottom * 1.4, p.width, p.height / 1.1].
Rect adjustedAxesPosition(const Rect& p);

// ---- CCDF -------------------------------------------------------------------------------

struct CcdfData {
    RealVector X;      // levels in dB above the average power, 0 .. maxX
    RealVector Y;      // percentage of samples at or above each level (+1e-300 when any is 0)
    RealVector Y1;     // Gaussian reference: complex (exponential) or real (erfc) form
    double maxX = 20;  // 20, or 1.01 x the peak-to-average ratio when that exceeds 20 dB
    double yMin = 0.001;
    bool realWave = false;
};
// The 1000-sample test signal drawn for an empty waveform.
ComplexVector ccdfTestSignal();
// `realWave`: no sample has a nonzero imaginary part (a real host array, or complex with all
// imaginary parts 0). An empty waveform is replaced by the test signal first.
CcdfData ccdfData(const ComplexVector& iqWave, bool realWave);

// ---- spectrum and waterfall -------------------------------------------------------------

// The FFT bins of a length-n transform in display order: indices (0-based) a-1 .. n-1 then
// 0 .. b-1 with a = round(n/2), b = round(n/2 - 1), halves away from zero.
std::vector<std::size_t> displayBinOrder(std::size_t n);
// n points from -fMax to +fMax inclusive, fMax = sampleRate / (2 divider).
RealVector frequencyAxis(std::size_t n, double sampleRate, double divider);

struct SpectrumData {
    RealVector f;          // frequency axis in `units`
    RealVector magSignal;  // dB, peak at 0
    double fMin = 0, fMax = 0, mMin = 0, mMax = 0;
    FrequencyUnits units;
};
// One FFT over every sample (FFTW, plans reused); sampleRate <= 0 counts as 1; an empty
// waveform gives the 10-point test shape.
SpectrumData spectrumData(double sampleRate, const ComplexVector& iqWave);

struct WaterfallData {
    std::size_t n = 0;     // samples (and frequency bins) per slice
    std::size_t m = 0;     // slices
    RealVector f;          // n frequencies in `fUnits`
    RealVector sliceTime;  // m slice start times in `tUnits`: (i - 1) x n x multiplier / sampleRate
    RealVector levels;     // n x m, column-major: column i is slice i in display bin order, dB
    double fMin = 0, fMax = 0, tMax = 0, mMin = 0, mMax = 0;
    FrequencyUnits fUnits;
    TimeUnits tUnits;
};
// Slices of ceil(period x sampleRate) samples (at least 10), zeros appended to fill the last;
// the level of each bin is 10 log10 of the squared real part of its FFT value.
WaterfallData waterfallData(double sampleRate, double period, const ComplexVector& iqWave);

// ---- time, eye and scatter ----------------------------------------------------------------

struct IqTimeData {
    RealVector t, i, q;  // t from 0 to tMax in `units`
    double iMax = 0;     // largest |I| or |Q|; the amplitude axis is [-iMax, iMax]
    double tMax = 0;
    TimeUnits units;
    bool testCircle = false;  // an empty waveform: 100-point circle, label "No Data"
};
IqTimeData iqTimeData(double sampleRate, const ComplexVector& iqWave);

// The arguments of the eye and scatter plots as the windows pass them on: n raised to at
// least 1, offset limited to 0 .. n - 1, and (eye only) a period of 0 taken as 1.
struct EyeArguments {
    double n = 1, period = 1, offset = 0;
};
EyeArguments clampEyeArguments(double n, double period, double offset);
struct ScatterArguments {
    double n = 1, offset = 0;
};
ScatterArguments clampScatterArguments(double n, double offset);

struct EyeData {
    std::size_t pointsPerTrace = 0;  // n + 1
    std::size_t traces = 0;
    RealVector time;                 // pointsPerTrace values from -period/2 to +period/2
    RealVector iTraces, qTraces;     // traces x pointsPerTrace, trace after trace
};
// The library eye diagram: traces of one period each, the (offset + 1)-th sample and every
// n-th after it at time 0. Throws host::Error with "Input variable X is empty.",
// "N must be an integer greater than 1.", "PERIOD must be a positive number." or
// "OFFSET must be a nonnegative integer less than N.".
EyeData eyeDiagramData(const ComplexVector& x, double n, double period, double offset);

struct ScatterData {
    RealVector i, q;  // x(offset + 1), x(offset + 1 + n), ...
};
// The library scatter plot's points. Throws host::Error with "Input variable X is empty.",
// "N must be a positive integer." or "OFFSET must be a nonnegative integer.".
ScatterData scatterData(const ComplexVector& x, double n, double offset);

}  // namespace ui::plot
