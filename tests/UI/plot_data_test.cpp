#include "UI/plot_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "error_message.h"

using namespace ui::plot;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ComplexVector gaussianNoise(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> g;
    ComplexVector x(n);
    for (auto& v : x) v = {g(gen), g(gen)};
    return x;
}

// Direct DFT bin k of x: the reference for the transforms.
Complex dftBin(const ComplexVector& x, std::size_t k) {
    Complex sum;
    for (std::size_t t = 0; t < x.size(); ++t)
        sum += x[t] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>((k * t) % x.size()) / static_cast<double>(x.size()));
    return sum;
}

// N samples of power 1 and one whose power is `peakDb` above the average.
ComplexVector singlePeak(std::size_t n, double peakDb) {
    const double r = std::pow(10, peakDb / 10), d = static_cast<double>(n);
    ComplexVector x(n, 1.0);
    x[0] = std::sqrt(r * (d - 1) / (d - r));
    return x;
}

void expectRectNear(const Rect& actual, const Rect& expected) {
    EXPECT_NEAR(actual.left, expected.left, 1e-9);
    EXPECT_NEAR(actual.bottom, expected.bottom, 1e-9);
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

}  // namespace

TEST(PlotUnits, PowersOfAThousand) {
    EXPECT_EQ(DetermineFrequencyUnits(6144000).unit, "MHz");
    EXPECT_EQ(DetermineFrequencyUnits(6144000).divider, 1e6);
    EXPECT_EQ(DetermineFrequencyUnits(1).unit, "Hz");
    EXPECT_EQ(DetermineFrequencyUnits(999).unit, "Hz");
    EXPECT_EQ(DetermineFrequencyUnits(1000).unit, "kHz");
    EXPECT_EQ(DetermineFrequencyUnits(0.5).unit, "GHz");
    EXPECT_EQ(DetermineFrequencyUnits(kNaN).divider, 1e9);
    EXPECT_EQ(DetermineTimeUnits(0.0267).unit, "mS");
    EXPECT_EQ(DetermineTimeUnits(0.0267).multiplier, 1000);
    EXPECT_EQ(DetermineTimeUnits(1).unit, "S");
    EXPECT_EQ(DetermineTimeUnits(2e-5).unit, "uS");
    EXPECT_EQ(DetermineTimeUnits(5e-7).unit, "nS");
    EXPECT_EQ(DetermineTimeUnits(5e-10).unit, "pS");
    EXPECT_EQ(DetermineTimeUnits(2000).unit, "pS");
}

TEST(PlotPlacement, FixedPlacesAndPlacesBesideTheParent) {
    EXPECT_EQ(plotWindowPosition(Placement::Standard, std::nullopt, true), (Rect{150, 150, 340, 340}));
    EXPECT_EQ(plotWindowPosition(Placement::Spectrum, std::nullopt, true), (Rect{50, 480, 300, 300}));
    EXPECT_EQ(plotWindowPosition(Placement::Waterfall, std::nullopt, true), (Rect{100, 100, 300, 300}));
    EXPECT_EQ(plotWindowPosition(Placement::Standard, std::nullopt, false), (Rect{0.1, 0.1, 0.5, 0.5}));
    EXPECT_EQ(plotWindowPosition(Placement::Waterfall, std::nullopt, false), (Rect{0, 0, 0.5, 0.5}));
    const Rect parent{100, 200, 400, 300};
    expectRectNear(plotWindowPosition(Placement::Standard, parent, true), {132, 176, 320, 240});
    expectRectNear(plotWindowPosition(Placement::Spectrum, parent, true), {140, 254, 320, 240});
    expectRectNear(plotWindowPosition(Placement::Waterfall, parent, false), {164, 152, 320, 240});
    expectRectNear(adjustedAxesPosition({0.13, 0.11, 0.775, 0.815}), {0.156, 0.154, 0.775, 0.815 / 1.1});
}

