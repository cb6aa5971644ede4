#include "error_message.h"
#include "OneX/frame_builder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "OneX/common_channels.h"
#include "OneX/parameters.h"
#include "OneX/pn_spreading.h"
#include "OneX/traffic_source.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/random.h"
#include "host/records.h"

using namespace onex;
using host::Array;

namespace {

// 1-based inclusive chip ranges of a slot where a marker is 1.
std::vector<std::uint8_t> pattern(std::initializer_list<std::pair<std::size_t, std::size_t>> ones) {
    std::vector<std::uint8_t> v(kSlotChips, 0);
    for (auto [a, b] : ones)
        for (std::size_t i = a; i <= b; ++i) v[i - 1] = 1;
    return v;
}

std::vector<std::uint8_t> slotOf(const std::vector<std::uint8_t>& m, std::size_t k) {
    return {m.begin() + static_cast<std::ptrdiff_t>(k * kSlotChips), m.begin() + static_cast<std::ptrdiff_t>((k + 1) * kSlotChips)};
}

FrameInputs quietFrame() {
    FrameInputs in;
    in.idleSlotGainActive = 0;
    in.filter = BasebandFilterChoice::Evm;
    in.phaseEqActive = 0;
    in.mirrorSpectrum = 1;
    in.dataBits = GenerateBitStream(6, 16 * 6400);
    return in;
}

// The data chips of slot k in their order, and its MAC chips, by the slot layout.
ComplexVector dataChips(const ComplexVector& chips, std::size_t k) {
    ComplexVector d(slot::kDataChips);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = chips[k * kSlotChips + slot::dataChipPosition(i)];
    return d;
}

ComplexVector macChips(const ComplexVector& chips, std::size_t k) {
    ComplexVector m(slot::kMacChips);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = chips[k * kSlotChips + slot::macChipPosition(i)];
    return m;
}

ComplexVector trafficOf(const RealVector& bits, std::size_t from, std::size_t count, double format) {
    ModParams mp = OneX_FwdTrfChnModParams(1);
    mp.modulationSymbolsRequired = 1600;
    mp.modulationType = format;
    return OneX_FwdTrfChn(RealVector(bits.begin() + static_cast<std::ptrdiff_t>(from),
                                     bits.begin() + static_cast<std::ptrdiff_t>(from + count)),
                          mp, 5, false, false, false);
}

}  // namespace

// The slot layout: its segments tile the 2048 chips in order; data, MAC and pilot positions
// are where the air interface puts them (data 1-400, 625-1424, 1649-2048; MAC bursts at 401,
// 561, 1425, 1585; pilot bursts at 465 and 1489, 1-based).
TEST(SlotLayout, SegmentsTileTheSlotAsTheAirInterfaceHasIt) {
    std::size_t next = 0, data = 0, mac = 0, pilot = 0;
    for (const slot::Segment& seg : slot::kSegments) {
        EXPECT_EQ(seg.start, next);
        next += seg.length;
        (seg.part == slot::Part::Data ? data : seg.part == slot::Part::Mac ? mac : pilot) += seg.length;
    }
    EXPECT_EQ(next, 2048u);
    EXPECT_EQ(data, 1600u);
    EXPECT_EQ(mac, 256u);
    EXPECT_EQ(pilot, 192u);
    const std::pair<std::size_t, std::size_t> dataAt[] = {{0, 0}, {399, 399}, {400, 624}, {1199, 1423}, {1200, 1648}, {1599, 2047}};
    for (const auto& [d, at] : dataAt) EXPECT_EQ(slot::dataChipPosition(d), at) << d;
    const std::pair<std::size_t, std::size_t> macAt[] = {{0, 400}, {63, 463}, {64, 560}, {128, 1424}, {255, 1647}};
    for (const auto& [m, at] : macAt) EXPECT_EQ(slot::macChipPosition(m), at) << m;
    EXPECT_EQ(slot::partAt(464), slot::Part::Pilot);
    EXPECT_EQ(slot::partAt(1583), slot::Part::Pilot);
    EXPECT_EQ(slot::partAt(1584), slot::Part::Mac);
}

