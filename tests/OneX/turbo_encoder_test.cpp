#include "OneX/turbo_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>

#include "OneX/bit_sequences.h"
#include "error_message.h"
#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;

namespace {

using testbits::counting;
using testbits::randomBits;

RealVector xorOf(const RealVector& a, const RealVector& b) {
    RealVector out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] != b[i] ? 1.0 : 0.0;
    return out;
}

bool allZero(const RealVector& v) {
    return std::all_of(v.begin(), v.end(), [](double b) { return b == 0; });
}

std::string messageOf(const std::function<void()>& call) { return errorMessageOf(call); }

Array modParams(double codeRate, double bits) {
    Array p = Array::structure();
    p.setField("drcValue", Array::scalar(1));
    p.setField("bits", Array::scalar(bits));
    p.setField("codeRate", Array::scalar(codeRate));
    return p;
}

int bitAt(const RealVector& v, long i) { return i < 0 ? 0 : static_cast<int>(v[static_cast<std::size_t>(i)]); }

}  // namespace

// ---- constituent encoder ------------------------------------------------------------------

// The encoder written as its polynomials: w = u / (1 + D^2 + D^3) is the register input,
// y0 = w (1 + D + D^3), y1 = w (1 + D + D^2 + D^3); in the tail the input is chosen so that
// w is zero.
TEST(TurboConstituentEncoder, FollowsItsGeneratorPolynomials) {
    const RealVector u = randomBits(300, 11);
    const long n = static_cast<long>(u.size());
    RealVector w(u.size() + 3), x(u.size() + 3), y0(u.size() + 3), y1(u.size() + 3);
    for (long i = 0; i < n + 3; ++i) {
        const int feedback = bitAt(w, i - 2) ^ bitAt(w, i - 3);
        const int in = i < n ? bitAt(u, i) : feedback;
        w[static_cast<std::size_t>(i)] = in ^ feedback;
        x[static_cast<std::size_t>(i)] = in;
        y0[static_cast<std::size_t>(i)] = bitAt(w, i) ^ bitAt(w, i - 1) ^ bitAt(w, i - 3);
        y1[static_cast<std::size_t>(i)] = bitAt(w, i) ^ bitAt(w, i - 1) ^ bitAt(w, i - 2) ^ bitAt(w, i - 3);
    }
    const ConstituentOutput out = OneX_ConstituentEncoder(u);
    EXPECT_EQ(out.x, x);
    EXPECT_EQ(out.y0, y0);
    EXPECT_EQ(out.y1, y1);
}

// Across the whole terminated block, parity times the feedback polynomial equals the
// systematic stream (tail bits included) times the feedforward polynomial.
TEST(TurboConstituentEncoder, ParityObeysTheTransferFunction) {
    const ConstituentOutput out = OneX_ConstituentEncoder(randomBits(257, 12));
    for (long i = 0; i < static_cast<long>(out.x.size()); ++i) {
        const int y0Side = bitAt(out.y0, i) ^ bitAt(out.y0, i - 2) ^ bitAt(out.y0, i - 3);
        const int y1Side = bitAt(out.y1, i) ^ bitAt(out.y1, i - 2) ^ bitAt(out.y1, i - 3);
        const int x013 = bitAt(out.x, i) ^ bitAt(out.x, i - 1) ^ bitAt(out.x, i - 3);
        EXPECT_EQ(y0Side, x013) << "at " << i;
        EXPECT_EQ(y1Side, x013 ^ bitAt(out.x, i - 2)) << "at " << i;
    }
}

TEST(TurboConstituentEncoder, TailFlushesTheRegister) {
    const RealVector u = randomBits(150, 13);
    const ConstituentOutput out = OneX_ConstituentEncoder(u);
    ASSERT_EQ(out.x.size(), 153u);
    // Feeding the tail bits as ordinary input gives the same parity, and the register is
    // then empty: further zero input produces nothing but zeros.
    RealVector extended = u;
    extended.insert(extended.end(), out.x.end() - 3, out.x.end());
    extended.insert(extended.end(), 20, 0.0);
    const ConstituentOutput again = OneX_ConstituentEncoder(extended);
    EXPECT_TRUE(std::equal(out.y0.begin(), out.y0.end(), again.y0.begin()));
    EXPECT_TRUE(std::equal(out.y1.begin(), out.y1.end(), again.y1.begin()));
    for (const RealVector* s : {&again.x, &again.y0, &again.y1})
        EXPECT_TRUE(std::all_of(s->begin() + 153, s->end(), [](double b) { return b == 0; }));
}

