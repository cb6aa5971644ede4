#include "OneX/scrambler_interleaver.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The indices i < n with i mod step among `residues`, ascending.
RealVector indicesWithResidues(std::size_t n, std::size_t step, std::initializer_list<std::size_t> residues) {
    RealVector v;
    for (std::size_t i = 0; i < n; ++i)
        if (std::find(residues.begin(), residues.end(), i % step) != residues.end()) v.push_back(static_cast<double>(i));
    return v;
}

RealVector sorted(RealVector::const_iterator first, RealVector::const_iterator last) {
    RealVector v(first, last);
    std::sort(v.begin(), v.end());
    return v;
}

std::string messageOf(const std::function<void()>& call) { return errorMessageOf(call); }

Array modParams(double drcValue, double codeRate, double bits) {
    Array p = Array::structure();
    p.setField("drcValue", Array::scalar(drcValue));
    p.setField("bits", Array::scalar(bits));
    p.setField("codeRate", Array::scalar(codeRate));
    return p;
}

// Column c's position after the permuter's bit reversal, by way of the digit conversions.
std::size_t reversedColumn(std::size_t c, std::size_t len) {
    RealVector d = digitsOf(static_cast<double>(c), len);
    std::reverse(d.begin(), d.end());
    return static_cast<std::size_t>(valueOfDigits(d));
}

}  // namespace

// ---- scrambler ----------------------------------------------------------------------------

TEST(Scrambler, SeedOfMacIndex5AndDrc1) {
    const RealVector seed = {1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1};
    EXPECT_EQ(scramblingSequence(17, 1, 5), seed);
    // Scrambling zeros shows the sequence itself.
    const RealVector out = OneX_FwdScrambler(RealVector(40, 0.0), 1, 5);
    EXPECT_TRUE(std::equal(seed.begin(), seed.end(), out.begin()));
}

TEST(Scrambler, SequenceFollowsItsRecurrence) {
    for (const auto& [drc, mac] : {std::pair{1.0, 5.0}, {12.0, 63.0}, {0.0, 0.0}, {15.0, 40.0}}) {
        const RealVector s = OneX_FwdScrambler(RealVector(3000, 0.0), drc, mac);
        // Seven ones, then the MAC index and the DRC index most significant bit first.
        for (std::size_t j = 0; j < 7; ++j) EXPECT_EQ(s[j], 1);
        for (std::size_t b = 0; b < 6; ++b) EXPECT_EQ(s[7 + b], (static_cast<int>(mac) >> (5 - b)) & 1);
        for (std::size_t b = 0; b < 4; ++b) EXPECT_EQ(s[13 + b], (static_cast<int>(drc) >> (3 - b)) & 1);
        for (std::size_t j = 0; j + 17 < s.size(); ++j)
            ASSERT_EQ(s[j + 17], s[j] != s[j + 3] ? 1.0 : 0.0) << "j = " << j << ", mac " << mac;
    }
}

TEST(Scrambler, ScramblingTwiceRestoresTheInput) {
    const RealVector bits = randomBits(5120, 3);
    const RealVector once = OneX_FwdScrambler(bits, 7, 21);
    EXPECT_NE(once, bits);
    EXPECT_EQ(OneX_FwdScrambler(once, 7, 21), bits);
    EXPECT_TRUE(OneX_FwdScrambler({}, 1, 5).empty());
}

TEST(Scrambler, IndicesThatDoNotFitTheirFields) {
    EXPECT_EQ(messageOf([] { OneX_FwdScrambler(RealVector(4, 0.0), 16, 5); }), kTooFewColumns);
    EXPECT_EQ(messageOf([] { OneX_FwdScrambler(RealVector(4, 0.0), 1, 64); }), kTooFewColumns);
    const std::string negative = messageOf([] { OneX_FwdScrambler(RealVector(4, 0.0), 1, -1); });
    EXPECT_NE(negative.find("macIndex"), std::string::npos) << negative;
    EXPECT_THROW(OneX_FwdScrambler(RealVector(4, 0.0), 1.5, 5), host::Error);
    EXPECT_THROW(OneX_FwdScrambler({0, std::numeric_limits<double>::quiet_NaN()}, 1, 5), host::Error);
}

// ---- symbol permuter ----------------------------------------------------------------------

