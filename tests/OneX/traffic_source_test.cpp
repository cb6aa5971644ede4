#include "OneX/traffic_source.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "OneX/bit_sequences.h"
#include "OneX/scrambler_interleaver.h"
#include "OneX/traffic_modulation.h"
#include "OneX/turbo_encoder.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;

namespace {

std::size_t longestZeroRun(const RealVector& v) {
    std::size_t best = 0, run = 0;
    for (double b : v) {
        run = b == 0 ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

RealVector pn(double n, double length) { return PNgenerator({n, length, {}, {}, {}}); }

RealVector slice(const RealVector& v, std::size_t from, std::size_t count) {
    return RealVector(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(from + count));
}

ComplexVector modulateOnly(const RealVector& bits, double format, std::size_t required) {
    const ComplexVector symbols = OneX_FwdTrfRepSeq(OneX_FwdTrfModulator(bits, format), required);
    return OneX_FwdTrfSummer(OneX_FwdTrfChnGain(OneX_FwdTrfWalshCover(OneX_FwdTrfDemux(symbols))));
}

}  // namespace

TEST(GenerateBitStream, FixedPatternsAndUserBits) {
    EXPECT_EQ(GenerateBitStream(1, 4), (RealVector{0, 0, 0, 0}));
    EXPECT_EQ(GenerateBitStream(2, 3), (RealVector{1, 1, 1}));
    EXPECT_EQ(GenerateBitStream(3, 5), (RealVector{0, 1, 0, 1, 0}));
    EXPECT_EQ(GenerateBitStream(4, 5), (RealVector{1, 0, 1, 0, 1}));
    EXPECT_EQ(GenerateBitStream(7, 7, {1, 1, 0}), (RealVector{1, 1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(GenerateBitStream(8, 7, {1, 1, 0}), GenerateBitStream(7, 7, {1, 1, 0}));
    EXPECT_EQ(GenerateBitStream(7, 2, {1, 0, 1, 1}), (RealVector{1, 0}));
    EXPECT_EQ(GenerateBitStream(5, 1000), pn(9, 1000));
    EXPECT_EQ(GenerateBitStream(6, 1000), pn(15, 1000));
    EXPECT_TRUE(GenerateBitStream(5, 0).empty());
    EXPECT_THROW(GenerateBitStream(7, 10, {}), host::Error);
    EXPECT_THROW(GenerateBitStream(9, 10), host::Error);
    EXPECT_THROW(GenerateBitStream(0, 10), host::Error);
}

TEST(GenerateBitStream, HostFormTakesTwoOrThreeArguments) {
    auto three = host::callFunction("GenerateBitStream", 1, {Array::scalar(7), Array::scalar(5), Array::row(RealVector{0, 1})});
    EXPECT_EQ(three[0], Array::row(RealVector{0, 1, 0, 1, 0}));
    EXPECT_THROW(host::callFunction("GenerateBitStream", 1, {Array::scalar(1)}), host::Error);
    EXPECT_THROW(host::callFunction("GenerateBitStream", 1, {Array::scalar(1), Array::scalar(2), Array(), Array()}), host::Error);
    try {
        host::callFunction("GenerateBitStream", 2, {Array::scalar(1), Array::scalar(2)});
        FAIL();
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "Run-time Error: File: GenerateBitStream Line: 1 Column: 1 The function \"GenerateBitStream\" "
                               "was called with more than the declared number of outputs (1).");
    }
}

TEST(PNgenerator, Pn9HasPeriod511AndFollowsItsPolynomial) {
    const RealVector s = pn(9, 600);
    ASSERT_EQ(s.size(), 600u);
    EXPECT_EQ(slice(s, 0, 9), RealVector(9, 1.0));
    EXPECT_EQ(slice(s, 511, 89), slice(s, 0, 89));
    for (std::size_t i = 9; i < s.size(); ++i) EXPECT_EQ(s[i], double(int(s[i - 9]) ^ int(s[i - 5]))) << i;
    // The period is exactly 511: no shorter shift reproduces the sequence.
    for (std::size_t p = 1; p < 511; ++p) ASSERT_NE(slice(s, p, 89), slice(s, 0, 89)) << p;
}

TEST(PNgenerator, Pn15IsInvertedAndStartsWithFifteenZeros) {
    const RealVector s = pn(15, 20);
    EXPECT_EQ(slice(s, 0, 15), RealVector(15, 0.0));
    // Undo the inversion: the register follows x(i) = x(i-15) xor x(i-14).
    const RealVector longer = pn(15, 3000);
    for (std::size_t i = 15; i < longer.size(); ++i) {
        const int x = 1 - int(longer[i]), a = 1 - int(longer[i - 15]), b = 1 - int(longer[i - 14]);
        EXPECT_EQ(x, a ^ b) << i;
    }
    // A user inversion cancels the polynomial's.
    EXPECT_EQ(slice(PNgenerator({15.0, 20.0, 1.0, {}, {}}), 0, 15), RealVector(15, 1.0));
    RealVector inverted = pn(9, 40);
    for (double& b : inverted) b = 1 - b;
    EXPECT_EQ(PNgenerator({9.0, 40.0, 1.0, {}, {}}), inverted);
    EXPECT_EQ(PNgenerator({9.0, 40.0, 2.0, {}, {}}), pn(9, 40));  // only exactly 1 inverts
}

TEST(PNgenerator, ClampsLengthsAndSeeds) {
    EXPECT_EQ(pn(2, 10), pn(3, 10));
    EXPECT_EQ(pn(40, 10), pn(31, 10));
    EXPECT_EQ(pn(9, 0).size(), 1u);
    EXPECT_EQ(pn(9, 5), RealVector(5, 1.0));
    EXPECT_EQ(pn(9.5, 30), pn(9, 30));  // no such register: PN9 stands in
    EXPECT_EQ(PNgenerator({}).size(), 511u);
    EXPECT_EQ(PNgenerator({3.0, {}, {}, {}, {}}).size(), 7u);
    RealVector single(8, 0.0);
    single.push_back(1);
    EXPECT_EQ(slice(PNgenerator({9.0, 20.0, {}, RealVector{7}, {}}), 0, 9), single);
    EXPECT_EQ(slice(PNgenerator({9.0, 20.0, {}, RealVector{0}, {}}), 0, 9), RealVector(9, 1.0));
    EXPECT_EQ(slice(PNgenerator({9.0, 20.0, {}, RealVector(9, 0.0), {}}), 0, 9), single);
    EXPECT_EQ(slice(PNgenerator({9.0, 20.0, {}, RealVector(5, 0.0), {}}), 0, 9), RealVector(9, 1.0));
    RealVector longSeed{1, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1};
    EXPECT_EQ(slice(PNgenerator({9.0, 20.0, {}, longSeed, {}}), 0, 9), slice(longSeed, 0, 9));
    EXPECT_THROW(pn(9, 1e12), host::Error);
    // Through the host: a non-scalar n takes the default.
    auto out = host::callFunction("PNgenerator", 1, {Array::row(RealVector{5, 6}), Array::scalar(20)});
    EXPECT_EQ(out[0], host::toRow(pn(9, 20)));
}

TEST(PNgenerator, ZeroSuppressionOfThe20StageRegister) {
    const double period = 1048575;  // 2^20 - 1: one whole period holds the run of 19 zeros
    const RealVector plain = pn(20, period + 100);
    const RealVector suppressed = PNgenerator({20.0, period + 100, {}, {}, 1.0});
    EXPECT_EQ(longestZeroRun(plain), 19u);
    EXPECT_LE(longestZeroRun(suppressed), 14u);
    // The suppressed generator runs on x^20 + x^17 + 1: after the twenty seed ones its
    // register gives zeros from bit 21 on, and the fifteenth zero in a row becomes a 1.
    const RealVector head = PNgenerator({20.0, 200.0, {}, {}, 1.0});
    EXPECT_EQ(slice(head, 20, 14), RealVector(14, 0.0));
    EXPECT_EQ(head[34], 1.0);
    for (std::size_t i = 20; i < 200; ++i) EXPECT_EQ(plain[i], double(int(plain[i - 20]) ^ int(plain[i - 3]))) << i;
}

TEST(ModParams, TheDrcTable) {
    const ModParams one = OneX_FwdTrfChnModParams(1);
    EXPECT_TRUE(one.known);
    EXPECT_EQ(one.dataRate, 38.4);
    EXPECT_EQ(one.slots, 16);
    EXPECT_EQ(one.bits, 1024);
    EXPECT_EQ(one.codeRate, 0.2);
    EXPECT_EQ(one.modulationSymbolsProvided, 2560);
    EXPECT_EQ(one.modulationSymbolsRequired, 24576);
    const ModParams six = OneX_FwdTrfChnModParams(6);
    EXPECT_EQ(six.codeRate, 1.0 / 3);
    EXPECT_EQ(six.modulationSymbolsProvided, 1536);
    EXPECT_EQ(six.modulationSymbolsRequired, 1536);
    const ModParams twelve = OneX_FwdTrfChnModParams(12);
    EXPECT_EQ(twelve.modulationType, 3);
    EXPECT_EQ(twelve.dataRate, 2457.6);
    // The derived columns hold what the other columns say.
    for (int drc = 1; drc <= 12; ++drc) {
        const ModParams p = OneX_FwdTrfChnModParams(drc);
        EXPECT_EQ(p.pilotTDMChips, 192 * p.slots) << drc;
        EXPECT_EQ(p.macTDMChips, 256 * p.slots) << drc;
        EXPECT_EQ(p.dataTDMChips, p.slots * 2048 - p.pilotTDMChips - p.macTDMChips - p.preambleTDMChips) << drc;
        EXPECT_EQ(p.modulationSymbolsRequired, p.dataTDMChips) << drc;
        EXPECT_NEAR(p.modulationSymbolsProvided, p.bits / p.codeRate / (p.modulationType + 1), 1e-9) << drc;
    }
    const Array rec = toArray(OneX_FwdTrfChnModParams(3));
    EXPECT_EQ(rec.fieldNames(),
              (std::vector<std::string>{"drcValue", "dataRate", "slots", "bits", "codeRate", "modulationType",
                                        "preambleTDMChips", "pilotTDMChips", "macTDMChips", "dataTDMChips",
                                        "modulationSymbolsProvided", "modulationSymbolsRequired"}));
    auto zero = host::callFunction("OneX_FwdTrfChnModParams", 1, {Array::scalar(0)});
    EXPECT_EQ(zero[0].fieldNames(), (std::vector<std::string>{"drcValue"}));
    EXPECT_EQ(zero[0].field("drcValue").realAt(0), 0);
}

TEST(TrafficChain, ModulationOnlyAndEveryStage) {
    ModParams mp = OneX_FwdTrfChnModParams(1);
    mp.modulationSymbolsRequired = 1600;
    const RealVector bits = testbits::randomBits(3200, 4);
    const ComplexVector chips = OneX_FwdTrfChn(bits, mp, 5, false, false, false);
    EXPECT_EQ(chips.size(), 1600u);
    EXPECT_EQ(chips, modulateOnly(bits, 1, 1600));

    // DRC 1 with every stage: encoder, then scrambler, then interleaver, in that order.
    const ModParams drc1 = OneX_FwdTrfChnModParams(1);
    const RealVector packet = testbits::randomBits(1024, 5);
    const RealVector coded = OneX_FwdChannelInterleaver(OneX_FwdScrambler(OneX_FwdEncoder(packet, 0.2), 1, 9), 0.2, 1024);
    const ComplexVector all = OneX_FwdTrfChn(packet, drc1, 9, true, true, true);
    EXPECT_EQ(all.size(), 24576u);
    EXPECT_EQ(all, modulateOnly(coded, 1, 24576));
    EXPECT_NE(all, OneX_FwdTrfChn(packet, drc1, 9, true, false, true));
}

TEST(TrafficChain, RecordsThatLackWhatTheChainNeeds) {
    Array rec = toArray(OneX_FwdTrfChnModParams(1));
    rec.setField("modulationSymbolsRequired", Array::scalar(1600));
    const Array bits = host::toRow(RealVector(3200, 0.0));
    auto out = host::callFunction("OneX_FwdTrfChn", 1,
                                  {bits, rec, Array::scalar(5), Array::scalar(0), Array::scalar(0), Array::scalar(0)});
    EXPECT_EQ(out[0].cols(), 1600u);
    try {
        host::callFunction("OneX_FwdTrfChn", 1,
                           {bits, toArray(OneX_FwdTrfChnModParams(13)), Array::scalar(5), Array::scalar(0), Array::scalar(0),
                            Array::scalar(0)});
        FAIL();
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "OneX_FwdTrfChn: modParams has no field 'modulationType'.");
    }
    try {
        host::callFunction("OneX_FwdTrfChn", 1, std::vector<Array>(7, Array::scalar(0)));
        FAIL();
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "Run-time Error: File: OneX_FwdTrfChn Line: 1 Column: 1 The function \"OneX_FwdTrfChn\" was "
                               "called with more than the declared number of inputs (6).");
    }
}