TEST(FrameBuilder, MarkersOfEveryIdleCombination) {
    FrameInputs in = quietFrame();
    // Slot 1 all idle, slot 2 data idle only, slot 3 MAC idle only, slot 4 both active.
    in.raActive[1] = in.raActive[3] = 1;
    in.dataActive[2] = in.dataActive[3] = 1;
    const ChipFrame f = buildChipFrame(in);
    EXPECT_EQ(slotOf(f.marker2, 0), pattern({{461, 564}, {1485, 1588}}));
    EXPECT_EQ(slotOf(f.marker2, 1), pattern({{397, 628}, {1421, 1652}}));
    EXPECT_EQ(slotOf(f.marker2, 2), pattern({{1, 404}, {461, 564}, {621, 1428}, {1485, 1588}, {1645, 2048}}));
    EXPECT_EQ(slotOf(f.marker2, 3), std::vector<std::uint8_t>(kSlotChips, 1));
    EXPECT_EQ(slotOf(f.marker2, 0), slot::bothIdleMask());
    // The timing marker: a pulse at the first chip of every half slot, 32 per frame.
    std::size_t ones = 0;
    for (std::size_t i = 0; i < kFrameChips; ++i) {
        ones += f.marker1[i];
        EXPECT_EQ(f.marker1[i], i % 1024 == 0 ? 1 : 0);
    }
    EXPECT_EQ(ones, 32u);
    // Held for the oversampling ratio after finishing.
    in.oversampling = 3;
    const Frame done = finishFrame(f, in);
    ASSERT_EQ(done.marker1.size(), 3 * kFrameChips);
    EXPECT_EQ(done.marker1[0] + done.marker1[1] + done.marker1[2] + done.marker1[3], 3);
    EXPECT_EQ(done.marker2[3 * 460], 1);
    EXPECT_EQ(done.marker2[3 * 460 - 1], 0);
}

TEST(FrameBuilder, QuietFrameCarriesOnlyThePilot) {
    const ChipFrame f = buildChipFrame(quietFrame());
    for (std::size_t k = 0; k < kFrameSlots; ++k)
        for (std::size_t c = 0; c < kSlotChips; ++c) {
            const bool pilot = slot::partAt(c) == slot::Part::Pilot;
            ASSERT_EQ(f.chips[k * kSlotChips + c], Complex(pilot ? 1.0 : 0.0, 0.0)) << k << " " << c;
        }
}

TEST(FrameBuilder, ActiveSlotsTakeConsecutiveBits) {
    FrameInputs in = quietFrame();
    in.dataActive[2] = 1;
    in.dataFormat[2] = 1;
    in.dataActive[8] = 1;
    in.dataFormat[8] = 3;
    in.dataFormat[5] = 2;  // an inactive slot's format takes no bits
    const ChipFrame f = buildChipFrame(in);
    EXPECT_EQ(dataChips(f.chips, 2), trafficOf(in.dataBits, 0, 3200, 1));
    EXPECT_EQ(dataChips(f.chips, 8), trafficOf(in.dataBits, 3200, 6400, 3));
}

TEST(FrameBuilder, MacBurstsAndTheRaChannel) {
    FrameInputs in = quietFrame();
    in.rpcChnActive[4] = 1;  // RA off, RPC on: the MAC is built with an RA gain of 0
    in.rpcActive(4, 0) = 1;
    in.rpcBits(4, 0) = 0;
    in.rpcGains(4, 0) = -6;
    in.raBit[4] = 1;
    const ChipFrame f = buildChipFrame(in);
    RealVector bits(59), gains(59, 0.0);
    for (std::size_t c = 0; c < 59; ++c) bits[c] = in.rpcBits(4, c);
    gains[0] = std::pow(10.0, -6.0 / 20);
    EXPECT_EQ(macChips(f.chips, 4), OneX_FwdMACslot(bits, gains, 1, 0));
    EXPECT_EQ(slotOf(f.marker2, 4), pattern({{397, 628}, {1421, 1652}}));
}