TEST(SymbolPermuter, TwoRowsTypeUSwapsOddColumns) {
    const std::size_t m = 16;
    const RealVector out = OneX_FwdSymbolPermuter(counting(2 * m), 2, m, 'U');
    for (std::size_t c = 0; c < m; ++c) {
        const std::size_t dest = reversedColumn(c, 4);
        const double top = static_cast<double>(c), bottom = static_cast<double>(m + c);
        EXPECT_EQ(out[2 * dest], c % 2 == 0 ? top : bottom) << "column " << c;
        EXPECT_EQ(out[2 * dest + 1], c % 2 == 0 ? bottom : top) << "column " << c;
    }
}

TEST(SymbolPermuter, TwoRowsTypeVSwapsGroupsOfFourColumns) {
    const std::size_t m = 32;
    const RealVector out = OneX_FwdSymbolPermuter(counting(2 * m), 2, m, 'V');
    for (std::size_t c = 0; c < m; ++c) {
        const bool swapped = (c / 4) % 2 == 1;
        const std::size_t dest = reversedColumn(c, 5);
        EXPECT_EQ(out[2 * dest], static_cast<double>(swapped ? m + c : c)) << "column " << c;
        EXPECT_EQ(out[2 * dest + 1], static_cast<double>(swapped ? c : m + c)) << "column " << c;
    }
}

TEST(SymbolPermuter, RowsRotateDownwards) {
    const std::size_t k = 3, m = 16;
    for (char type : {'U', 'v'}) {
        const RealVector out = OneX_FwdSymbolPermuter(counting(k * m), k, m, type);
        for (std::size_t c = 0; c < m; ++c) {
            const std::size_t shift = (type == 'U' ? c : c / 4) % k;
            // Row r moves down by `shift`, the rows that fall off the bottom wrapping to the top.
            for (std::size_t r = 0; r < k; ++r)
                EXPECT_EQ(out[reversedColumn(c, 4) * k + (r + shift) % k], static_cast<double>(r * m + c))
                    << type << " column " << c << " row " << r;
        }
    }
}

TEST(SymbolPermuter, IsAPermutation) {
    for (const auto& [k, m] : {std::pair<std::size_t, std::size_t>{4, 2048}, {3, 1024}, {2, 512}, {5, 2}})
        for (char type : {'U', 'V'}) {
            RealVector out = OneX_FwdSymbolPermuter(counting(k * m), k, m, type);
            std::sort(out.begin(), out.end());
            EXPECT_EQ(out, counting(k * m)) << k << " x " << m << " " << type;
        }
}

TEST(SymbolPermuter, RefusesBadShapesAndTypes) {
    EXPECT_NE(messageOf([] { OneX_FwdSymbolPermuter(counting(32), 2, 16, 'X'); }).find("type"), std::string::npos);
    EXPECT_NE(messageOf([] { OneX_FwdSymbolPermuter(counting(24), 2, 12, 'U'); }).find("power of two"),
              std::string::npos);
    EXPECT_NE(messageOf([] { OneX_FwdSymbolPermuter(counting(31), 2, 16, 'U'); }).find("31"), std::string::npos);
    EXPECT_THROW(OneX_FwdSymbolPermuter(counting(34), 2, 16, 'U'), host::Error);
    EXPECT_THROW(OneX_FwdSymbolPermuter({}, 0, 16, 'U'), host::Error);
}

// ---- channel interleaver ------------------------------------------------------------------

TEST(ChannelInterleaver, RateFifthBlockOf1024Bits) {
    const RealVector out = OneX_FwdChannelInterleaver(counting(5120), 0.2, 1024);
    ASSERT_EQ(out.size(), 5120u);
    // Systematic symbols first, then Y0 with Y0', then Y1 with Y1', each block reordered within itself.
    EXPECT_EQ(sorted(out.begin(), out.begin() + 1024), indicesWithResidues(5120, 5, {0}));
    EXPECT_EQ(sorted(out.begin() + 1024, out.begin() + 3072), indicesWithResidues(5120, 5, {1, 3}));
    EXPECT_EQ(sorted(out.begin() + 3072, out.end()), indicesWithResidues(5120, 5, {2, 4}));
    // Column 0 of each matrix is neither rotated nor moved: its rows lead each block.
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 512 * 5);  // U symbol 512 starts the second row of 512 columns
    EXPECT_EQ(out[1024], 1);     // Y0 symbol 1
    EXPECT_EQ(out[1025], 3);     // Y0' symbol 1 starts the second row of 1024 columns
    EXPECT_EQ(out[3072], 2);
    EXPECT_EQ(out[3073], 4);
}

