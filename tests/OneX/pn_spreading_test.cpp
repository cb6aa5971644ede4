#include "OneX/pn_spreading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;

namespace {

RealVector bitsOf(const std::string& text) {
    RealVector v;
    for (char c : text)
        if (c == '0' || c == '1') v.push_back(c - '0');
    return v;
}

RealVector slice(const RealVector& v, std::size_t first1, std::size_t last1) {
    return RealVector(v.begin() + static_cast<std::ptrdiff_t>(first1 - 1), v.begin() + static_cast<std::ptrdiff_t>(last1));
}

std::size_t longestCyclicZeroRun(const RealVector& v) {
    std::size_t best = 0, run = 0;
    for (std::size_t i = 0; i < 2 * v.size(); ++i) {
        run = v[i % v.size()] == 0 ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

// The sequence built literally: the register output with a 0 in front, repeated.
RealVector literalPn(const RealVector& taps, std::size_t reps) {
    RealVector seed(15, 0);
    seed.back() = 1;
    RealVector s{0};
    const RealVector a = lfsr(15, taps, 32767, seed);
    s.insert(s.end(), a.begin(), a.end());
    return OneX_Repeat(s, reps);
}

const RealVector kTapsI = bitsOf("1000010111000101");
const RealVector kTapsQ = bitsOf("1001111000111001");

}  // namespace

// Chips 1 to 64 and 32753 to 32768 of each sequence, as an independent generator of the
// standard's short codes gives them.
TEST(ShortPn, KnownChipsOfBothSequences) {
    const RealVector i = OneX_PNiSequence(1), q = OneX_PNqSequence(1);
    ASSERT_EQ(i.size(), 32768u);
    ASSERT_EQ(q.size(), 32768u);
    EXPECT_EQ(slice(i, 1, 64), bitsOf("0000000000000001 0101001001110100 0110111100110010 0000111100001000"));
    EXPECT_EQ(slice(i, 32753, 32768), bitsOf("0110011110100001"));
    EXPECT_EQ(slice(q, 1, 64), bitsOf("0000000000000001 0011110101110101 1010011100010100 1110011100011011"));
    EXPECT_EQ(slice(q, 32753, 32768), bitsOf("0001111100111001"));
}

// In time order each sequence follows its polynomial's recursion over the whole period (past
// the inserted 0), holds 16384 ones, and its longest run of 0s, cyclically, is 15.
TEST(ShortPn, TimeOrderRecursionBalanceAndLongestZeroRun) {
    const std::pair<RealVector, std::vector<std::size_t>> sequences[] = {
        {OneX_PNiSequence(1), {15, 10, 8, 7, 6, 2}}, {OneX_PNqSequence(1), {15, 12, 11, 10, 9, 5, 4, 3}}};
    for (const auto& [pn, lags] : sequences) {
        std::size_t broken = 0;
        for (std::size_t n = 40; n < pn.size(); ++n) {  // index n is chip n + 1
            double x = 0;
            for (std::size_t lag : lags) x += pn[n - lag];
            broken += std::fmod(x, 2.0) != pn[n];
        }
        EXPECT_EQ(broken, 0u);
        EXPECT_EQ(std::count(pn.begin(), pn.end(), 1.0), 16384);
        EXPECT_EQ(longestCyclicZeroRun(pn), 15u);
    }
}

TEST(ShortPn, RepetitionsEqualTheLiteralConstruction) {
    EXPECT_EQ(OneX_PNiSequence(3), literalPn(kTapsI, 3));
    EXPECT_EQ(OneX_PNqSequence(2), literalPn(kTapsQ, 2));
    EXPECT_THROW(OneX_PNiSequence(0), host::Error);
}

TEST(Lfsr, FollowsTheRecurrence) {
    RealVector seed{1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0, 1, 1, 1};
    const RealVector a = lfsr(15, kTapsI, 2000, seed);
    ASSERT_EQ(a.size(), 2000u);
    for (std::size_t i = 15; i < a.size(); ++i) {
        // a(i) = a(i-15) xor a(i-10) xor a(i-8) xor a(i-7) xor a(i-6) xor a(i-2), 1-based.
        const int x = static_cast<int>(a[i - 15]) ^ static_cast<int>(a[i - 10]) ^ static_cast<int>(a[i - 8]) ^
                      static_cast<int>(a[i - 7]) ^ static_cast<int>(a[i - 6]) ^ static_cast<int>(a[i - 2]);
        EXPECT_EQ(a[i], x) << i;
    }
    const RealVector q = lfsr(15, kTapsQ, 500, seed);
    for (std::size_t i = 15; i < q.size(); ++i) {
        const int x = static_cast<int>(q[i - 15]) ^ static_cast<int>(q[i - 12]) ^ static_cast<int>(q[i - 11]) ^
                      static_cast<int>(q[i - 10]) ^ static_cast<int>(q[i - 9]) ^ static_cast<int>(q[i - 5]) ^
                      static_cast<int>(q[i - 4]) ^ static_cast<int>(q[i - 3]);
        EXPECT_EQ(q[i], x) << i;
    }
}

TEST(Lfsr, EdgesAndBadInput) {
    EXPECT_EQ(lfsr(3, RealVector{1, 1, 0}, 2, RealVector{1, 0, 1}), (RealVector{1, 0, 1}));  // the seed stays whole
    EXPECT_THROW(lfsr(15, RealVector(14, 1), 100, RealVector(15, 0)), host::Error);
    EXPECT_THROW(lfsr(15, kTapsI, 100, RealVector(14, 0)), host::Error);
    EXPECT_THROW(lfsr(0, kTapsI, 100, RealVector{}), host::Error);
    // Through the host, with the counts given as doubles.
    auto out = host::callFunction("lfsr", 1, {Array::scalar(2), Array::row(RealVector{1, 1}), Array::scalar(6),
                                              Array::row(RealVector{0, 1})});
    EXPECT_EQ(out[0], Array::row(RealVector{0, 1, 1, 0, 1, 1}));
    EXPECT_THROW(host::callFunction("lfsr", 1, {Array::scalar(2), Array::row(RealVector{1, 1}), Array::scalar(1e12),
                                                Array::row(RealVector{0, 1})}),
                 host::Error);
}

TEST(CircularShiftRight, RoundsAndRefuses) {
    const RealVector v{1, 2, 3, 4, 5};
    EXPECT_EQ(CircularShiftRight(v, 2.6), (RealVector{3, 4, 5, 1, 2}));
    EXPECT_EQ(CircularShiftRight(v, 0.5), (RealVector{5, 1, 2, 3, 4}));  // half away from zero
    EXPECT_EQ(CircularShiftRight(v, -1), v);
    EXPECT_EQ(CircularShiftRight(v, 0), v);
    EXPECT_EQ(CircularShiftRight(v, 5), v);
    EXPECT_THROW(CircularShiftRight(v, 6), host::Error);
    EXPECT_THROW(CircularShiftRight(v, std::nan("")), host::Error);
    auto col = host::callFunction("CircularShiftRight", 1, {Array::column(v), Array::scalar(1)});
    EXPECT_EQ(col[0], Array::column(RealVector{5, 1, 2, 3, 4}));
}

TEST(QuadSpreading, AllOnesFrameGivesTheComplexPn) {
    const RealVector i = OneX_PNiSequence(1), q = OneX_PNqSequence(1);
    const ComplexVector out = OneX_FwdQuadSpreading(ComplexVector(32768, Complex(1, 0)), 0);
    ASSERT_EQ(out.size(), 32768u);
    for (std::size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], Complex(1 - 2 * i[k], 1 - 2 * q[k])) << k;
    EXPECT_EQ(out, complexPnSequence(0));
}

TEST(QuadSpreading, PilotOffsetDelaysThePn) {
    const ComplexVector ones(32768, Complex(1, 0));
    const ComplexVector base = OneX_FwdQuadSpreading(ones, 0);
    const ComplexVector one = OneX_FwdQuadSpreading(ones, 1);
    EXPECT_EQ(one[64], base[0]);  // chip 65 uses what index 0 puts at chip 1
    EXPECT_EQ(one, CircularShiftRight(base, 64));
    const ComplexVector last = OneX_FwdQuadSpreading(ones, 511);
    EXPECT_EQ(last[32704], base[0]);
    EXPECT_EQ(last, complexPnSequence(511));
    EXPECT_EQ(OneX_FwdQuadSpreading(ones, 512), base);  // a whole period of delay
    EXPECT_THROW(OneX_FwdQuadSpreading(ones, 513), host::Error);
}

TEST(QuadSpreading, ComplexChipsAndSeveralPeriods) {
    std::mt19937 gen(7);
    std::normal_distribution<double> n;
    ComplexVector frame(2 * 32768);
    for (auto& c : frame) c = Complex(n(gen), n(gen));
    const ComplexVector out = OneX_FwdQuadSpreading(frame, 37);
    const ComplexVector pn = complexPnSequence(37);
    for (std::size_t k = 0; k < frame.size(); ++k) {
        const Complex expected = frame[k] * pn[k % 32768];
        ASSERT_NEAR(out[k].real(), expected.real(), 1e-12);
        ASSERT_NEAR(out[k].imag(), expected.imag(), 1e-12);
    }
}

TEST(QuadSpreading, OnlyWholePeriodsCanBeSpread) {
    for (std::size_t n : {0u, 1u, 32767u, 32769u, 40000u}) {
        try {
            OneX_FwdQuadSpreading(ComplexVector(n), 0);
            FAIL() << n;
        } catch (const host::Error& e) {
            EXPECT_NE(std::string(e.what()).find("not a whole number of 32768-chip PN periods"), std::string::npos);
        }
    }
    EXPECT_THROW(host::callFunction("OneX_FwdQuadSpreading", 1, {Array::zeros(16, 2048), Array::scalar(0)}),
                 host::Error);
    auto col = host::callFunction("OneX_FwdQuadSpreading", 1, {Array::column(RealVector(32768, 1.0)), Array::scalar(0)});
    EXPECT_EQ(col[0].rows(), 32768u);
    EXPECT_TRUE(col[0].isComplex());
}