TEST(PlotCcdf, LevelsSpanTwentyDbOrOnePercentPastThePeak) {
    const CcdfData low = ccdfData(singlePeak(100, 8), false);
    EXPECT_EQ(low.maxX, 20);
    ASSERT_EQ(low.X.size(), 201u);
    EXPECT_NEAR(low.X[1], 0.1, 1e-12);
    EXPECT_NEAR(low.X.back(), 20, 1e-12);
    EXPECT_EQ(low.Y[0], 1.0);  // only the peak is above the average, and up to 7.9 dB
    EXPECT_EQ(low.Y[79], 1.0);
    EXPECT_EQ(low.Y[81], 1e-300);
    EXPECT_NEAR(ccdfData(singlePeak(1000, 25), false).maxX, 25.25, 1e-9);
}

TEST(PlotCcdf, CountsMatchABruteForceCount) {
    ComplexVector x = gaussianNoise(200000, 7);
    x[5] = 0;  // a zero sample: lifted, never -Inf
    const CcdfData d = ccdfData(x, false);
    double total = 0;
    for (const auto& v : x) total += std::max(std::norm(v), 1e-300);
    const double averageDb = 10 * std::log10(total / 200000);
    double smallestReached = 100;
    for (std::size_t i = 0; i < d.X.size(); ++i) {
        std::size_t count = 0;
        for (const auto& v : x) count += 10 * std::log10(std::norm(v) + 1e-300) - averageDb >= d.X[i];
        const double percent = 100.0 * static_cast<double>(count) / 200000;
        if (count > 0) smallestReached = percent;
        EXPECT_EQ(d.Y[i], percent + 1e-300) << "level " << d.X[i];
    }
    EXPECT_EQ(d.yMin, smallestReached);
    EXPECT_LT(d.yMin, 0.001);
}

TEST(PlotCcdf, ConstantEnvelopeZerosAndNaN) {
    const CcdfData flat = ccdfData(ComplexVector(64, Complex{1, 1}), false);
    EXPECT_EQ(flat.Y[0], 100);
    EXPECT_EQ(flat.Y[1], 1e-300);
    EXPECT_EQ(flat.yMin, 0.001);

    ComplexVector half(100, 1.0);
    std::fill(half.begin(), half.begin() + 50, Complex{});
    const CcdfData zeros = ccdfData(half, false);
    EXPECT_EQ(zeros.Y[0], 50);  // the ones are 3 dB above the average
    EXPECT_EQ(zeros.Y[30], 50);
    EXPECT_EQ(zeros.Y[31], 1e-300);
    for (double y : zeros.Y) EXPECT_TRUE(std::isfinite(y));

    ComplexVector broken = gaussianNoise(100, 1);
    broken[3] = {kNaN, 0};
    const CcdfData nan = ccdfData(broken, false);
    ASSERT_EQ(nan.Y.size(), 201u);
    EXPECT_LT(nan.Y[0], 100);  // the NaN sample counts among the points, never as reached
    EXPECT_GT(nan.Y[0], 10);   // and leaves the average of the others intact
}

TEST(PlotCcdf, GaussianReferenceAndTestSignal) {
    const ComplexVector x = gaussianNoise(1000, 3);
    EXPECT_NEAR(ccdfData(x, false).Y1[0], 100 * std::exp(-1.0), 1e-12);
    EXPECT_NEAR(ccdfData(x, true).Y1[0], 31.731050786291, 1e-9);  // 100 erfc(1 / sqrt 2)
    const CcdfData real = ccdfData(x, true);
    EXPECT_NEAR(real.Y1[100], 100 * std::erfc(std::sqrt(10.0) / std::numbers::sqrt2), 1e-12);

    const ComplexVector test = ccdfTestSignal();
    ASSERT_EQ(test.size(), 1000u);
    EXPECT_NEAR(std::abs(test.front()), 0.5, 1e-12);
    EXPECT_NEAR(test.front().real(), 0.5, 1e-12);
    const CcdfData empty = ccdfData({}, true);
    EXPECT_FALSE(empty.realWave);
    EXPECT_EQ(empty.Y, ccdfData(test, false).Y);
}