TEST(FrameBuilder, ModeTwoIsTheSpreadAllOnesSequence) {
    FrameInputs in = quietFrame();
    in.mode = onex::FrameMode::AllOnes;
    in.dataActive.assign(16, 1);
    in.dataBits.clear();  // never read in this mode
    in.pilotOffsetIndex = 3;
    in.oversampling = 2;
    const Frame f = OneX_FwdChnFrame(in);
    const ComplexVector pn = complexPnSequence(3);
    ASSERT_EQ(f.waveform.size(), 2 * kFrameChips);
    for (std::size_t k = 0; k < kFrameChips; ++k) {
        ASSERT_EQ(f.waveform[2 * k], pn[k]);
        ASSERT_EQ(f.waveform[2 * k + 1], Complex(0, 0));
    }
    EXPECT_TRUE(std::all_of(f.marker2.begin(), f.marker2.end(), [](std::uint8_t v) { return v == 1; }));
}

TEST(FrameBuilder, DespreadingRecoversEveryChannel) {
    FrameInputs in = quietFrame();
    in.pilotOffsetIndex = 77;
    in.oversampling = 4;
    for (std::size_t k = 0; k < kFrameSlots; ++k) {
        in.dataActive[k] = k % 4 != 0;
        in.dataFormat[k] = static_cast<double>(k % 3 + 1);
        in.raActive[k] = 1;
        in.raBit[k] = static_cast<double>(k % 2);
        in.rpcChnActive[k] = k % 2;
        for (std::size_t c = 0; c < 59; c += 7) in.rpcActive(k, c) = 1;
    }
    const Frame f = OneX_FwdChnFrame(in);
    const ComplexVector pn = complexPnSequence(77);
    ComplexVector chips(kFrameChips);
    for (std::size_t k = 0; k < kFrameChips; ++k) chips[k] = f.waveform[4 * k] * std::conj(pn[k]) / 2.0;
    std::size_t bit = 0;
    for (std::size_t k = 0; k < kFrameSlots; ++k) {
        // Pilot bursts.
        for (std::size_t c : slot::kPilotBurstStart)
            for (std::size_t i = 0; i < slot::kPilotChips; ++i) EXPECT_NEAR(std::abs(chips[k * kSlotChips + c + i] - 1.0), 0, 1e-15);
        // Traffic.
        if (in.dataActive[k] == 1) {
            const std::size_t need = static_cast<std::size_t>(in.dataFormat[k] + 1) * 1600;
            const ComplexVector expected = trafficOf(in.dataBits, bit, need, in.dataFormat[k]);
            const ComplexVector got = dataChips(chips, k);
            for (std::size_t i = 0; i < 1600; ++i) EXPECT_NEAR(std::abs(got[i] - expected[i]), 0, 1e-14) << k << " " << i;
            bit += need;
        }
        // MAC.
        RealVector bits(59), gains(59);
        for (std::size_t c = 0; c < 59; ++c) {
            bits[c] = in.rpcBits(k, c);
            gains[c] = std::pow(10.0, in.rpcGains(k, c) / 20) * in.rpcActive(k, c) * in.rpcChnActive[k];
        }
        const ComplexVector mac = OneX_FwdMACslot(bits, gains, in.raBit[k], std::pow(10.0, in.raGain[k] / 20));
        const ComplexVector got = macChips(chips, k);
        for (std::size_t i = 0; i < 256; ++i) EXPECT_NEAR(std::abs(got[i] - mac[i]), 0, 1e-14) << k << " " << i;
    }
}

TEST(FrameBuilder, ConjugatesUnlessMirrored) {
    FrameInputs in = quietFrame();
    in.filter = BasebandFilterChoice::Acp;
    in.phaseEqActive = 1;
    in.oversampling = 2;
    in.mirrorSpectrum = 1;
    const Frame mirrored = OneX_FwdChnFrame(in);
    in.mirrorSpectrum = 0;
    const Frame normal = OneX_FwdChnFrame(in);
    for (std::size_t i = 0; i < normal.waveform.size(); ++i) ASSERT_EQ(normal.waveform[i], std::conj(mirrored.waveform[i]));
}

