#include "error_message.h"
#include "OneX/phase_equaliser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "OneX/baseband_filter.h"
#include "OneX/literal_filters.h"
#include "OneX/parameters.h"
#include "host/console.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/records.h"

using namespace onex;
using host::Array;

namespace {

constexpr double kPi = std::numbers::pi;

Complex digitalResponse(const Biquad& q, double f, double fs) {
    const Complex z1 = std::polar(1.0, -2 * kPi * f / fs);
    return (q.b[0] + q.b[1] * z1 + q.b[2] * z1 * z1) / (q.a[0] + q.a[1] * z1 + q.a[2] * z1 * z1);
}

Complex analogResponse(double f) {
    const Complex s(0, 2 * kPi * f);
    const double w = kEqualiserOmega0, a = kEqualiserAlpha;
    return (s * s - a * w * s + w * w) / (s * s + a * w * s + w * w);
}

ComplexVector randomFrame(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> d;
    ComplexVector x(n);
    for (auto& v : x) v = Complex(d(gen), d(gen));
    return x;
}

void setFilterType(double type) { applicationParameters().setField("FilterType", Array::scalar(type)); }

}  // namespace

TEST(Eqlrfilt, AllPassMatchedToTheAnalogPrototypeAt500kHz) {
    for (int os : {2, 5, 30}) {
        const double fs = 1228800.0 * os;
        const Biquad q = eqlrfilt(fs);
        EXPECT_EQ(q.a[0], 1.0);
        // All-pass: the numerator is the reversed denominator.
        EXPECT_NEAR(q.b[0], q.a[2], 1e-15);
        EXPECT_NEAR(q.b[1], q.a[1], 1e-15);
        EXPECT_NEAR(q.b[2], 1.0, 1e-15);
        for (double f : {0.0, 100e3, 315e3, 600e3, fs / 3}) EXPECT_NEAR(std::abs(digitalResponse(q, f, fs)), 1.0, 1e-13);
        // Pre-warping makes the digital phase equal the analog phase at the match frequency.
        const Complex d = digitalResponse(q, kEqualiserMatchHz, fs), a = analogResponse(kEqualiserMatchHz);
        EXPECT_NEAR(d.real(), a.real(), 1e-12);
        EXPECT_NEAR(d.imag(), a.imag(), 1e-12);
        // ... and nowhere else in general.
        EXPECT_GT(std::abs(digitalResponse(q, 5e6 < fs / 2 ? 5e6 : fs / 2.2, fs) - analogResponse(5e6 < fs / 2 ? 5e6 : fs / 2.2)), 1e-6);
    }
    auto ba = host::callFunction("eqlrfilt", 2, {Array::scalar(6144000)});
    ASSERT_EQ(ba.size(), 2u);
    EXPECT_EQ(ba[0].cols(), 3u);
    EXPECT_EQ(ba[1].realAt(0), 1.0);
}

TEST(Interpolation, OriginalSamplesPassAndBandLimitedSignalsAreRecovered) {
    const RealVector b = bandLimitedInterpolator(3);
    ASSERT_EQ(b.size(), 2u * 4 * 3 + 1);
    for (std::size_t i = 0; i < b.size(); ++i) EXPECT_NEAR(b[i], b[b.size() - 1 - i], 1e-14);  // linear phase
    const RealVector& table = equaliserTable85();
    for (std::size_t r : {2u, 3u, 5u, 15u}) {
        const RealVector fine = interpolateBandLimited(table, r);
        ASSERT_EQ(fine.size(), table.size() * r);
        for (std::size_t k = 0; k < table.size(); ++k) EXPECT_NEAR(fine[k * r], table[k], 1e-15) << r << " " << k;
    }
    // A slow tone (a tenth of the input rate, well inside the band) is recovered between samples.
    RealVector x(60);
    for (std::size_t k = 0; k < x.size(); ++k) x[k] = std::sin(2 * kPi * 0.1 * static_cast<double>(k));
    const RealVector y = interpolateBandLimited(x, 4);
    for (std::size_t m = 40; m < 200; ++m)
        EXPECT_NEAR(y[m], std::sin(2 * kPi * 0.1 * static_cast<double>(m) / 4), 2e-3) << m;
    EXPECT_THROW(interpolateBandLimited(RealVector(8, 1.0), 2), host::Error);
}

TEST(PhaseEqualiser, TableLengthsPerOversampling) {
    EXPECT_EQ(equaliserTableDesign(1).b.size(), 22u);
    EXPECT_EQ(equaliserTableDesign(2).b.size(), 43u);
    EXPECT_EQ(equaliserTableDesign(4).b.size(), 85u);
    const auto d3 = equaliserTableDesign(3);
    EXPECT_EQ(d3.b.size(), 64u);
    EXPECT_EQ(d3.filterLength, 64u);
    const auto d5 = equaliserTableDesign(5);
    EXPECT_EQ(d5.b.size(), 107u);
    EXPECT_EQ(d5.filterLength, 107u);
    // At 3 samples per chip the table is interpolated to 12 per chip and every fourth tap
    // kept, so tap 3j is original tap 4j.
    for (std::size_t j = 0; 3 * j < 64; ++j) EXPECT_NEAR(d3.b[3 * j], equaliserTable85()[4 * j], 1e-15) << j;
    const auto d20 = equaliserTableDesign(20);
    EXPECT_EQ(d20.forcedOversampling, 15);
    EXPECT_EQ(d20.b, equaliserTableDesign(15).b);
}

