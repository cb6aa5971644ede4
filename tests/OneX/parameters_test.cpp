#include "OneX/parameters.h"

#include <gtest/gtest.h>

#include "host/records.h"

using host::Array;

TEST(Parameters, DefaultsInFileOrder) {
    const Array p = onex::defaultParameters();
    EXPECT_EQ(p.fieldNames(),
              (std::vector<std::string>{"ParameterFileFormat_ID", "Mode", "PilotOffsetIndex", "MACchnActive",
                                        "DATAchnActive", "DATAsourceType", "DATAsourceName", "dataSourceBitstream",
                                        "IdleSlotGainActive", "IdleSlotGain", "slot", "OverSampling", "FilterType",
                                        "PhaseEq", "MirrorSpectrum", "ProjectedLength", "LastPath", "FrameCount",
                                        "DATApacketMode", "DATApacketDRC", "DATApacketMAC", "DATApacketInterlaces"}));
    EXPECT_EQ(p.field("DATApacketInterlaces").rows(), 1u);
    EXPECT_EQ(p.field("DATApacketInterlaces").cols(), 4u);
    EXPECT_EQ(p.field("ParameterFileFormat_ID").text(), "OneX-Fwd - Format 1.2");
    EXPECT_EQ(p.field("ProjectedLength").realAt(0), 163840);
    EXPECT_EQ(p.field("MACchnActive").realAt(0), 0);
    EXPECT_EQ(p.field("DATAchnActive").realAt(0), 0);
    EXPECT_EQ(p.field("DATAsourceType").realAt(0), 6);
    EXPECT_EQ(p.field("IdleSlotGain").realAt(0), -10);
    EXPECT_EQ(p.field("FilterType").realAt(0), 3);
    EXPECT_TRUE(p.field("DATAsourceName").isChar() && p.field("DATAsourceName").isEmpty());
    EXPECT_TRUE(p.field("dataSourceBitstream").isDouble() && p.field("dataSourceBitstream").isEmpty());
    EXPECT_TRUE(p.field("LastPath").isChar() && p.field("LastPath").isEmpty());
}

TEST(Parameters, SlotRecordShapesAndDefaults) {
    const Array slot = onex::defaultParameters().field("slot");
    EXPECT_EQ(slot.fieldNames(),
              (std::vector<std::string>{"DATAslotActive", "DATAslotMod", "RAslotActive", "RAslotValue", "RAslotGain",
                                        "RPCslotActiveChn", "RPCslotActive", "RPCslotValue", "RPCslotGain"}));
    for (const auto& name : slot.fieldNames()) {
        const Array& f = slot.field(name);
        EXPECT_EQ(f.rows(), 16u) << name;
        EXPECT_EQ(f.cols(), name.rfind("RPCslot", 0) == 0 && name != "RPCslotActiveChn" ? 59u : 1u) << name;
    }
    const Array& rpc = slot.field("RPCslotActive");
    for (std::size_t r = 0; r < 16; ++r) {
        EXPECT_EQ(rpc.realAt(r), 1);              // column 1: MAC index 5
        for (std::size_t c = 1; c < 59; ++c) EXPECT_EQ(rpc.realAt(c * 16 + r), 0);
        EXPECT_EQ(slot.field("RAslotGain").realAt(r), -3);
        EXPECT_EQ(slot.field("RPCslotGain").realAt(58 * 16 + r), -3);
        EXPECT_EQ(slot.field("DATAslotMod").realAt(r), 1);
    }
}

TEST(Parameters, InitializeFillsTheApplicationRecord) {
    host::record("parameters") = Array::scalar(0);
    onex::InitializeParameters();
    EXPECT_EQ(host::record("parameters"), onex::defaultParameters());
}