TEST(FrameBuilder, RefusesTooFewBitsAndUnknownFormats) {
    FrameInputs in = quietFrame();
    in.dataActive.assign(16, 1);
    in.dataBits.resize(10000);
    EXPECT_THROW(buildChipFrame(in), host::Error);
    in = quietFrame();
    in.dataActive[0] = 1;
    in.dataFormat[0] = 4;
    EXPECT_THROW(buildChipFrame(in), host::Error);
}

TEST(Calculate, DefaultFrameIntoTheRecords) {
    host::seedRandom(5);
    InitializeParameters();
    const FrameInputs in = frameInputsFromParameters(applicationParameters());
    EXPECT_EQ(in.dataBits.size(), 51200u);
    EXPECT_EQ(in.dataActive, RealVector(16, 0.0));  // the master switches are off by default
    EXPECT_EQ(in.raActive, RealVector(16, 0.0));
    EXPECT_EQ(in.rpcChnActive, RealVector(16, 0.0));
    Calculate();
    const Array& w = host::record("waveform");
    const Array& m = host::record("markers");
    EXPECT_EQ(w.rows(), 1u);
    EXPECT_EQ(w.cols(), 163840u);
    EXPECT_TRUE(w.isComplex());
    EXPECT_EQ(m.rows(), 2u);
    EXPECT_EQ(m.cols(), 163840u);
    // Noise is drawn fresh; with the same seed the frame repeats.
    host::seedRandom(5);
    const Array first = w;
    Calculate();
    EXPECT_EQ(host::record("waveform"), first);
}

TEST(Calculate, MalformedParameterSetsNameTheField) {
    auto messageFor = [](auto edit) {
        Array p = defaultParameters();
        edit(p);
        return errorMessageOf([&] { frameInputsFromParameters(p); });
    };
    EXPECT_EQ(messageFor([](Array& p) { p.removeField("OverSampling"); }), "parameters has no field 'OverSampling'.");
    EXPECT_EQ(messageFor([](Array& p) { p.field("slot").setField("RPCslotGain", Array::zeros(16, 58)); }),
              "parameters.slot.RPCslotGain must be 16 x 59, not 16 x 58.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("Mode", Array::string("1")); }), "parameters.Mode must be numeric, not char.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("IdleSlotGain", Array::scalar(std::nan(""))); }),
              "parameters.IdleSlotGain must hold finite numbers, not NaN.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("OverSampling", Array::scalar(1e9)); }),
              "parameters.OverSampling must be a whole number from 2 to 30, not 1000000000.");
    EXPECT_EQ(messageFor([](Array& p) { p.field("slot").setField("DATAslotMod", Array::column(RealVector(16, 7.0))); }),
              "parameters.slot.DATAslotMod must hold modulation codes 1, 2 or 3, not 7.");
    EXPECT_EQ(messageFor([](Array& p) { p.field("slot").setField("DATAslotActive", Array::zeros(4, 4)); }),
              "parameters.slot.DATAslotActive must be 16 x 1, not 4 x 4.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("slot", Array::scalar(1)); }),
              "parameters.slot must be a per-slot record (a struct).");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("DATAsourceType", Array::scalar(7)); }),
              "GenerateBitStream: the user bit stream is empty; load a user data file first.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("IdleSlotGain", Array::scalar(1e308)); }),
              "parameters.IdleSlotGain must lie from -80 to 0 dB, not 1e+308.");
    EXPECT_EQ(messageFor([](Array& p) { p.field("slot").setField("RPCslotGain", Array::matrix(16, 59, RealVector(944, 31))); }),
              "parameters.slot.RPCslotGain must lie from -30 to 30 dB, not 31.");
    EXPECT_EQ(messageFor([](Array& p) { p.setField("PilotOffsetIndex", Array::scalar(512)); }),
              "parameters.PilotOffsetIndex must be a whole number from 0 to 511, not 512.");
    // A row of 16 per-slot values is as good as a column.
    EXPECT_EQ(messageFor([](Array& p) { p.field("slot").setField("RAslotGain", Array::row(RealVector(16, -3.0))); }),
              "(no error)");
}