TEST(PhaseEqualiser, AllPassSectionEqualsTheLiteralAlgorithm) {
    setFilterType(3);
    for (int os : {2, 5}) {
        const ComplexVector x = randomFrame(3000, static_cast<unsigned>(os));
        const Biquad q = eqlrfilt(1228800.0 * os);
        const ComplexVector expected = literal::equaliser(x, RealVector(q.b.begin(), q.b.end()),
                                                          RealVector(q.a.begin(), q.a.end()), 25 * os, os);
        EXPECT_LT(literal::maxRelativeDifference(OneX_FwdPhaseEq(x, os), expected), 1e-12) << os;
    }
}

TEST(PhaseEqualiser, TablePathEqualsTheLiteralAlgorithmAndWarnsAbove15) {
    setFilterType(4);
    for (int os : {1, 3, 4, 5, 8}) {
        const ComplexVector x = upsample(randomFrame(400, 7), static_cast<std::size_t>(os));
        const EqualiserTableDesign d = equaliserTableDesign(os);
        const ComplexVector expected = literal::equaliser(x, d.b, {1.0}, d.filterLength, static_cast<std::size_t>(os));
        EXPECT_LT(literal::maxRelativeDifference(OneX_FwdPhaseEq(x, os), expected), 1e-12) << os;
    }
    host::clearLastWarning();
    const ComplexVector x = upsample(randomFrame(200, 8), 20);
    const EqualiserTableDesign d = equaliserTableDesign(20);
    const ComplexVector expected = literal::equaliser(x, d.b, {1.0}, d.filterLength, 15);
    EXPECT_LT(literal::maxRelativeDifference(OneX_FwdPhaseEq(x, 20), expected), 1e-12);
    EXPECT_EQ(host::lastWarning(), "Oversampling Ratio should be in [2, 15]. Oversampling Ratio was forced to 15.");
    setFilterType(3);
}

TEST(PhaseEqualiser, ATonekeepsItsMagnitude) {
    setFilterType(3);
    const int os = 5;
    const std::size_t n = 32768;
    ComplexVector tone(n);
    for (std::size_t k = 0; k < n; ++k) tone[k] = std::polar(1.0, 2 * kPi * 517 * static_cast<double>(k) / n);
    const ComplexVector out = OneX_FwdPhaseEq(tone, os);
    for (std::size_t k = 0; k < n; ++k) EXPECT_NEAR(std::abs(out[k]), 1.0, 1e-6) << k;
}

TEST(PhaseEqualiser, ReadsTheApplicationFilterTypeAndRefusesBadInput) {
    const ComplexVector x = upsample(randomFrame(300, 4), 4);
    setFilterType(4);
    EXPECT_EQ(OneX_FwdPhaseEq(x, 4), phaseEqualise(x, 4, true));
    setFilterType(2);
    EXPECT_EQ(OneX_FwdPhaseEq(x, 4), phaseEqualise(x, 4, false));
    EXPECT_NE(phaseEqualise(x, 4, false), phaseEqualise(x, 4, true));
    applicationParameters().setField("FilterType", Array::string("ACP"));
    EXPECT_THROW(OneX_FwdPhaseEq(x, 4), host::Error);
    setFilterType(3);
    EXPECT_THROW(OneX_FwdPhaseEq(ComplexVector(50), 4), host::Error);  // shorter than the pre-roll
    EXPECT_THROW(OneX_FwdPhaseEq(x, 0), host::Error);
}

TEST(CircularShift, RotatesOneRowOrColumn) {
    using host::RealMatrix;
    RealMatrix row(1, 5);
    for (std::size_t i = 0; i < 5; ++i) row(0, i) = static_cast<double>(i + 1);
    EXPECT_EQ(circularShift(row, -2, 1, true).row(0), (RealVector{3, 4, 5, 1, 2}));
    EXPECT_EQ(circularShift(row, 1, 1, true).row(0), (RealVector{5, 1, 2, 3, 4}));
    EXPECT_EQ(circularShift(row, 12, 1, true).row(0), (RealVector{4, 5, 1, 2, 3}));

    auto call = [](std::vector<Array> args) { return host::callFunction("circularShift", 1, args)[0]; };
    const Array m = Array::matrix(2, 3, RealVector{1, 4, 2, 5, 3, 6});  // [1 2 3; 4 5 6]
    EXPECT_EQ(call({m}), Array::matrix(2, 3, RealVector{3, 4, 1, 5, 2, 6}));                // row 1 right by 1
    EXPECT_EQ(call({m, Array::scalar(1), Array::scalar(2)}), Array::matrix(2, 3, RealVector{1, 6, 2, 4, 3, 5}));
    EXPECT_EQ(call({m, Array::scalar(1), Array::scalar(3), Array::string("c")}),
              Array::matrix(2, 3, RealVector{1, 4, 2, 5, 6, 3}));  // column 3 down by 1
    auto message = [&](std::vector<Array> args) {
        return errorMessageOf([&] { call(args); });
    };
    EXPECT_EQ(message({}), "Usage: circularShift(matrix, [amount], [position], [ 'r' | 'c' ] ");
    EXPECT_EQ(message({m, Array::scalar(-2), Array::scalar(3)}), "Row does not exist");
    EXPECT_EQ(message({m, Array::scalar(1), Array::scalar(4), Array::string("c")}), "Column does not exist");
    EXPECT_EQ(message({m, Array::scalar(1.5)}), "circularShift: amount must be a whole number.");
}
