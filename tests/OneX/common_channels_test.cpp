#include "OneX/common_channels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "host/error.h"
#include "host/function_table.h"
#include "host/random.h"

using namespace onex;
using host::Array;

TEST(WalshMatrix, SylvesterOrderRows) {
    const RealMatrix w = OneX_WalshMatrix(64);
    ASSERT_EQ(w.rows(), 64u);
    ASSERT_EQ(w.cols(), 64u);
    for (std::size_t c = 0; c < 64; ++c) {
        const double pattern[4] = {1, 1, -1, -1};
        EXPECT_EQ(w(2, c), pattern[c % 4]) << c;     // row 3
        EXPECT_EQ(w(32, c), c < 32 ? 1.0 : -1.0);    // row 33
        EXPECT_EQ(w(0, c), 1.0);
    }
    // Rows are mutually orthogonal: W W' = 64 I.
    for (std::size_t a = 0; a < 64; ++a)
        for (std::size_t b = 0; b < 64; ++b) {
            double dot = 0;
            for (std::size_t c = 0; c < 64; ++c) dot += w(a, c) * w(b, c);
            EXPECT_EQ(dot, a == b ? 64.0 : 0.0);
        }
}

TEST(WalshMatrix, OrderIsThePowerOfTwoBelow) {
    EXPECT_EQ(OneX_WalshMatrix(100).rows(), 64u);
    EXPECT_EQ(OneX_WalshMatrix(1), RealMatrix(1, 1, 1.0));
    EXPECT_EQ(OneX_WalshMatrix(0), RealMatrix(1, 1, 1.0));
    EXPECT_EQ(OneX_WalshMatrix(3).rows(), 2u);
    EXPECT_THROW(OneX_WalshMatrix(1e9), host::Error);
    EXPECT_THROW(OneX_WalshMatrix(std::nan("")), host::Error);
}

TEST(MacChannel, IndexToCodeAndBranch) {
    EXPECT_EQ(macWalshCode(4), 2);
    EXPECT_FALSE(macOnQuadrature(4));
    EXPECT_EQ(macWalshCode(5), 34);
    EXPECT_TRUE(macOnQuadrature(5));
    EXPECT_EQ(macWalshCode(63), 63);
    EXPECT_TRUE(macOnQuadrature(63));
    EXPECT_EQ(macWalshCode(62), 31);
    EXPECT_FALSE(macOnQuadrature(62));
}

TEST(MacChannel, SingleRpcChannelIsOnTheQuadratureBranch) {
    const RealMatrix w = OneX_WalshMatrix(64);
    RealVector bits(59, 1.0), gains(59, 0.0);
    bits[0] = 0;      // MAC index 5, bit 0 -> +1
    gains[0] = 0.25;  // amplitude g
    const ComplexVector chips = OneX_FwdMACslot(bits, gains, 1.0, 0.0);
    ASSERT_EQ(chips.size(), 256u);
    for (std::size_t k = 0; k < 256; ++k) {
        EXPECT_EQ(chips[k].real(), 0.0);
        EXPECT_EQ(chips[k].imag(), 0.25 * w(34, k % 64)) << k;
    }
    // With the RA channel added, the real part carries its Walsh code 2.
    const ComplexVector both = OneX_FwdMACslot(bits, gains, 0.0, 0.5);
    for (std::size_t k = 0; k < 256; ++k) {
        EXPECT_EQ(both[k].real(), 0.5 * w(2, k % 64));
        EXPECT_EQ(both[k].imag(), 0.25 * w(34, k % 64));
    }
}

TEST(MacChannel, RaBitOneAtMinusThreeDb) {
    const RealMatrix w = OneX_WalshMatrix(64);
    const double g = std::pow(10.0, -3.0 / 20.0);
    const ComplexVector chips = OneX_FwdMACslot(RealVector(59, 1.0), RealVector(59, 0.0), 1.0, g);
    for (std::size_t k = 0; k < 256; ++k) {
        EXPECT_DOUBLE_EQ(chips[k].real(), -0.7079457843841379 * w(2, k % 64));
        EXPECT_EQ(chips[k].imag(), 0.0);
    }
    // A host call returns it real: the quadrature part is all zero.
    auto out = host::callFunction("OneX_FwdMACslot", 1,
                                  {Array::row(RealVector(59, 1.0)), Array::row(RealVector(59, 0.0)), Array::scalar(1),
                                   Array::scalar(g)});
    EXPECT_FALSE(out[0].isComplex());
    EXPECT_EQ(out[0].cols(), 256u);
}