TEST(FrameBuilder, HostFormWithEighteenArguments) {
    std::vector<Array> args = {Array::scalar(1),   Array::scalar(0),  Array::column(RealVector(16, 0.0)),
                               Array::column(RealVector(16, 1.0)), host::toRow(GenerateBitStream(6, 51200)),
                               Array::column(RealVector(16, 0.0)), Array::column(RealVector(16, 1.0)),
                               Array::column(RealVector(16, -3.0)), Array::column(RealVector(16, 0.0)),
                               Array::zeros(16, 59), Array::zeros(16, 59), Array::zeros(16, 59),
                               Array::scalar(1),   Array::scalar(-10), Array::scalar(2),
                               Array::string("IS95-STD"), Array::scalar(1), Array::scalar(0)};
    auto out = host::callFunction("OneX_FwdChnFrame", 2, args);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].cols(), 65536u);
    EXPECT_EQ(out[1].rows(), 2u);
    args.push_back(Array());
    EXPECT_THROW(host::callFunction("OneX_FwdChnFrame", 2, args), host::Error);
    args.pop_back();
    EXPECT_THROW(host::callFunction("OneX_FwdChnFrame", 3, args), host::Error);
    args[9] = Array::zeros(59, 16);
    EXPECT_THROW(host::callFunction("OneX_FwdChnFrame", 2, args), host::Error);
}

// Several frames: slot s follows pattern row s mod 16, the bits run on over frame starts,
// and every frame's chips are spread with the same one-frame PN period.
TEST(FrameBuilder, SeveralFramesRunOneBitStreamOverTheSlotPattern) {
    FrameInputs in = quietFrame();
    in.frameCount = 3;
    in.dataActive[1] = 1;
    in.dataFormat[1] = 2;
    in.dataActive[14] = 1;
    in.dataFormat[14] = 1;
    in.rpcChnActive[14] = 1;
    in.rpcActive(14, 3) = 1;
    in.dataBits = GenerateBitStream(6, 3 * 16 * 6400);
    const ChipFrame f = buildChipFrame(in);
    ASSERT_EQ(f.chips.size(), 3 * kFrameChips);
    std::size_t bit = 0;
    for (std::size_t frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(dataChips(f.chips, 16 * frame + 1), trafficOf(in.dataBits, bit, 4800, 2)) << "frame " << frame;
        EXPECT_EQ(dataChips(f.chips, 16 * frame + 14), trafficOf(in.dataBits, bit + 4800, 3200, 1)) << "frame " << frame;
        bit += 8000;
        EXPECT_EQ(macChips(f.chips, 16 * frame + 14), macChips(f.chips, 14));
        EXPECT_EQ(slotOf(f.marker2, 16 * frame + 3), slot::bothIdleMask());
    }
    in.dataBits.resize(2 * 8000 + 4799);  // the third frame's slot 2 runs out
    EXPECT_NE(errorMessageOf([&] { buildChipFrame(in); }).find("slot 34 needs bits 16001 to 20800"), std::string::npos);

    in.oversampling = 2;
    in.dataBits = GenerateBitStream(6, 3 * 16 * 6400);
    const Frame w = OneX_FwdChnFrame(in);
    const ComplexVector pn = complexPnSequence(0);
    ASSERT_EQ(w.waveform.size(), 3 * 2 * kFrameChips);
    ASSERT_EQ(w.marker2.size(), w.waveform.size());
    for (std::size_t k = 0; k < 3 * kFrameChips; k += 97)
        ASSERT_NEAR(std::abs(w.waveform[2 * k] - f.chips[k] * pn[k % kFrameChips]), 0, 1e-15) << k;
}