TEST(ChannelInterleaver, RateThirdBlocks) {
    const RealVector out = OneX_FwdChannelInterleaver(counting(6144), 1.0 / 3, 2048);
    ASSERT_EQ(out.size(), 6144u);
    EXPECT_EQ(sorted(out.begin(), out.begin() + 2048), indicesWithResidues(6144, 3, {0}));
    EXPECT_EQ(sorted(out.begin() + 2048, out.end()), indicesWithResidues(6144, 3, {1, 2}));
    for (double bits : {3072.0, 4096.0}) {
        const auto n = static_cast<std::size_t>(bits) * 3;
        const RealVector o = OneX_FwdChannelInterleaver(counting(n), 1.0 / 3, bits);
        EXPECT_EQ(sorted(o.begin(), o.begin() + static_cast<std::ptrdiff_t>(bits)), indicesWithResidues(n, 3, {0}));
        EXPECT_EQ(sorted(o.begin(), o.end()), counting(n));
    }
}

TEST(ChannelInterleaver, CodeRateOnePassesThrough) {
    const RealVector bits = randomBits(777, 9);
    EXPECT_EQ(OneX_FwdChannelInterleaver(bits, 1, 12345), bits);
}

TEST(ChannelInterleaver, RefusesUnknownParameters) {
    const std::string bits = messageOf([] { OneX_FwdChannelInterleaver(counting(2560), 0.2, 512); });
    EXPECT_NE(bits.find("OneX_FwdChannelInterleaver"), std::string::npos) << bits;
    EXPECT_NE(bits.find("512"), std::string::npos) << bits;
    const std::string rate = messageOf([] { OneX_FwdChannelInterleaver(counting(4096), 0.25, 1024); });
    EXPECT_NE(rate.find("codeRate"), std::string::npos) << rate;
    const std::string length = messageOf([] { OneX_FwdChannelInterleaver(counting(5119), 0.2, 1024); });
    EXPECT_NE(length.find("5119"), std::string::npos) << length;
}

// ---- digit conversions --------------------------------------------------------------------

TEST(De2bi, DigitOrdersAndWidths) {
    EXPECT_EQ(digitsOf(11, 4), (RealVector{1, 1, 0, 1}));
    EXPECT_EQ(digitsOf(11, 6, DigitOrder::LeftMsb), (RealVector{0, 0, 1, 0, 1, 1}));
    const RealMatrix auto3 = de2bi({0, 1, 5}, std::nullopt);
    ASSERT_EQ(auto3.cols(), 3u);
    EXPECT_EQ(auto3.row(2), (RealVector{1, 0, 1}));
    EXPECT_EQ(auto3.row(0), (RealVector{0, 0, 0}));
    EXPECT_EQ(de2bi({0}, std::nullopt).cols(), 1u);
}

TEST(De2bi, TooFewColumns) {
    EXPECT_EQ(messageOf([] { digitsOf(16, 4); }), "Specified number of columns in output matrix is too small.");
    EXPECT_EQ(messageOf([] { de2bi({1, 2, 64}, 6, DigitOrder::LeftMsb); }), kTooFewColumns);
    EXPECT_THROW(digitsOf(-1, 4), host::Error);
    EXPECT_THROW(digitsOf(2.5, 4), host::Error);
}

TEST(Bi2de, InvertsDe2biInBothOrders) {
    const RealVector values = {0, 1, 2, 3, 100, 511, 1023, 4503599627370495.0};
    for (DigitOrder order : {DigitOrder::RightMsb, DigitOrder::LeftMsb})
        EXPECT_EQ(bi2de(de2bi(values, std::nullopt, order), order), values);
    EXPECT_EQ(valueOfDigits({0, 1, 1}), 6);
    EXPECT_EQ(valueOfDigits({0, 1, 1}, DigitOrder::LeftMsb), 3);
    EXPECT_THROW(valueOfDigits({0, 2}), host::Error);
}