TEST(PlotSpectrum, DisplayOrderAndFrequencyAxis) {
    using Order = std::vector<std::size_t>;
    EXPECT_EQ(displayBinOrder(0), Order{});
    EXPECT_EQ(displayBinOrder(1), Order{0});
    EXPECT_EQ(displayBinOrder(2), (Order{0, 1}));
    EXPECT_EQ(displayBinOrder(5), (Order{2, 3, 4, 0, 1}));
    EXPECT_EQ(displayBinOrder(8), (Order{3, 4, 5, 6, 7, 0, 1, 2}));
    EXPECT_EQ(frequencyAxis(5, 10e3, 1e3), (RealVector{-5, -2.5, 0, 2.5, 5}));
    EXPECT_EQ(frequencyAxis(1, 10, 1), RealVector{0});
}

TEST(PlotSpectrum, MatchesDirectTransformInDisplayOrder) {
    for (std::size_t n : {9u, 12u, 40000u}) {  // the last large enough for the in-place path
        const ComplexVector x = gaussianNoise(n, static_cast<unsigned>(n));
        const SpectrumData d = spectrumData(1e3, x);
        const auto order = displayBinOrder(n);
        std::size_t peak = 0;
        for (std::size_t k = 1; k < n; ++k)
            if (d.magSignal[k] > d.magSignal[peak]) peak = k;
        const double peakPower = std::norm(dftBin(x, order[peak]));
        for (std::size_t k = 0; k < n; k += n / 7 + 1)
            EXPECT_NEAR(d.magSignal[k], 10 * std::log10(std::norm(dftBin(x, order[k])) / peakPower), 1e-6) << n << " bin " << k;
    }
}

TEST(PlotSpectrum, ToneAtAQuarterOfTheSampleRate) {
    const std::size_t n = 1024;
    const double fs = 1.024e6;
    ComplexVector x(n);
    for (std::size_t t = 0; t < n; ++t) x[t] = std::polar(1.0, std::numbers::pi / 2 * static_cast<double>(t));
    const SpectrumData d = spectrumData(fs, x);
    EXPECT_EQ(d.units.unit, "MHz");
    const auto order = displayBinOrder(n);
    const std::size_t peak = static_cast<std::size_t>(std::find(order.begin(), order.end(), n / 4) - order.begin());
    EXPECT_EQ(d.magSignal[peak], 0);
    for (std::size_t k = 0; k < n; ++k)
        if (k != peak) {
            EXPECT_LT(d.magSignal[k], -100) << k;
        }
    // The display order puts each bin within two places of its frequency on the axis.
    EXPECT_NEAR(d.f[peak] * d.units.divider, fs / 4, 2 * fs / n);
    EXPECT_EQ(d.mMax, 0);
    EXPECT_EQ(d.mMin, -100);
    EXPECT_EQ(d.fMax, 0.512);
}

TEST(PlotSpectrum, EmptyZeroAndBrokenWaveforms) {
    const SpectrumData shape = spectrumData(0, {});
    ASSERT_EQ(shape.magSignal.size(), 10u);
    EXPECT_NEAR(shape.magSignal[0], -60, 1e-9);
    EXPECT_EQ(shape.magSignal[4], 0);
    EXPECT_EQ(shape.mMin, -60);
    EXPECT_EQ(shape.units.unit, "Hz");
    EXPECT_EQ(shape.fMax, 0.5);  // a sample rate of 0 counts as 1
    EXPECT_EQ(shape.f.front(), -0.5);

    const SpectrumData silent = spectrumData(kNaN, ComplexVector(16));
    for (double v : silent.magSignal) EXPECT_EQ(v, 0);
    EXPECT_EQ(silent.fMax, 0.5);

    ComplexVector broken = gaussianNoise(16, 2);
    broken[4] = {kNaN, 0};
    const SpectrumData nan = spectrumData(1e3, broken);
    EXPECT_EQ(nan.mMin, -100);
    EXPECT_EQ(nan.mMax, 0);
}