// The filters run round the whole waveform: frames that repeat give the one-frame waveform
// repeated, and turning the chips by a frame turns the samples by a frame.
TEST(FrameBuilder, FilteringIsCircularOverTheWholeWaveform) {
    FrameInputs one = quietFrame();
    one.filter = BasebandFilterChoice::Acp;
    one.phaseEqActive = 1;
    one.mirrorSpectrum = 0;
    one.oversampling = 3;
    one.rpcChnActive.assign(16, 1);
    one.rpcActive(5, 9) = 1;
    one.dataActive.assign(16, 1);
    one.dataBits.resize(16 * 3200);  // QPSK in every slot: exactly one frame's bits
    host::record("parameters") = defaultParameters();  // the equaliser's filter choice
    const Frame single = OneX_FwdChnFrame(one);
    FrameInputs twice = one;
    twice.frameCount = 2;
    twice.dataBits.insert(twice.dataBits.end(), one.dataBits.begin(), one.dataBits.end());
    const Frame repeated = OneX_FwdChnFrame(twice);
    const std::size_t n = single.waveform.size();
    ASSERT_EQ(repeated.waveform.size(), 2 * n);
    double worst = 0;
    for (std::size_t i = 0; i < 2 * n; ++i) worst = std::max(worst, std::abs(repeated.waveform[i] - single.waveform[i % n]));
    EXPECT_LT(worst, 1e-12);

    // Different frames, no equaliser (exactly circular): the first frame's start carries the
    // second frame's end, as the turned waveform shows.
    twice.phaseEqActive = 0;
    twice.dataBits = GenerateBitStream(6, 2 * 16 * 3200);
    const Frame w = OneX_FwdChnFrame(twice);
    FrameInputs turned = twice;
    turned.dataBits.assign(twice.dataBits.begin() + 16 * 3200, twice.dataBits.end());
    turned.dataBits.insert(turned.dataBits.end(), twice.dataBits.begin(), twice.dataBits.begin() + 16 * 3200);
    const Frame t = OneX_FwdChnFrame(turned);
    worst = 0;
    for (std::size_t i = 0; i < 2 * n; ++i) worst = std::max(worst, std::abs(t.waveform[i] - w.waveform[(i + n) % (2 * n)]));
    EXPECT_LT(worst, 1e-12);
    EXPECT_GT(std::abs(w.waveform[0] - single.waveform[0]), 1e-3);  // not the one frame's wrap
}

