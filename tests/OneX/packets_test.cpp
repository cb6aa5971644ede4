#include "OneX/packets.h"

#include <gtest/gtest.h>

#include <string>

#include "OneX/bit_sequences.h"
#include "OneX/common_channels.h"
#include "OneX/packet_receiver.h"
#include "OneX/traffic_source.h"
#include "error_message.h"

namespace {

using onex::Complex;
using onex::RealVector;

RealVector asciiBitsMsbFirst(const std::string& text) {
    RealVector bits;
    for (unsigned char c : text)
        for (int b = 7; b >= 0; --b) bits.push_back((c >> b) & 1);
    return bits;
}

std::uint16_t fcsOf(const RealVector& bits) { return onex::packetFcs(bits.data(), bits.size()); }

TEST(Packets, FrameCheckSequenceKnownVectors) {
    const RealVector pn15 = onex::GenerateBitStream(6, 2004);
    RealVector twoPackets = pn15;
    twoPackets.resize(2004 + 22, 0.0);
    const struct {
        const char* what;
        RealVector bits;
        std::uint16_t fcs;
    } cases[] = {{"ASCII 123456789", asciiBitsMsbFirst("123456789"), 0x29B1},
                 {"1002 zeros", RealVector(1002, 0.0), 0xC9A3},
                 {"1002 ones", RealVector(1002, 1.0), 0x3914},
                 {"1002 PN15 bits", RealVector(pn15.begin(), pn15.begin() + 1002), 0xEBB7},
                 {"2004 PN15 bits and the pad", twoPackets, 0x4B16}};
    for (const auto& c : cases) EXPECT_EQ(fcsOf(c.bits), c.fcs) << c.what;
}

// Payload, (m - 1) x 22 zeros, the FCS highest bit first over all of that, six zeros.
TEST(Packets, PhysicalLayerPacketLayout) {
    for (std::size_t size : {1024u, 2048u, 3072u, 4096u}) {
        const std::size_t m = size / 1024, payloadBits = m * 1002;
        const RealVector payload = testbits::randomBits(payloadBits, static_cast<unsigned>(size));
        const RealVector packet = onex::physicalLayerPacket(payload, size);
        ASSERT_EQ(packet.size(), size);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packet.begin()));
        const std::size_t fcsAt = payloadBits + (m - 1) * 22;
        for (std::size_t i = payloadBits; i < fcsAt; ++i) EXPECT_EQ(packet[i], 0) << size << " pad bit " << i;
        const std::uint16_t fcs = onex::packetFcs(packet.data(), fcsAt);
        for (std::size_t b = 0; b < 16; ++b) EXPECT_EQ(packet[fcsAt + b], (fcs >> (15 - b)) & 1) << size << " FCS bit " << b;
        for (std::size_t i = fcsAt + 16; i < size; ++i) EXPECT_EQ(packet[i], 0) << size << " tail bit " << i;
        // The register runs on through its own check sequence to zero.
        EXPECT_EQ(onex::packetFcs(packet.data(), fcsAt + 16), 0) << size;
    }
    EXPECT_NE(errorMessageOf([] { onex::physicalLayerPacket(RealVector(1001), 1024); }).find("1002 payload bits"), std::string::npos);
    EXPECT_NE(errorMessageOf([] { onex::physicalLayerPacket(RealVector(1002), 1000); }).find("1024, 2048, 3072 or 4096"), std::string::npos);
}

TEST(Packets, PreambleIsTheMacIndexWalshFunction) {
    const onex::RealMatrix w = onex::OneX_WalshMatrix(64);
    for (int mac : {5, 6, 17, 42, 63}) {
        const RealVector p = onex::packetPreamble(1024, mac);
        ASSERT_EQ(p.size(), 1024u);
        const std::size_t row = static_cast<std::size_t>(mac / 2);
        const double sign = mac % 2 ? -1 : 1;
        for (std::size_t c = 0; c < p.size(); ++c) ASSERT_EQ(p[c], sign * w(row, c % 64)) << "MAC " << mac << " chip " << c;
    }
}

// Interlace i carries packet j on slots i + 4 (j n + t); frames round up to whole packets.
TEST(Packets, PlacementOnTheInterlaces) {
    const struct {
        std::size_t frames, slots;
        onex::Interlaces interlaces;
        std::size_t roundedFrames;
        std::vector<std::size_t> first;
    } cases[] = {
        {1, 16, {true, true, true, true}, 4, {0, 1, 2, 3}},
        {5, 16, {true, false, false, false}, 8, {0, 64}},
        {3, 8, {false, true, false, true}, 4, {1, 3, 33, 35}},
        {1, 4, {true, true, false, false}, 1, {0, 1}},
        {1, 2, {false, false, true, false}, 1, {2, 10}},
        {1, 1, {true, false, false, true}, 1, {0, 3, 4, 7, 8, 11, 12, 15}},
        {2, 1, {false, false, false, false}, 2, {}},
    };
    for (const auto& c : cases) {
        const std::size_t frames = onex::packetFrameCount(c.frames, c.slots);
        EXPECT_EQ(frames, c.roundedFrames) << c.frames << " frames of " << c.slots << "-slot packets";
        EXPECT_EQ(onex::packetFirstSlots(frames, c.slots, c.interlaces), c.first) << c.frames << " frames of " << c.slots << "-slot packets";
    }
}

// The receiver's checks on one packet's data chips, every DRC: a clean packet passes all;
// an error in the systematic block fails the FCS only; another MAC index's preamble is not found.
TEST(Packets, ReceiverChecksEveryDrc) {
    for (int drc = 1; drc <= 12; ++drc) {
        const onex::ModParams mp = onex::OneX_FwdTrfChnModParams(drc);
        const auto size = static_cast<std::size_t>(mp.bits);
        const RealVector packet = onex::physicalLayerPacket(testbits::randomBits(size / 1024 * 1002, static_cast<unsigned>(drc)), size);
        const int mac = 5 + 7 * drc % 59;
        onex::ComplexVector chips = onex::packetDataChips(packet, mp, mac);
        ASSERT_EQ(chips.size(), static_cast<std::size_t>(mp.slots) * 1600) << "DRC " << drc;

        const onex::PacketCheck clean = onex::checkPacket(chips, mp, mac);
        EXPECT_TRUE(clean.preambleFound && clean.repeatsMatch && clean.fcsGood) << "DRC " << drc;
        EXPECT_EQ(clean.preambleMacIndex, mac) << "DRC " << drc;
        EXPECT_FALSE(onex::checkPacket(chips, mp, mac + 1).preambleFound) << "DRC " << drc;

        // A large error on the first traffic chip moves symbols of the first Walsh group,
        // which carry systematic bits.
        chips[static_cast<std::size_t>(mp.preambleTDMChips)] += Complex(4, 4);
        const onex::PacketCheck hit = onex::checkPacket(chips, mp, mac);
        EXPECT_TRUE(hit.preambleFound) << "DRC " << drc;
        EXPECT_FALSE(hit.fcsGood) << "DRC " << drc;
    }
    const onex::ModParams drc3 = onex::OneX_FwdTrfChnModParams(3);
    EXPECT_NE(errorMessageOf([&] { onex::checkPacket(onex::ComplexVector(100), drc3, 5); }).find("6400 data chips"), std::string::npos);
}

}  // namespace