TEST(PlotWaterfall, DefaultFrameSlicesAndPaddedLastSlice) {
    const double fs = 6144000;
    const ComplexVector x = gaussianNoise(163840, 11);
    const WaterfallData d = waterfallData(fs, (163840 / fs) / 200, x);
    ASSERT_EQ(d.n, 820u);
    ASSERT_EQ(d.m, 200u);
    ASSERT_EQ(d.levels.size(), 820u * 200u);
    EXPECT_EQ(d.f.size(), 820u);
    EXPECT_EQ(d.fUnits.unit, "MHz");
    EXPECT_EQ(d.tUnits.unit, "mS");
    EXPECT_NEAR(d.sliceTime[1], 820 / fs * 1e3, 1e-12);
    EXPECT_NEAR(d.tMax, 199 * 820 / fs * 1e3, 1e-9);

    ComplexVector last(x.end() - 660, x.end());
    last.resize(820);  // 160 zeros appended
    const auto order = displayBinOrder(820);
    for (std::size_t r = 0; r < 820; r += 41) {
        const double re = dftBin(last, order[r]).real();
        EXPECT_NEAR(d.levels[199 * 820 + r], 10 * std::log10(re * re), 1e-6) << r;
    }
    EXPECT_GE(d.mMin, d.mMax - 100);
}

TEST(PlotWaterfall, SliceLengths) {
    const ComplexVector x = gaussianNoise(1000, 5);
    EXPECT_EQ(waterfallData(1e6, 123 / 1e6, x).n, 123u);  // 123 / 1e6 x 1e6 is 123.00000000000001
    EXPECT_EQ(waterfallData(6144000, 133.333e-6, ComplexVector(2000)).n, 820u);
    EXPECT_EQ(waterfallData(1e6, 0, x).n, 10u);
    EXPECT_EQ(waterfallData(1e6, kNaN, x).n, 10u);
    EXPECT_EQ(waterfallData(1e6, 1e-9, x).n, 10u);
    const WaterfallData whole = waterfallData(1e6, 1e300, x);
    EXPECT_EQ(whole.n, 1000u);
    EXPECT_EQ(whole.m, 1u);
    EXPECT_EQ(waterfallData(-5, 30, x).n, 30u);  // a negative rate counts as 1
}

TEST(PlotWaterfall, TestPatternAndLimitsFromFiniteLevels) {
    const WaterfallData pattern = waterfallData(1e3, 0, {});
    ASSERT_EQ(pattern.levels.size(), 50u);
    const double half = 10 * std::log10(0.25);
    for (std::size_t c = 0; c < 5; ++c)
        for (std::size_t r = 0; r < 10; ++r) EXPECT_EQ(pattern.levels[c * 10 + r], (c == 2 || r == 4) ? half : 0) << r << "," << c;
    EXPECT_EQ(pattern.mMin, -10);
    EXPECT_EQ(pattern.mMax, 0);

    ComplexVector x = gaussianNoise(20, 9);
    std::fill(x.begin(), x.begin() + 10, Complex{});  // a silent first slice: -Inf levels
    const WaterfallData d = waterfallData(1, 10, x);
    EXPECT_EQ(d.levels[0], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isfinite(d.mMin) && std::isfinite(d.mMax));
    EXPECT_GT(d.mMax, 0);

    x[15] = {kNaN, 0};
    std::fill(x.begin(), x.begin() + 10, Complex{});
    const WaterfallData nan = waterfallData(1, 10, x);
    EXPECT_EQ(nan.mMin, -100);
    EXPECT_EQ(nan.mMax, 0);
}

TEST(PlotTime, AxisUnitsAndTestCircle) {
    ComplexVector x = gaussianNoise(65536, 4);
    x[100] = {0.5, -9.5};
    const IqTimeData d = iqTimeData(2.4576e6, x);
    EXPECT_EQ(d.units.unit, "mS");
    EXPECT_NEAR(d.tMax, 26.6666666666667, 1e-9);
    EXPECT_EQ(d.t.back(), d.tMax);
    EXPECT_EQ(d.t.front(), 0);
    EXPECT_EQ(d.iMax, 9.5);
    EXPECT_EQ(d.q[100], -9.5);

    const IqTimeData circle = iqTimeData(-1, {});
    EXPECT_TRUE(circle.testCircle);
    ASSERT_EQ(circle.i.size(), 100u);
    EXPECT_NEAR(circle.i.front(), 1, 1e-12);
    EXPECT_NEAR(circle.iMax, 1, 1e-3);
    EXPECT_EQ(circle.tMax, 100);  // 100 points at 1 sample per second
    EXPECT_EQ(iqTimeData(1, ComplexVector{1}).t, RealVector{0});
}