// Packets: the preamble and the packet's traffic chips on its slots of the selected
// interlaces, payload taken in the order of first slots; other interlaces idle.
TEST(FrameBuilder, PacketsOnTheirInterlaces) {
    const struct {
        int drc, mac;
        Interlaces interlaces;
        std::size_t frames;
    } cases[] = {{2, 8, {false, true, false, true}, 2}, {4, 33, {true, false, true, false}, 1}, {12, 63, {true, true, true, false}, 1}};
    for (const auto& c : cases) {
        FrameInputs in = quietFrame();
        in.frameCount = c.frames;
        in.packets = PacketSettings{c.drc, c.mac, c.interlaces};
        const PacketPlan plan = packetPlan(c.drc, c.frames, c.interlaces);
        in.dataBits = GenerateBitStream(6, plan.payloadBits());
        const ChipFrame f = buildChipFrame(in);
        const ModParams mp = OneX_FwdTrfChnModParams(c.drc);
        std::vector<bool> carried(16 * c.frames, false);
        for (std::size_t p = 0; p < plan.firstSlots.size(); ++p) {
            const std::size_t per = plan.payloadBitsPerPacket();
            const RealVector payload(in.dataBits.begin() + static_cast<std::ptrdiff_t>(p * per),
                                     in.dataBits.begin() + static_cast<std::ptrdiff_t>((p + 1) * per));
            const ComplexVector expected = packetDataChips(physicalLayerPacket(payload, plan.packetBits), mp, c.mac);
            ASSERT_EQ(expected.size(), plan.slotsPerPacket * 1600);
            for (std::size_t t = 0; t < plan.slotsPerPacket; ++t) {
                const std::size_t s = plan.firstSlots[p] + 4 * t;
                carried[s] = true;
                EXPECT_EQ(dataChips(f.chips, s), ComplexVector(expected.begin() + static_cast<std::ptrdiff_t>(t * 1600),
                                                               expected.begin() + static_cast<std::ptrdiff_t>((t + 1) * 1600)))
                    << "DRC " << c.drc << " packet " << p << " slot " << s;
            }
            const RealVector preamble = packetPreamble(static_cast<std::size_t>(mp.preambleTDMChips), c.mac);
            for (std::size_t i = 0; i < preamble.size(); ++i) ASSERT_EQ(expected[i], Complex(preamble[i], 0));
        }
        for (std::size_t s = 0; s < carried.size(); ++s) {
            EXPECT_EQ(carried[s], c.interlaces[s % 4]) << "DRC " << c.drc << " slot " << s;
            if (!carried[s]) {
                EXPECT_EQ(dataChips(f.chips, s), ComplexVector(1600)) << "DRC " << c.drc << " slot " << s;
            }
            EXPECT_EQ(slotOf(f.marker2, s), carried[s] ? slot::idleMacMask() : slot::bothIdleMask()) << "DRC " << c.drc << " slot " << s;
        }
    }
    FrameInputs in = quietFrame();
    in.packets = PacketSettings{1, 5, {true, true, true, true}};
    EXPECT_NE(errorMessageOf([&] { buildChipFrame(in); }).find("multiple of 4"), std::string::npos);
    in.frameCount = 4;
    in.dataBits.resize(4000);
    EXPECT_NE(errorMessageOf([&] { buildChipFrame(in); }).find("need 4008 payload bits"), std::string::npos);
}

// The parameter set's new fields: defaults for a record without them, the frame count raised
// for packets, the payload only for the packets there are, and each field checked.
TEST(Calculate, FramesAndPacketsFromTheParameterSet) {
    Array p = defaultParameters();
    for (const char* name : {"FrameCount", "DATApacketMode", "DATApacketDRC", "DATApacketMAC", "DATApacketInterlaces"}) p.removeField(name);
    EXPECT_EQ(frameInputsFromParameters(p).frameCount, 1u);
    EXPECT_FALSE(frameInputsFromParameters(p).packets.has_value());

    p = defaultParameters();
    p.setField("FrameCount", Array::scalar(3));
    EXPECT_EQ(frameInputsFromParameters(p).dataBits.size(), 3 * 51200u);
    p.setField("DATApacketMode", Array::scalar(1));
    p.setField("DATApacketDRC", Array::scalar(2));
    EXPECT_FALSE(frameInputsFromParameters(p).packets.has_value());  // traffic off
    EXPECT_EQ(frameInputsFromParameters(p).frameCount, 4u);
    p.setField("DATAchnActive", Array::scalar(1));
    p.setField("DATApacketInterlaces", Array::row(RealVector{0, 1, 0, 0}));
    const FrameInputs in = frameInputsFromParameters(p);
    ASSERT_TRUE(in.packets.has_value());
    EXPECT_EQ(in.dataBits.size(), 2 * 1002u);
    // No packet at all: no bits, so an empty user stream is no error.
    p.setField("DATApacketInterlaces", Array::row(RealVector{0, 0, 0, 0}));
    p.setField("DATAsourceType", Array::scalar(7));
    EXPECT_TRUE(frameInputsFromParameters(p).dataBits.empty());

    auto messageFor = [](const char* name, const Array& value) {
        Array q = defaultParameters();
        q.setField(name, value);
        return errorMessageOf([&] { frameInputsFromParameters(q); });
    };
    EXPECT_EQ(messageFor("FrameCount", Array::scalar(17)), "parameters.FrameCount must be a whole number from 1 to 16, not 17.");
    EXPECT_EQ(messageFor("DATApacketMode", Array::scalar(0.5)), "parameters.DATApacketMode must be a whole number from 0 to 1, not 0.5.");
    Array packets = defaultParameters();
    packets.setField("DATApacketMode", Array::scalar(1));
    auto packetMessageFor = [&](const char* name, const Array& value) {
        Array q = packets;
        q.setField(name, value);
        return errorMessageOf([&] { frameInputsFromParameters(q); });
    };
    EXPECT_EQ(packetMessageFor("DATApacketDRC", Array::scalar(13)), "parameters.DATApacketDRC must be a whole number from 1 to 12, not 13.");
    EXPECT_EQ(packetMessageFor("DATApacketMAC", Array::scalar(4)), "parameters.DATApacketMAC must be a whole number from 5 to 63, not 4.");
    EXPECT_EQ(packetMessageFor("DATApacketInterlaces", Array::row(RealVector{1, 1, 1})),
              "parameters.DATApacketInterlaces must be a row of 4 flags, not 1 x 3.");
    EXPECT_EQ(packetMessageFor("DATApacketInterlaces", Array::row(RealVector{1, 2, 1, 1})),
              "parameters.DATApacketInterlaces must hold flags 0 or 1, not 2.");
}

