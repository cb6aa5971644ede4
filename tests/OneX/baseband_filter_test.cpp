#include "OneX/baseband_filter.h"

#include <gtest/gtest.h>

#include <random>

#include "OneX/filter_design.h"
#include "OneX/literal_filters.h"
#include "OneX/remez.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;

namespace {

// A zero-stuffed frame of random QPSK-like chips.
ComplexVector stuffedFrame(std::size_t chips, int os, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> n;
    ComplexVector c(chips);
    for (auto& v : c) v = Complex(n(gen), n(gen));
    return upsample(c, static_cast<std::size_t>(os));
}

}  // namespace

TEST(Upsample, ZerosBetweenAndHeldMarkers) {
    EXPECT_EQ(upsample(RealVector{1, 2}, 3), (RealVector{1, 0, 0, 2, 0, 0}));
    EXPECT_EQ(upsampleMarker(RealVector{1, 0}, 3), (RealVector{1, 1, 1, 0, 0, 0}));
    auto col = host::callFunction("upsample", 1, {Array::column(RealVector{1, 2}), Array::scalar(2)});
    EXPECT_EQ(col[0], Array::column(RealVector{1, 0, 2, 0}));
    auto cplx = host::callFunction("upsample", 1, {Array::complexScalar({1, -1}), Array::scalar(2)});
    EXPECT_EQ(cplx[0].complexAt(0), Complex(1, -1));  // not conjugated
    EXPECT_THROW(host::callFunction("upsample", 1, {Array::zeros(2, 2), Array::scalar(2)}), host::Error);
    EXPECT_THROW(host::callFunction("upsample", 1, {Array::scalar(1), Array::scalar(0)}), host::Error);
    EXPECT_THROW(host::callFunction("upsampleMarker", 1, {Array::scalar(1), Array::scalar(-2)}), host::Error);
}

TEST(BasebandFilter, ChoicesByNumberAndKey) {
    EXPECT_EQ(basebandFilterChoice(1.0), BasebandFilterChoice::Rectangular);
    EXPECT_EQ(basebandFilterChoice(2.0), BasebandFilterChoice::Standard);
    EXPECT_EQ(basebandFilterChoice(3.0), BasebandFilterChoice::Acp);
    EXPECT_EQ(basebandFilterChoice(4.0), BasebandFilterChoice::Evm);
    EXPECT_EQ(basebandFilterChoice(7.0), BasebandFilterChoice::Standard);
    EXPECT_EQ(basebandFilterChoice(0.0), BasebandFilterChoice::Standard);
    EXPECT_EQ(basebandFilterChoice("IS95-STD"), BasebandFilterChoice::Standard);
    EXPECT_EQ(basebandFilterChoice("IS95-ACP"), BasebandFilterChoice::Acp);
    EXPECT_EQ(basebandFilterChoice("IS95-EVM"), BasebandFilterChoice::Evm);
    EXPECT_EQ(basebandFilterChoice("is95-acp"), BasebandFilterChoice::Rectangular);
    EXPECT_EQ(basebandFilterChoice(""), BasebandFilterChoice::Rectangular);
}

TEST(BasebandFilter, DesignLengthsAndCache) {
    EXPECT_EQ(FilterCoeff_IS95_Std(5).size(), 60u);
    EXPECT_EQ(FilterCoeff_IS95_Acp(5).size(), 130u);
    EXPECT_EQ(FilterCoeff_IS95_Acp(30).size(), 780u);
    // The second frame pays nothing: the same design object comes back.
    EXPECT_EQ(&FilterCoeff_IS95_Acp(5), &FilterCoeff_IS95_Acp(5));
    // ACP = standard filter convolved with the unit-gain shaping factor.
    const auto& std5 = FilterCoeff_IS95_Std(5);
    const auto& f5 = acpShapingFactor(5);
    const auto& acp5 = FilterCoeff_IS95_Acp(5);
    double stdSum = 0, acpSum = 0;
    for (double v : std5) stdSum += v;
    for (double v : acp5) acpSum += v;
    EXPECT_NEAR(acpSum, stdSum, 1e-13);
    EXPECT_NEAR(acp5[0], std5[0] * f5[0], 1e-18);
    EXPECT_THROW(FilterCoeff_IS95_Std(1), host::Error);
    EXPECT_THROW(host::callFunction("FilterCoeff_IS95_Acp", 1, {Array::scalar(2.5)}), host::Error);
}