TEST(PlotEye, ArgumentsAndErrorsInOrder) {
    EXPECT_EQ(clampEyeArguments(0, 0, -2).n, 1);
    EXPECT_EQ(clampEyeArguments(0, 0, -2).period, 1);
    EXPECT_EQ(clampEyeArguments(4, -3, 10).offset, 3);
    EXPECT_EQ(clampEyeArguments(4, -3, 10).period, -3);
    EXPECT_EQ(clampEyeArguments(4, 1, -1).offset, 0);
    EXPECT_EQ(clampScatterArguments(-7, 10).n, 1);
    EXPECT_EQ(clampScatterArguments(-7, 10).offset, 0);
    EXPECT_EQ(clampScatterArguments(kNaN, kNaN).offset, 0);

    const ComplexVector x(10);
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData({}, 0.5, -1, -1); }), "Input variable X is empty.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 1, -1, -1); }), "N must be an integer greater than 1.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 2.5, 1, 0); }), "N must be an integer greater than 1.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 2, 0, -1); }), "PERIOD must be a positive number.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 2, kNaN, 0); }), "PERIOD must be a positive number.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 2, 1, 2); }), "OFFSET must be a nonnegative integer less than N.");
    EXPECT_EQ(errorMessageOf([&] { eyeDiagramData(x, 2, 1, 0.5); }), "OFFSET must be a nonnegative integer less than N.");
    EXPECT_EQ(errorMessageOf([&] { scatterData(x, 0, 0); }), "N must be a positive integer.");
    EXPECT_EQ(errorMessageOf([&] { scatterData(x, 3, -1); }), "OFFSET must be a nonnegative integer.");
    EXPECT_EQ(scatterData(x, 1, 3).i.size(), 7u);  // a trajectory from the fourth sample on
    EXPECT_EQ(errorMessageOf([&] { scatterData({}, 3, 3); }), "Input variable X is empty.");
}

TEST(PlotEye, TracesCentredOnTheOffsetSamples) {
    ComplexVector x(20);
    for (std::size_t k = 0; k < x.size(); ++k) x[k] = {double(k), -double(k)};
    const EyeData even = eyeDiagramData(x, 4, 2, 1);
    EXPECT_EQ(even.time, (RealVector{-1, -0.5, 0, 0.5, 1}));
    ASSERT_EQ(even.traces, 4u);  // samples 3..7, 7..11, 11..15, 15..19
    ASSERT_EQ(even.iTraces.size(), 20u);
    EXPECT_EQ(RealVector(even.iTraces.begin(), even.iTraces.begin() + 5), (RealVector{3, 4, 5, 6, 7}));
    EXPECT_EQ(even.iTraces[3 * 5 + 2], 17);  // the (offset + 1)-th sample and every 4th: 1, 5, .. 17
    EXPECT_EQ(even.qTraces[3 * 5 + 4], -19);

    const EyeData odd = eyeDiagramData(x, 5, 1, 3);  // windows from 1, 6 and 11; 16 .. 21 runs past the end
    EXPECT_EQ(odd.traces, 3u);
    EXPECT_EQ(odd.iTraces[5], 6);
    EXPECT_EQ(odd.time.front(), -0.5);
    EXPECT_EQ(odd.time.back(), 0.5);
    EXPECT_EQ(eyeDiagramData(x, 20, 1, 0).traces, 0u);
    EXPECT_EQ(eyeDiagramData(x, 1e300, 1, 0).traces, 0u);
}

TEST(PlotScatter, EveryNthSampleFromTheOffset) {
    ComplexVector x(10);
    for (std::size_t k = 0; k < x.size(); ++k) x[k] = {double(k), 1};
    EXPECT_EQ(scatterData(x, 3, 2).i, (RealVector{2, 5, 8}));
    EXPECT_EQ(scatterData(x, 1, 0).q.size(), 10u);
    EXPECT_EQ(scatterData(x, 1e300, 4).i, RealVector{4});
    EXPECT_TRUE(scatterData(x, 100, 50).i.empty());
}