TEST(TurboConstituentEncoder, ZeroAndEmptyInputs) {
    const ConstituentOutput zero = OneX_ConstituentEncoder(RealVector(40, 0.0));
    EXPECT_TRUE(allZero(zero.x) && allZero(zero.y0) && allZero(zero.y1));
    EXPECT_EQ(zero.x.size(), 43u);
    const ConstituentOutput empty = OneX_ConstituentEncoder({});
    EXPECT_EQ(empty.y1, RealVector(3, 0.0));
}

// ---- interleaver --------------------------------------------------------------------------

TEST(TurboInterleaver, FirstAddressesOfA1018BitBlock) {
    const RealVector out = OneX_TurboInterleaver(counting(1018));
    // Counters 0..4 with n = 5: table column 3, MSB 1, addresses rev(LSB) * 32 + lookup.
    const RealVector first = {27, 515, 257, 783, 141};
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
    // Counter 32 starts the second pass: MSB 2, lookup 27, (27 x 2) mod 32 = 22.
    EXPECT_EQ(out[32], 22);
}

TEST(TurboInterleaver, FirstAddressesOfA4096BitBlock) {
    const RealVector out = OneX_TurboInterleaver(counting(4096));
    EXPECT_EQ(out[0], 15);                 // lookup 15
    EXPECT_EQ(out[1], 16 * 128 + 127);     // lookup 127, rev(1) = 16
}

TEST(TurboInterleaver, IsAPermutationOverItsRange) {
    for (std::size_t n : {129u, 200u, 256u, 257u, 1018u, 2042u, 2048u, 3066u, 4090u, 4096u}) {
        RealVector out = OneX_TurboInterleaver(counting(n));
        ASSERT_EQ(out.size(), n);
        std::sort(out.begin(), out.end());
        EXPECT_EQ(out, counting(n)) << "N = " << n;
    }
}

TEST(TurboInterleaver, RefusesBlocksOutsideItsRange) {
    for (std::size_t n : {0u, 1u, 128u, 4097u, 5000u}) {
        const std::string msg = messageOf([&] { OneX_TurboInterleaver(RealVector(n, 0.0)); });
        EXPECT_NE(msg.find("OneX_TurboInterleaver"), std::string::npos) << msg;
        EXPECT_NE(msg.find(std::to_string(n)), std::string::npos) << msg;
    }
}

// ---- bit reversal -------------------------------------------------------------------------

TEST(ReverseBits, KnownValues) {
    EXPECT_EQ(reverseBits(1, 5), 16u);
    EXPECT_EQ(reverseBits(3, 5), 24u);
    EXPECT_EQ(reverseBits(6, 5), 12u);
    EXPECT_EQ(reverseBits(1, 11), 1024u);
}

TEST(ReverseBits, AgreesWithTheDigitConversions) {
    for (std::size_t len = 1; len <= 11; ++len)
        for (std::uint64_t n = 0; n < (std::uint64_t{1} << len); n += 7) {
            RealVector digits = digitsOf(static_cast<double>(n), len);
            std::reverse(digits.begin(), digits.end());
            const std::uint64_t r = reverseBits(n, len);
            EXPECT_EQ(static_cast<double>(r), valueOfDigits(digits)) << n << " in " << len << " bits";
            EXPECT_EQ(reverseBits(r, len), n);
        }
}

TEST(ReverseBits, ValueTooWideForItsBits) {
    EXPECT_EQ(messageOf([] { reverseBits(32, 5); }), kTooFewColumns);
    EXPECT_EQ(messageOf([] { reverseBits(0, 0); }), kTooFewColumns);
}

// ---- puncturing ---------------------------------------------------------------------------

namespace {

enum Stream { X = 1, Y0, Y1, XP, Y0P, Y1P };

// A value that names its stream and 1-based index, so every output symbol says where it came from.
double tag(Stream s, std::size_t i) { return static_cast<double>(s) * 10000.0 + static_cast<double>(i); }

struct Pattern {
    double rate;
    std::vector<Stream> oddBit, evenBit, firstTail, secondTail;
};

const std::vector<Pattern> kPatterns = {
    {0.2, {X, Y0, Y1, Y0P, Y1P}, {X, Y0, Y1, Y0P, Y1P}, {X, X, Y0, Y1, Y1}, {XP, XP, Y0P, Y1P, Y1P}},
    {1.0 / 3, {X, Y0, Y0P}, {X, Y0, Y0P}, {X, X, Y0}, {XP, XP, Y0P}},
    {0.25, {X, Y0, Y1, Y1P}, {X, Y0, Y0P, Y1P}, {X, X, Y0, Y1}, {XP, XP, Y0P, Y1P}},
    {0.5, {X, Y0}, {X, Y0P}, {X, Y0}, {XP, Y0P}},
};

RealVector taggedStream(Stream s, std::size_t n) {
    RealVector v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = tag(s, i + 1);
    return v;
}

RealVector puncture(std::size_t n, double rate) {
    return OneX_TurboPuncturing(taggedStream(X, n + 3), taggedStream(Y0, n + 3), taggedStream(Y1, n + 3),
                                taggedStream(XP, n + 3), taggedStream(Y0P, n + 3), taggedStream(Y1P, n + 3), rate);
}

}  // namespace