// The taps compiled into the library are the design's own numbers, bit for bit, at the
// ends and in the middle of the tabled range; beyond it the design runs when asked.
TEST(BasebandFilter, TabledDesignsAreTheDesignsThemselves) {
    for (int os : {onex::design::kTabledMin, 7, 16, onex::design::kTabledMax}) {
        const onex::design::Tabled* t = onex::design::tabled(os);
        ASSERT_NE(t, nullptr) << os;
        const auto same = [](std::span<const double> a, const std::vector<double>& b) {
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
        };
        EXPECT_TRUE(same(t->standard, onex::design::standardFilter(os))) << os;
        EXPECT_TRUE(same(t->acpFactor, onex::design::acpShapingFactor(os))) << os;
        EXPECT_TRUE(same(t->acp, onex::design::acpFilter(os))) << os;
        EXPECT_TRUE(same(t->acp, FilterCoeff_IS95_Acp(os))) << os;
    }
    EXPECT_EQ(onex::design::tabled(onex::design::kTabledMax + 1), nullptr);
    EXPECT_EQ(FilterCoeff_IS95_Std(31), onex::design::standardFilter(31));
}

TEST(BasebandFilter, FastCircularFirEqualsTheLiteralAlgorithm) {
    for (int os : {2, 5, 8}) {
        const ComplexVector frame = stuffedFrame(2048, os, static_cast<unsigned>(os));
        for (auto choice : {BasebandFilterChoice::Standard, BasebandFilterChoice::Acp}) {
            const RealVector& h = choice == BasebandFilterChoice::Acp ? FilterCoeff_IS95_Acp(os) : FilterCoeff_IS95_Std(os);
            EXPECT_LT(literal::maxRelativeDifference(OneX_BasebandFilter(frame, os, choice), literal::circularFir(frame, h)),
                      1e-12)
                << os;
        }
    }
    // At the largest ratio the ACP filter has 780 taps.
    const ComplexVector frame = stuffedFrame(1024, 30, 30);
    EXPECT_LT(literal::maxRelativeDifference(OneX_BasebandFilter(frame, 30, BasebandFilterChoice::Acp),
                                             literal::circularFir(frame, FilterCoeff_IS95_Acp(30))),
              1e-12);
}

TEST(BasebandFilter, DenseInputTakesTheGeneralPath) {
    std::mt19937 gen(3);
    std::normal_distribution<double> n;
    ComplexVector x(500);
    for (auto& v : x) v = Complex(n(gen), n(gen));
    const RealVector h = FilterCoeff_IS95_Std(4);
    EXPECT_LT(literal::maxRelativeDifference(circularFir(x, h, h.size() / 2, 4), literal::circularFir(x, h)), 1e-12);
    // A stuffing hint that does not hold (one stray sample) must not change the result.
    ComplexVector almost = stuffedFrame(100, 4, 9);
    almost[5] = Complex(0.25, 0);
    EXPECT_LT(literal::maxRelativeDifference(circularFir(almost, h, h.size() / 2, 4), literal::circularFir(almost, h)), 1e-12);
}

// Outputs are written without zeroing the buffer first only when every phase has taps: with
// fewer taps than the stuffing, the other phases are zero even in a reused frame-sized buffer
// that held a previous frame (large buffers are kept for reuse).
TEST(BasebandFilter, PhasesWithoutTapsAreZeroInAReusedBuffer) {
    const ComplexVector frame = stuffedFrame(8192, 8, 11);
    { const ComplexVector previous = circularFir(frame, FilterCoeff_IS95_Std(8), 48, 8); }
    const RealVector shortFilter = {0.5, 0.25, 0.125};
    const ComplexVector out = circularFir(frame, shortFilter, 1, 8);
    EXPECT_LT(literal::maxRelativeDifference(out, literal::circularFir(frame, shortFilter)), 1e-12);
    std::size_t zeros = 0;
    for (const Complex& v : out) zeros += v == Complex(0, 0);
    EXPECT_EQ(zeros, frame.size() / 8 * 5);
}