TEST(De2bi, HostForms) {
    auto row = host::callFunction("de2bi", 1, {Array::scalar(11), Array::scalar(5), Array::string("Left-MSB")});
    EXPECT_EQ(row[0], Array::row(RealVector{0, 1, 0, 1, 1}));
    auto flagOnly = host::callFunction("de2bi", 1, {Array::row(RealVector{2, 5}), Array::string("left-msb")});
    EXPECT_EQ(flagOnly[0], Array::matrix(2, 3, RealVector{0, 1, 1, 0, 0, 1}));
    auto emptyN = host::callFunction("de2bi", 1, {Array::scalar(4), Array::zeros(0, 0)});
    EXPECT_EQ(emptyN[0], Array::row(RealVector{0, 0, 1}));
    EXPECT_EQ(messageOf([] { host::callFunction("de2bi", 1, {Array::scalar(16), Array::scalar(4)}); }), kTooFewColumns);
    EXPECT_THROW(host::callFunction("de2bi", 1, {Array::scalar(3), Array::scalar(4), Array::string("middle")}),
                 host::Error);
    auto back = host::callFunction("bi2de", 1, {Array::matrix(2, 3, RealVector{0, 1, 1, 0, 0, 1})});
    EXPECT_EQ(back[0], Array::column(RealVector{2, 5}));
    auto backLeft = host::callFunction("bi2de", 1, {Array::row(RealVector{1, 1, 0}), Array::string("left-msb")});
    EXPECT_EQ(backLeft[0].realAt(0), 6);
}

// ---- host forms ---------------------------------------------------------------------------

TEST(ScramblerInterleaverHostForms, EveryFunctionAnswersByName) {
    const Array zeros = Array::row(RealVector(17, 0.0));
    auto s = host::callFunction("OneX_FwdScrambler", 1, {zeros, modParams(1, 0.2, 1024), Array::scalar(5)});
    EXPECT_EQ(s[0], Array::row(RealVector{1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1}));
    auto ci = host::callFunction("OneX_FwdChannelInterleaver", 1, {Array::row(counting(5120)), modParams(1, 0.2, 1024)});
    EXPECT_EQ(ci[0].numel(), 5120u);
    EXPECT_EQ(ci[0].realAt(1), 2560);
    auto p = host::callFunction("OneX_FwdSymbolPermuter", 1,
                                {Array::row(counting(8)), Array::scalar(2), Array::scalar(4), Array::string("u")});
    // Odd columns swapped; columns 1 and 2 trade places under the 2-bit reversal.
    EXPECT_EQ(p[0], Array::row(RealVector{0, 4, 2, 6, 5, 1, 7, 3}));
}

TEST(ScramblerInterleaverHostForms, RecordsAndArguments) {
    // A pass-through needs no packet size and keeps the input's shape.
    Array rateOnly = Array::structure();
    rateOnly.setField("codeRate", Array::scalar(1));
    const Array column = Array::column(RealVector{1, 0, 1});
    EXPECT_EQ(host::callFunction("OneX_FwdChannelInterleaver", 1, {column, rateOnly})[0], column);

    Array noDrc = Array::structure();
    noDrc.setField("codeRate", Array::scalar(0.2));
    const std::string missing =
        messageOf([&] { host::callFunction("OneX_FwdScrambler", 1, {column, noDrc, Array::scalar(5)}); });
    EXPECT_NE(missing.find("OneX_FwdScrambler"), std::string::npos) << missing;
    EXPECT_NE(missing.find("drcValue"), std::string::npos) << missing;
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_FwdScrambler", 1, {column, modParams(16, 0.2, 1024), Array::scalar(5)}); }),
              kTooFewColumns);
    EXPECT_THROW(host::callFunction("OneX_FwdChannelInterleaver", 1, {column, Array::scalar(1)}), host::Error);
    EXPECT_THROW(host::callFunction("OneX_FwdSymbolPermuter", 1,
                                    {Array::row(counting(8)), Array::scalar(2), Array::scalar(4), Array::string("UV")}),
                 host::Error);
    EXPECT_THROW(host::callFunction("OneX_FwdSymbolPermuter", 1,
                                    {Array::row(counting(8)), Array::scalar(2), Array::scalar(4), Array::scalar(1)}),
                 host::Error);
}

TEST(ScramblerInterleaverHostForms, ArgumentCountMessages) {
    const Array a = Array::scalar(1);
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_FwdScrambler", 1, {a, a, a, a}); }),
              "Run-time Error: File: OneX_FwdScrambler Line: 1 Column: 1 The function \"OneX_FwdScrambler\" was "
              "called with more than the declared number of inputs (3).");
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_FwdSymbolPermuter", 1, {a, a, a, a, a}); }),
              "Run-time Error: File: OneX_FwdSymbolPermuter Line: 1 Column: 1 The function \"OneX_FwdSymbolPermuter\" "
              "was called with more than the declared number of inputs (4).");
    EXPECT_EQ(messageOf([&] { host::callFunction("OneX_FwdChannelInterleaver", 2, {a, a}); }),
              "Run-time Error: File: OneX_FwdChannelInterleaver Line: 1 Column: 1 The function "
              "\"OneX_FwdChannelInterleaver\" was called with more than the declared number of outputs (1).");
}
