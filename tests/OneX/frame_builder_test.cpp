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
    in.mode = 2;
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
