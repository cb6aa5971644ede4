#include "OneX/traffic_modulation.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <random>

#include "OneX/bit_sequences.h"
#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;

namespace {

Complex map(std::initializer_list<double> bits, double format) {
    const RealVector b(bits);
    return OneX_IQmap(b.data(), b.size(), format);
}

void expectNear(Complex a, Complex b, double tol = 1e-15) {
    EXPECT_NEAR(a.real(), b.real(), tol);
    EXPECT_NEAR(a.imag(), b.imag(), tol);
}

// The whole modulation back half as the traffic chain runs it.
ComplexVector chips(const RealVector& bits, double format, std::size_t required) {
    auto symbols = OneX_FwdTrfRepSeq(OneX_FwdTrfModulator(bits, format), required);
    return OneX_FwdTrfSummer(OneX_FwdTrfChnGain(OneX_FwdTrfWalshCover(OneX_FwdTrfDemux(symbols))));
}

using testbits::randomBits;

int bitDistance(int a, int b) { return static_cast<int>(std::bitset<8>(static_cast<unsigned>(a ^ b)).count()); }

}  // namespace

TEST(IQmap, QpskPoints) {
    const double s = 1 / std::sqrt(2.0);
    expectNear(map({0, 0}, 1), {s, s});
    expectNear(map({0, 1}, 1), {s, -s});
    expectNear(map({1, 0}, 1), {-s, s});
    expectNear(map({1, 1}, 1), {-s, -s});
}

TEST(IQmap, EightPskTable) {
    const double c = 0.9238795325112867, s = 0.3826834323650898;
    const Complex expected[8] = {{c, s}, {c, -s}, {-c, s}, {-c, -s}, {s, c}, {s, -c}, {-s, c}, {-s, -c}};
    const double degrees[8] = {22.5, -22.5, 157.5, -157.5, 67.5, -67.5, 112.5, -112.5};
    for (int v = 0; v < 8; ++v) {
        const Complex p = map({double(v >> 2 & 1), double(v >> 1 & 1), double(v & 1)}, 2);
        expectNear(p, expected[v]);
        EXPECT_NEAR(std::arg(p) * 180 / M_PI, degrees[v], 1e-12);
        EXPECT_NEAR(std::abs(p), 1.0, 1e-15);
    }
}

TEST(IQmap, SixteenQamLevels) {
    const double s = 1 / std::sqrt(10.0);
    expectNear(map({0, 1, 1, 0}, 3), {-3 * s, 1 * s});
    // Level per bit pair (magnitude bit, sign bit): 00 +3, 10 +1, 11 -1, 01 -3.
    const double level[4] = {3, -3, 1, -1};  // indexed by 2*d1 + d2
    for (int v = 0; v < 16; ++v) {
        const int d1 = v >> 3 & 1, d2 = v >> 2 & 1, d3 = v >> 1 & 1, d4 = v & 1;
        expectNear(map({double(d1), double(d2), double(d3), double(d4)}, 3),
                   {level[2 * d1 + d2] * s, level[2 * d3 + d4] * s});
    }
}

TEST(IQmap, ConstellationsAreGrayMapped) {
    // Nearest neighbours differ in exactly one bit.
    for (int format = 1; format <= 3; ++format) {
        const int b = format + 1, points = 1 << b;
        std::vector<Complex> p(static_cast<std::size_t>(points));
        for (int v = 0; v < points; ++v) {
            RealVector bits;
            for (int k = b - 1; k >= 0; --k) bits.push_back(v >> k & 1);
            p[static_cast<std::size_t>(v)] = OneX_IQmap(bits.data(), bits.size(), format);
        }
        for (int a = 0; a < points; ++a) {
            double nearest = 1e9;
            for (int c = 0; c < points; ++c)
                if (c != a) nearest = std::min(nearest, std::abs(p[std::size_t(a)] - p[std::size_t(c)]));
            for (int c = 0; c < points; ++c) {
                if (c != a && std::abs(std::abs(p[std::size_t(a)] - p[std::size_t(c)]) - nearest) < 1e-9) {
                    EXPECT_EQ(bitDistance(a, c), 1) << "format " << format << " points " << a << " " << c;
                }
            }
        }
    }
}