// The host forms: the whole waveform from a parameter record that names only what differs,
// and one physical-layer packet.
TEST(FrameBuilder, HostFormsOfSeveralFramesAndOfAPacket) {
    InitializeParameters();
    host::seedRandom(11);
    Calculate();
    const Array calculated = host::record("waveform");
    host::seedRandom(11);
    auto out = host::callFunction("OneX_FwdChnFrames", 2, {Array::structure()});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], calculated);

    Array partial = Array::structure();
    partial.setField("FrameCount", Array::scalar(2));
    partial.setField("OverSampling", Array::scalar(2));
    Array slot = Array::structure();
    slot.setField("DATAslotActive", Array::column(RealVector(16, 1.0)));
    partial.setField("slot", slot);
    out = host::callFunction("OneX_FwdChnFrames", 2, {partial});
    EXPECT_EQ(out[0].cols(), 2 * 2 * kFrameChips);
    EXPECT_EQ(out[1].rows(), 2u);
    EXPECT_EQ(host::record("parameters"), defaultParameters());  // the application's record is left as it was
    // Idle-slot noise over every frame: the same seed, the same waveform.
    host::seedRandom(21);
    const Array seeded = host::callFunction("OneX_FwdChnFrames", 2, {partial})[0];
    host::seedRandom(21);
    EXPECT_EQ(host::callFunction("OneX_FwdChnFrames", 2, {partial})[0], seeded);
    EXPECT_NE(host::callFunction("OneX_FwdChnFrames", 2, {partial})[0], seeded);
    partial.setField("FrameCuont", Array::scalar(2));
    EXPECT_NE(errorMessageOf([&] { host::callFunction("OneX_FwdChnFrames", 2, {partial}); }).find("has no field 'FrameCuont'"), std::string::npos);

    const RealVector payload = GenerateBitStream(6, 2004);
    const Array byNumber = host::callFunction("OneX_FwdPhysicalLayerPacket", 1, {host::toRow(payload), Array::scalar(5)})[0];
    EXPECT_EQ(byNumber, host::toRow(physicalLayerPacket(payload, 2048)));
    const Array byRecord =
        host::callFunction("OneX_FwdPhysicalLayerPacket", 1, {host::toRow(payload), toArray(OneX_FwdTrfChnModParams(5))})[0];
    EXPECT_EQ(byRecord, byNumber);
    EXPECT_NE(errorMessageOf([&] { host::callFunction("OneX_FwdPhysicalLayerPacket", 1, {host::toRow(payload), Array::scalar(6)}); })
                  .find("carries 1002 payload bits, not 2004"),
              std::string::npos);
    EXPECT_NE(errorMessageOf([&] { host::callFunction("OneX_FwdPhysicalLayerPacket", 1, {Array::row(RealVector(1002, 2.0)), Array::scalar(6)}); })
                  .find("element 1 is 2"),
              std::string::npos);
}