TEST(MacChannel, AllSixtyChannelsSumPerChip) {
    // Every channel on with distinct amplitudes: chip c equals the explicit sum over channels.
    const RealMatrix w = OneX_WalshMatrix(64);
    RealVector bits(59), gains(59);
    for (std::size_t i = 0; i < 59; ++i) {
        bits[i] = static_cast<double>(i % 2);
        gains[i] = 0.01 * static_cast<double>(i + 1);
    }
    const ComplexVector chips = OneX_FwdMACslot(bits, gains, 0.0, 0.3);
    for (std::size_t c = 0; c < 64; ++c) {
        Complex expected = 0.3 * w(2, c);
        for (int i = 0; i < 59; ++i) {
            const int mac = i + 5;
            const double v = (1 - 2 * bits[static_cast<std::size_t>(i)]) * gains[static_cast<std::size_t>(i)] *
                             w(static_cast<std::size_t>(macWalshCode(mac)), c);
            expected += mac % 2 ? Complex(0, v) : Complex(v, 0);
        }
        for (std::size_t burst = 0; burst < 4; ++burst) {
            EXPECT_NEAR(chips[burst * 64 + c].real(), expected.real(), 1e-12);
            EXPECT_NEAR(chips[burst * 64 + c].imag(), expected.imag(), 1e-12);
        }
    }
}

TEST(MacChannel, RefusesWrongShapes) {
    EXPECT_THROW(OneX_FwdMACslot(RealVector(58), RealVector(59), 0, 1), host::Error);
    EXPECT_THROW(OneX_FwdMACslot(RealVector(59), RealVector(), 0, 1), host::Error);
    EXPECT_THROW(host::callFunction("OneX_FwdMACslot", 1,
                                    {Array::row(RealVector(59)), Array::row(RealVector(59)), Array(), Array::scalar(1)}),
                 host::Error);
}

TEST(IdleSlot, ZerosOrNoiseOfTheStatedPower) {
    const ComplexVector zeros = OneX_FwdIdleSlot(false, -10, 256);
    ASSERT_EQ(zeros.size(), 256u);
    for (const Complex& c : zeros) EXPECT_EQ(c, Complex(0, 0));

    host::seedRandom(1234);
    const std::size_t n = 400000;
    const ComplexVector noise = OneX_FwdIdleSlot(true, -10, n);
    double re = 0, im = 0, mean = 0;
    for (const Complex& c : noise) {
        re += c.real() * c.real();
        im += c.imag() * c.imag();
        mean += c.real();
    }
    EXPECT_NEAR((re + im) / n, 0.1, 0.002);
    EXPECT_NEAR(re / n, 0.05, 0.001);
    EXPECT_NEAR(im / n, 0.05, 0.001);
    EXPECT_NEAR(mean / n, 0.0, 0.002);

    host::seedRandom(99);
    const ComplexVector a = OneX_FwdIdleSlot(true, 0, 16);
    host::seedRandom(99);
    EXPECT_EQ(OneX_FwdIdleSlot(true, 0, 16), a);
    EXPECT_NE(OneX_FwdIdleSlot(true, 0, 16), a);  // fresh noise without a new seed
}

TEST(CommonHelpers, RepeatCoverAndSignMap) {
    EXPECT_EQ(OneX_Repeat(RealVector{1, 2, 3}, 2), (RealVector{1, 2, 3, 1, 2, 3}));
    EXPECT_TRUE(OneX_Repeat(RealVector{1, 2}, 0).empty());
    EXPECT_EQ(OneX_WalshCover(RealVector{1, -1}, RealVector{1, 1, -1, -1}), (RealVector{1, 1, -1, -1, -1, -1, 1, 1}));
    EXPECT_EQ(OneX_SignalMap(RealVector{0, 1, 1, 0}), (RealVector{1, -1, -1, 1}));
    EXPECT_EQ(OneX_FwdPilot(), RealVector(96, 1.0));

    // Through the host: complex values pass unchanged, matrices are read column by column,
    // the sign map keeps its input's shape and ignores a second input.
    auto rep = host::callFunction("OneX_Repeat", 1, {Array::complexScalar({1, 2}), Array::scalar(3)});
    EXPECT_EQ(rep[0].cols(), 3u);
    EXPECT_EQ(rep[0].complexAt(2), Complex(1, 2));
    auto mat = host::callFunction("OneX_Repeat", 1, {Array::matrix(2, 2, std::vector<double>{1, 2, 3, 4}), Array::scalar(2)});
    EXPECT_EQ(mat[0], Array::row(std::vector<double>{1, 2, 3, 4, 1, 2, 3, 4}));
    auto map = host::callFunction("OneX_SignalMap", 1,
                                  {Array::matrix(2, 3, std::vector<double>{0, 1, 1, 0, 0, 0}), Array::string("ignored")});
    EXPECT_EQ(map[0], Array::matrix(2, 3, std::vector<double>{1, -1, -1, 1, 1, 1}));
    auto cover = host::callFunction("OneX_WalshCover", 1,
                                    {Array::complexScalar({0, 1}), Array::row(std::vector<double>{1, -1})});
    EXPECT_EQ(cover[0].complexAt(1), Complex(0, -1));
    EXPECT_THROW(host::callFunction("OneX_Repeat", 1, {Array::scalar(1), Array::scalar(-1)}), host::Error);
    EXPECT_THROW(host::callFunction("OneX_SignalMap", 1, {Array::cell(1, 1)}), host::Error);
}