TEST(Modulator, SymbolCountsAndPadding) {
    EXPECT_EQ(OneX_FwdTrfModulator(RealVector(3200), 1).size(), 1600u);
    EXPECT_EQ(OneX_FwdTrfModulator(RealVector(4800), 2).size(), 1600u);
    EXPECT_EQ(OneX_FwdTrfModulator(RealVector(6400), 3).size(), 1600u);
    RealVector bits(4801, 0.0);
    bits.back() = 1;  // the last symbol is 1 0 0 after padding
    const ComplexVector symbols = OneX_FwdTrfModulator(bits, 2);
    ASSERT_EQ(symbols.size(), 1601u);
    expectNear(symbols.back(), map({1, 0, 0}, 2));
    const ComplexMatrix demuxed = OneX_FwdTrfDemux(symbols);
    EXPECT_EQ(demuxed.rows(), 16u);
    EXPECT_EQ(demuxed.cols(), 101u);  // padded to 1616 symbols
    EXPECT_EQ(demuxed(0, 100), symbols[1600]);
    for (std::size_t r = 1; r < 16; ++r) EXPECT_EQ(demuxed(r, 100), Complex(0, 0));
}

TEST(Modulator, UnknownModulationCodes) {
    for (double code : {0.0, 4.0, 1.5, -1.0}) {
        try {
            OneX_FwdTrfModulator(RealVector(8), code);
            FAIL() << code;
        } catch (const host::Error& e) {
            EXPECT_NE(std::string(e.what()).find("OneX_FwdTrfModulator: unknown modulation code"), std::string::npos);
        }
        EXPECT_THROW(map({0, 0, 0, 0}, code), host::Error);
    }
    EXPECT_THROW(map({0, 0}, 2), host::Error);  // 8-PSK needs three bits
}

TEST(RepSeq, RepeatsOrTruncates) {
    ComplexVector data(2560);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = Complex(double(i), 0);
    const ComplexVector long_ = OneX_FwdTrfRepSeq(data, 24576);
    ASSERT_EQ(long_.size(), 24576u);
    for (std::size_t i = 0; i < long_.size(); ++i) ASSERT_EQ(long_[i], data[i % 2560]);
    EXPECT_EQ(long_.back(), Complex(1535, 0));  // 9 copies and 1536 symbols
    const ComplexVector short_ = OneX_FwdTrfRepSeq(ComplexVector(data.begin(), data.begin() + 3072 - 512), 1536);
    EXPECT_EQ(short_, ComplexVector(data.begin(), data.begin() + 1536));
    EXPECT_TRUE(OneX_FwdTrfRepSeq(data, 0).empty());
    EXPECT_THROW(OneX_FwdTrfRepSeq(ComplexVector{}, 5), host::Error);
    auto viaHost = host::callFunction("OneX_FwdTrfRepSeq", 1, {Array::row(RealVector{1, 2, 3}), Array::scalar(7.9)});
    EXPECT_EQ(viaHost[0], Array::row(RealVector{1, 2, 3, 1, 2, 3, 1}));
    EXPECT_EQ(host::callFunction("OneX_FwdTrfRepSeq", 1, {Array::row(RealVector{1, 2}), Array::scalar(-3)})[0].numel(), 0u);
}

TEST(WalshChannels, DemuxCoverGainAndSum) {
    ComplexVector symbols(32);
    for (std::size_t n = 0; n < symbols.size(); ++n) symbols[n] = Complex(double(n + 1), -double(n));
    const ComplexMatrix m = OneX_FwdTrfDemux(symbols);
    for (std::size_t n = 0; n < 32; ++n) EXPECT_EQ(m(n % 16, n / 16), symbols[n]);

    const ComplexMatrix covered = OneX_FwdTrfWalshCover(m);
    ASSERT_EQ(covered.rows(), 16u);
    ASSERT_EQ(covered.cols(), 32u);
    const RealMatrix w = OneX_WalshMatrix(16);
    for (std::size_t i = 0; i < 16; ++i)
        for (std::size_t s = 0; s < 2; ++s)
            for (std::size_t c = 0; c < 16; ++c) EXPECT_EQ(covered(i, s * 16 + c), m(i, s) * w(i, c));

    const ComplexVector out = OneX_FwdTrfSummer(OneX_FwdTrfChnGain(covered));
    ASSERT_EQ(out.size(), 32u);
    for (std::size_t s = 0; s < 2; ++s)
        for (std::size_t c = 0; c < 16; ++c) {
            Complex expected = 0;
            for (std::size_t i = 0; i < 16; ++i) expected += w(i, c) * symbols[s * 16 + i];
            expectNear(out[s * 16 + c], expected / 4.0, 1e-12);
        }
    EXPECT_THROW(OneX_FwdTrfWalshCover(ComplexMatrix(15, 2)), host::Error);
}