// Numbers are truncated and clamped; text with no number in it keeps the previous value (7).
TEST(Parameters, PilotOffsetEntriesAreTruncatedAndClamped) {
    const struct {
        const char* text;
        double stored;
    } cases[] = {{"600", 511}, {"-3", 0}, {"-3.7", 0}, {"12.9", 12}, {"twelve", 7}, {"3 700", 511},
                 {"NaN", 7},   {"", 7},   {"Inf", 511}, {"-Inf", 0}, {"NaN 4", 4}};
    for (const auto& c : cases) EXPECT_EQ(onex::pilotOffsetIndexEntry(c.text, 7), c.stored) << c.text;
}

TEST(Parameters, OversamplingEntriesKeepTheProjectedLength) {
    struct Case {
        const char* text;
        double stored;
        double length;
    };
    for (const Case& c : {Case{"1", 2, 65536}, Case{"31", 30, 983040}, Case{"4.7", 4, 131072}, Case{"4.9", 4, 131072},
                          Case{"abc", 5, 163840}, Case{"8", 8, 262144}}) {
        Array p = onex::defaultParameters();
        const double v = onex::overSamplingEntry(c.text, 5);
        EXPECT_EQ(v, c.stored) << c.text;
        onex::setOverSampling(p, v);
        EXPECT_EQ(p.field("OverSampling").realAt(0), c.stored);
        EXPECT_EQ(p.field("ProjectedLength").realAt(0), c.length) << c.text;
    }
}

TEST(Parameters, IdleGainEntriesAreClampedNotRounded) {
    EXPECT_EQ(onex::idleSlotGainEntry("-100", -10), -80);
    EXPECT_EQ(onex::idleSlotGainEntry("5", -10), 0);
    EXPECT_EQ(onex::idleSlotGainEntry("-12.5", -10), -12.5);
    EXPECT_EQ(onex::idleSlotGainEntry("loud", -10), -10);
    EXPECT_EQ(onex::idleSlotGainEntry("", -10), -10);
}

// The packet fields are rounded half away from zero, then limited; the projected length
// follows the frames the waveform will have (raised to whole packets on every interlace).
TEST(Parameters, PacketEntriesAndTheWaveformLength) {
    const struct {
        const char* name;
        double typed, stored;
    } entries[] = {{"FrameCount", 0, 1},       {"FrameCount", 2.5, 3},    {"FrameCount", 40, 16},   {"DATApacketMode", 0.5, 1},
                   {"DATApacketMode", -2, 0},  {"DATApacketDRC", 0, 1},   {"DATApacketDRC", 12.5, 12}, {"DATApacketDRC", -0.5, 1},
                   {"DATApacketMAC", 4.4, 5},  {"DATApacketMAC", 64, 63}, {"DATApacketMAC", 62.5, 63}, {"DATApacketInterlaces", 0.49, 0},
                   {"DATApacketInterlaces", 0.5, 1}};
    for (const auto& e : entries) EXPECT_EQ(onex::packetFieldEntry(e.name, e.typed), e.stored) << e.name << " " << e.typed;
    EXPECT_FALSE(onex::packetFieldEntry("OverSampling", 3).has_value());

    const struct {
        double frames, mode, drc, waveformFrames;
    } lengths[] = {{1, 0, 1, 1}, {3, 0, 1, 3}, {1, 1, 1, 4}, {5, 1, 1, 8}, {3, 1, 2, 4}, {3, 1, 3, 3}, {16, 1, 1, 16}, {7, 1, 12, 7}};
    for (const auto& l : lengths) {
        Array p = onex::defaultParameters();
        p.setField("FrameCount", Array::scalar(l.frames));
        p.setField("DATApacketMode", Array::scalar(l.mode));
        p.setField("DATApacketDRC", Array::scalar(l.drc));
        EXPECT_EQ(onex::waveformFrames(p), l.waveformFrames) << l.frames << " frames, mode " << l.mode << ", DRC " << l.drc;
        onex::setOverSampling(p, 8);
        EXPECT_EQ(p.field("ProjectedLength").realAt(0), 8 * 32768 * l.waveformFrames);
    }
}