TEST(TurboPuncturing, DataAndTailsInEmissionOrder) {
    for (std::size_t n : {7u, 10u}) {
        for (const Pattern& p : kPatterns) {
            RealVector expected;
            for (std::size_t i = 1; i <= n; ++i)
                for (Stream s : (i % 2 == 1 ? p.oddBit : p.evenBit)) expected.push_back(tag(s, i));
            for (const auto* tail : {&p.firstTail, &p.secondTail})
                for (std::size_t c = n + 1; c <= n + 3; ++c)
                    for (Stream s : *tail) expected.push_back(tag(s, c));
            const RealVector out = puncture(n, p.rate);
            EXPECT_EQ(static_cast<double>(out.size()), std::round((n + 6) / p.rate)) << "rate " << p.rate;
            EXPECT_EQ(out, expected) << "rate " << p.rate << ", N = " << n;
        }
    }
}

TEST(TurboPuncturing, UnknownRatesGiveNothing) {
    for (double rate : {1.0, 0.3, 1.0 / 6, 0.0, -0.5, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_TRUE(puncture(8, rate).empty()) << rate;
}

TEST(TurboPuncturing, RefusesMismatchedStreams) {
    const RealVector four(4, 0.0), five(5, 0.0), two(2, 0.0);
    const std::string msg = messageOf([&] { OneX_TurboPuncturing(four, four, four, four, five, four, 0.5); });
    EXPECT_NE(msg.find("y0p"), std::string::npos) << msg;
    EXPECT_THROW(OneX_TurboPuncturing(two, two, two, two, two, two, 0.5), host::Error);
}

// ---- the whole coder ----------------------------------------------------------------------

TEST(TurboCoder, ZeroPacketsEncodeToZeroSymbolsOfTheRightLength) {
    const std::vector<std::pair<std::size_t, double>> cases = {{1024, 0.2}, {2048, 1.0 / 3}, {3072, 1.0 / 3},
                                                               {4096, 1.0 / 3}, {1024, 0.25}, {2048, 0.5}};
    for (const auto& [bits, rate] : cases) {
        const RealVector out = OneX_FwdEncoder(RealVector(bits, 0.0), rate);
        EXPECT_EQ(static_cast<double>(out.size()), std::round(static_cast<double>(bits) / rate)) << bits;
        EXPECT_TRUE(allZero(out)) << bits;
    }
    EXPECT_EQ(OneX_FwdEncoder(RealVector(1024, 0.0), 0.2).size(), 5120u);
    EXPECT_EQ(OneX_FwdEncoder(RealVector(2048, 0.0), 1.0 / 3).size(), 6144u);
}

TEST(TurboCoder, RateOnePassesBitsThrough) {
    const RealVector bits = randomBits(50, 21);  // too short to interleave: nothing must try
    EXPECT_EQ(OneX_TurboCoder(bits, 1), bits);
    const RealVector packet = randomBits(1024, 22);
    EXPECT_EQ(OneX_FwdEncoder(packet, 1), RealVector(packet.begin(), packet.end() - 6));
}

TEST(TurboCoder, IsLinear) {
    const RealVector a = randomBits(1018, 31), b = randomBits(1018, 32);
    for (double rate : {0.2, 1.0 / 3, 0.25, 0.5})
        EXPECT_EQ(OneX_TurboCoder(xorOf(a, b), rate), xorOf(OneX_TurboCoder(a, rate), OneX_TurboCoder(b, rate)));
}

// The first encoder sees the bits in order, the second the interleaved bits.
TEST(TurboCoder, SecondEncoderSeesTheInterleavedBits) {
    const RealVector input = randomBits(1018, 41);
    const RealVector out = OneX_TurboCoder(input, 0.2);
    const ConstituentOutput first = OneX_ConstituentEncoder(input);
    const ConstituentOutput second = OneX_ConstituentEncoder(OneX_TurboInterleaver(input));
    for (std::size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(out[5 * i], input[i]);
        ASSERT_EQ(out[5 * i + 1], first.y0[i]);
        ASSERT_EQ(out[5 * i + 4], second.y1[i]);
    }
    EXPECT_EQ(out[5 * 1018 + 15], second.x[1018]);  // the second tail begins 15 symbols after the first
}

TEST(TurboCoder, BadBlocksAndRates) {
    EXPECT_TRUE(OneX_TurboCoder(RealVector(1018, 0.0), 0.7).empty());
    EXPECT_NE(messageOf([] { OneX_FwdEncoder(RealVector(5, 0.0), 0.2); }).find("OneX_FwdEncoder"), std::string::npos);
    EXPECT_NE(messageOf([] { OneX_FwdEncoder(RealVector(100, 0.0), 0.2); }).find("OneX_TurboInterleaver"),
              std::string::npos);
}

// ---- host forms ---------------------------------------------------------------------------

TEST(TurboHostForms, EveryFunctionAnswersByName) {
    const RealVector bits = randomBits(1024, 51);
    auto enc = host::callFunction("OneX_FwdEncoder", 1, {Array::row(bits), modParams(0.2, 1024)});
    EXPECT_EQ(enc[0].numel(), 5120u);
    auto coder = host::callFunction("OneX_TurboCoder", 1, {Array::row(bits), Array::scalar(1.0 / 3)});
    EXPECT_EQ(coder[0].numel(), 3090u);
    auto col = host::callFunction("OneX_TurboCoder", 1, {Array::column(bits), Array::scalar(1)});
    EXPECT_EQ(col[0], Array::column(bits));
    auto three = host::callFunction("OneX_ConstituentEncoder", 3, {Array::row(RealVector{1, 0, 1})});
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[2].numel(), 6u);
    auto inter = host::callFunction("OneX_TurboInterleaver", 1, {Array::row(counting(1018))});
    EXPECT_EQ(inter[0].realAt(1), 515);
    const Array s = Array::row(RealVector(5, 1.0));
    auto punct = host::callFunction("OneX_TurboPuncturing", 1, {s, s, s, s, s, s, Array::scalar(0.5)});
    EXPECT_EQ(punct[0].numel(), 16u);
    auto rev = host::callFunction("reverseBits", 1, {Array::scalar(6), Array::scalar(5)});
    EXPECT_EQ(rev[0].realAt(0), 12);
}

TEST(TurboHostForms, ArgumentCountMessages) {
    const Array a = Array::scalar(1);
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_TurboPuncturing", 1, {a, a, a, a, a, a, a, a}); }),
              "Run-time Error: File: OneX_TurboPuncturing Line: 1 Column: 1 The function \"OneX_TurboPuncturing\" "
              "was called with more than the declared number of inputs (7).");
    EXPECT_EQ(messageOf([&] { host::callFunction("reverseBits", 1, {a, a, a}); }),
              "Run-time Error: File: reverseBits Line: 4 Column: 1 The function \"reverseBits\" was called with "
              "more than the declared number of inputs (2).");
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_ConstituentEncoder", 4, {a}); }),
              "Run-time Error: File: OneX_ConstituentEncoder Line: 1 Column: 1 The function "
              "\"OneX_ConstituentEncoder\" was called with more than the declared number of outputs (3).");
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_FwdEncoder", 2, {a, a}); }),
              "Run-time Error: File: OneX_FwdEncoder Line: 1 Column: 1 The function \"OneX_FwdEncoder\" was called "
              "with more than the declared number of outputs (1).");
}