// The one-pass form the traffic channel uses gives the three steps' chips bit for bit, on
// symbols of every constellation and awkward magnitudes.
TEST(WalshChannels, OnePassEqualsTheThreeStepsExactly) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    ComplexVector symbols(16 * 100);
    for (Complex& s : symbols) s = Complex(value(random), value(random)) / 3.0;
    const ComplexMatrix m = OneX_FwdTrfDemux(symbols);
    EXPECT_EQ(OneX_FwdTrfCoverAndSum(m), OneX_FwdTrfSummer(OneX_FwdTrfChnGain(OneX_FwdTrfWalshCover(m))));
    EXPECT_THROW(OneX_FwdTrfCoverAndSum(ComplexMatrix(15, 2)), host::Error);
}

TEST(TrafficChips, ZeroBitsGiveOneChipPerGroup) {
    const ComplexVector out = chips(RealVector(3200, 0.0), 1, 1600);
    ASSERT_EQ(out.size(), 1600u);
    const Complex first = 4.0 * Complex(1, 1) / std::sqrt(2.0);
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (k % 16 == 0)
            expectNear(out[k], first, 1e-14);
        else
            expectNear(out[k], 0, 1e-14);
    }
}

TEST(TrafficChips, AveragePowerIsOne) {
    for (double format : {1.0, 2.0, 3.0}) {
        const std::size_t bits = static_cast<std::size_t>(format + 1) * 1600;
        const ComplexVector out = chips(randomBits(bits, 11 + unsigned(format)), format, 1600);
        ASSERT_EQ(out.size(), 1600u);
        double power = 0;
        for (const Complex& c : out) power += std::norm(c);
        power /= double(out.size());
        // The Walsh channels are orthogonal, so chip power equals symbol power: exactly 1 for
        // the phase-shift keyings, about 1 for 16-QAM.
        EXPECT_NEAR(power, 1.0, format == 3 ? 0.05 : 1e-12) << format;
    }
}

TEST(TrafficChips, HostFormsConvertShapes) {
    auto symbols = host::callFunction("OneX_FwdTrfModulator", 1, {Array::column(RealVector{0, 1, 1, 0}), Array::scalar(3)});
    EXPECT_EQ(symbols[0].rows(), 1u);
    EXPECT_NEAR(symbols[0].realAt(0), -3 / std::sqrt(10.0), 1e-15);
    auto demux = host::callFunction("OneX_FwdTrfDemux", 1, {Array::row(RealVector(20, 1.0))});
    EXPECT_EQ(demux[0].rows(), 16u);
    EXPECT_EQ(demux[0].cols(), 2u);
    EXPECT_FALSE(demux[0].isComplex());
    auto sum = host::callFunction("OneX_FwdTrfSummer", 1, {Array::matrix(2, 2, RealVector{1, 2, 3, 4})});
    EXPECT_EQ(sum[0], Array::row(RealVector{3, 7}));
    auto gain = host::callFunction("OneX_FwdTrfChnGain", 1, {Array::matrix(2, 1, RealVector{4, -8})});
    EXPECT_EQ(gain[0], Array::matrix(2, 1, RealVector{1, -2}));
    auto iq = host::callFunction("OneX_IQmap", 1, {Array::row(RealVector{0, 0}), Array::scalar(1)});
    EXPECT_TRUE(iq[0].isComplex());
    EXPECT_THROW(host::callFunction("OneX_IQmap", 1, {Array::row(RealVector{0, 0}), Array::scalar(7)}), host::Error);
    EXPECT_THROW(host::callFunction("OneX_FwdTrfWalshCover", 1, {Array::zeros(3, 3)}), host::Error);
}