TEST(BasebandFilter, ImpulseGivesTheCentredResponseWrappedAtTheStart) {
    const int os = 5;
    const RealVector& h = FilterCoeff_IS95_Acp(os);
    const std::size_t n = 200 * os, d = h.size() / 2;
    for (std::size_t p : {std::size_t{400}, std::size_t{10}}) {
        ComplexVector frame(n);
        frame[p] = 1.0;
        const ComplexVector out = OneX_BasebandFilter(frame, os, BasebandFilterChoice::Acp);
        for (std::size_t j = 0; j < h.size(); ++j) {
            const std::size_t k = (p + j + n - d) % n;  // tap j lands j - d samples after p
            EXPECT_NEAR(out[k].real(), h[j], 1e-15) << p << " " << j;
        }
    }
}

TEST(BasebandFilter, ConstantFrameHasNoStartUpTransient) {
    const int os = 4;
    const ComplexVector frame = upsample(ComplexVector(512, Complex(0.5, -0.5)), os);
    const ComplexVector out = OneX_BasebandFilter(frame, os, BasebandFilterChoice::Standard);
    for (std::size_t k = 0; k + os < out.size(); ++k) {
        EXPECT_NEAR(out[k].real(), out[k + os].real(), 1e-14) << k;
        EXPECT_NEAR(out[k].imag(), out[k + os].imag(), 1e-14) << k;
    }
}

TEST(BasebandFilter, RectangularHoldsChipsWithoutWrap) {
    const int os = 3;
    const ComplexVector frame = upsample(ComplexVector{1, Complex(0, 2), -3}, os);
    const ComplexVector out = OneX_BasebandFilter(frame, os, BasebandFilterChoice::Rectangular);
    const ComplexVector expected{1, 1, 1, Complex(0, 2), Complex(0, 2), Complex(0, 2), -3, -3, -3};
    EXPECT_EQ(out, expected);
    // A dense frame: the first samples see no wrapped tail.
    const ComplexVector dense{1, 2, 3, 4, 5};
    EXPECT_EQ(OneX_BasebandFilter(dense, 2, BasebandFilterChoice::Rectangular), literal::rectangular(dense, 2));
    EXPECT_EQ(OneX_BasebandFilter(dense, 2, BasebandFilterChoice::Rectangular)[0], Complex(1, 0));
}

TEST(BasebandFilter, EvmChoicePassesTheFrameAndHostFormsTakeKeys) {
    const ComplexVector frame = stuffedFrame(64, 4, 5);
    EXPECT_EQ(OneX_BasebandFilter(frame, 4, BasebandFilterChoice::Evm), frame);
    Array in = host::toRow(frame);
    auto byKey = host::callFunction("OneX_BasebandFilter", 1, {in, Array::scalar(4), Array::string("IS95-EVM")});
    EXPECT_EQ(byKey[0], in);
    auto acp = host::callFunction("OneX_BasebandFilter", 1, {in, Array::scalar(4), Array::string("IS95-ACP")});
    auto three = host::callFunction("OneX_BasebandFilter", 1, {in, Array::scalar(4), Array::scalar(3)});
    EXPECT_EQ(acp[0], three[0]);
    // Too short a frame for the filter's pre-roll is refused, not read out of bounds.
    EXPECT_THROW(OneX_BasebandFilter(ComplexVector(50), 5, BasebandFilterChoice::Acp), host::Error);
    EXPECT_THROW(OneX_BasebandFilter(frame, 0, BasebandFilterChoice::Standard), host::Error);
    EXPECT_THROW(host::callFunction("OneX_BasebandFilter", 1, {in, Array::scalar(4), Array::cell(1, 1)}), host::Error);
}

TEST(BasebandFilter, FilteringTheChipsEqualsFilteringTheStuffedFrame) {
    for (int os : {1, 3, 8}) {
        const ComplexVector stuffed = stuffedFrame(300, os, 11);
        ComplexVector chips(300);
        for (std::size_t q = 0; q < chips.size(); ++q) chips[q] = stuffed[q * static_cast<std::size_t>(os)];
        for (auto choice : {BasebandFilterChoice::Rectangular, BasebandFilterChoice::Evm, BasebandFilterChoice::Standard,
                            BasebandFilterChoice::Acp}) {
            if (os == 1 && (choice == BasebandFilterChoice::Standard || choice == BasebandFilterChoice::Acp)) continue;
            EXPECT_EQ(basebandFilterChips(chips, os, choice), OneX_BasebandFilter(stuffed, os, choice))
                << os << " " << static_cast<int>(choice);
        }
    }
}