TEST(TurboHostForms, MalformedArguments) {
    const Array bits = Array::row(RealVector(1024, 0.0));
    Array noRate = Array::structure();
    noRate.setField("bits", Array::scalar(1024));
    const std::string missing = messageOf([&] { host::callFunction("OneX_FwdEncoder", 1, {bits, noRate}); });
    EXPECT_NE(missing.find("OneX_FwdEncoder"), std::string::npos) << missing;
    EXPECT_NE(missing.find("codeRate"), std::string::npos) << missing;
    EXPECT_THROW(host::callFunction("OneX_FwdEncoder", 1, {bits, Array::scalar(0.2)}), host::Error);
    EXPECT_THROW(host::callFunction("OneX_TurboCoder", 1, {Array::string("abc"), Array::scalar(0.5)}), host::Error);
    EXPECT_THROW(host::callFunction("OneX_TurboCoder", 1, {bits}), host::Error);
    EXPECT_THROW(host::callFunction("reverseBits", 1, {Array::scalar(-1), Array::scalar(5)}), host::Error);
    EXPECT_THROW(host::callFunction("reverseBits", 1, {Array::scalar(2.5), Array::scalar(5)}), host::Error);
    EXPECT_EQ(messageOf([] { host::callFunction("reverseBits", 1, {Array::scalar(40), Array::scalar(5)}); }),
              kTooFewColumns);
}
