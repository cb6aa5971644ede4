#include "OneX/packets.h"

#include <algorithm>
#include <bit>
#include <string>

#include "OneX/slot_layout.h"
#include "OneX/traffic_modulation.h"
#include "OneX/traffic_source.h"
#include "OneX/turbo_encoder.h"
#include "OneX/scrambler_interleaver.h"
#include "host/error.h"
#include "host/text.h"

namespace onex {

std::uint16_t packetFcs(const double* bits, std::size_t count) {
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        const bool feedback = (bits[i] != 0) != ((reg & 0x8000) != 0);
        reg = static_cast<std::uint16_t>(reg << 1);
        if (feedback) reg ^= 0x1021;
    }
    return reg;
}

RealVector physicalLayerPacket(const RealVector& payload, std::size_t packetBits) {
    if (packetBits == 0 || packetBits % 1024 != 0 || packetBits > 4096)
        throw host::Error("OneX_FwdPhysicalLayerPacket: a packet holds 1024, 2048, 3072 or 4096 bits, not " + std::to_string(packetBits) + ".");
    const std::size_t macPackets = packetBits / 1024;
    if (payload.size() != macPackets * kMacPacketBits)
        throw host::Error("OneX_FwdPhysicalLayerPacket: a packet of " + std::to_string(packetBits) + " bits carries " +
                          std::to_string(macPackets * kMacPacketBits) + " payload bits, not " + std::to_string(payload.size()) + ".");
    RealVector packet(payload);
    packet.resize(payload.size() + (macPackets - 1) * kPacketPadBits, 0.0);
    const std::uint16_t fcs = packetFcs(packet.data(), packet.size());
    for (int b = 15; b >= 0; --b) packet.push_back((fcs >> b) & 1);
    packet.resize(packetBits, 0.0);  // the tail
    return packet;
}

RealVector packetPreamble(std::size_t chips, int macIndex) {
    if (macIndex < 0 || macIndex > 127) throw host::Error("packetPreamble: MAC index " + std::to_string(macIndex) + " is outside 0 to 127.");
    const auto row = static_cast<unsigned>(macIndex / 2);
    const double sign = macIndex % 2 == 0 ? 1.0 : -1.0;
    RealVector p(chips);
    for (std::size_t c = 0; c < chips; ++c) p[c] = (std::popcount(row & static_cast<unsigned>(c % 64)) & 1) ? -sign : sign;
    return p;
}

ComplexVector packetDataChips(const RealVector& packetBits, const ModParams& mp, int macIndex) {
    const auto preamble = static_cast<std::size_t>(mp.preambleTDMChips);
    const ComplexVector traffic = OneX_FwdTrfChn(packetBits, mp, macIndex, true, true, true);
    ComplexVector chips;
    chips.reserve(preamble + traffic.size());
    for (double c : packetPreamble(preamble, macIndex)) chips.emplace_back(c, 0.0);
    chips.insert(chips.end(), traffic.begin(), traffic.end());
    return chips;
}

PacketChips::PacketChips(const RealVector& packetBits, const ModParams& mp, int macIndex)
    : preamble_(packetPreamble(static_cast<std::size_t>(mp.preambleTDMChips), macIndex)),
      trafficChips_(static_cast<std::size_t>(mp.dataTDMChips)) {
    const RealVector coded = OneX_FwdChannelInterleaver(OneX_FwdScrambler(OneX_FwdEncoder(packetBits, mp.codeRate), mp.drcValue, macIndex),
                                                        mp.codeRate, mp.bits);
    symbols_ = OneX_FwdTrfModulator(coded, mp.modulationType);
    if (symbols_.empty() || trafficChips_ % kTrafficWalshChannels != 0 || preamble_.size() % kTrafficWalshChannels != 0)
        throw host::Error("PacketChips: DRC " + host::num2str(mp.drcValue) + " has no whole groups of 16 traffic chips.");
}

void PacketChips::slotChips(std::size_t t, Complex* chips) const {
    constexpr std::size_t n = kTrafficWalshChannels;
    std::size_t d = 0;
    // The preamble opens the first slot.
    if (t == 0)
        for (; d < preamble_.size() && d < slot::kDataChips; ++d) chips[d] = Complex(preamble_[d], 0.0);
    const std::size_t provided = symbols_.size();
    Complex group[n];
    for (; d < slot::kDataChips; d += n) {
        const std::size_t first = t * slot::kDataChips + d - preamble_.size();  // the group's first traffic chip
        if (first >= trafficChips_) throw host::Error("PacketChips: slot " + std::to_string(t + 1) + " lies beyond the packet.");
        // The symbols sent repeat the modulator's from the start until enough are sent.
        const Complex* symbols = symbols_.data() + first % provided;
        if (first % provided + n > provided) {
            for (std::size_t i = 0; i < n; ++i) group[i] = symbols_[(first + i) % provided];
            symbols = group;
        }
        coverAndSumGroup(symbols, chips + d);
    }
}

std::size_t packetFrameCount(std::size_t frameCount, std::size_t slotsPerPacket) {
    const std::size_t q = std::max<std::size_t>(1, slotsPerPacket / 4);
    return (frameCount + q - 1) / q * q;
}

PacketPlan packetPlan(int drc, std::size_t frames, const Interlaces& interlaces) {
    const ModParams mp = OneX_FwdTrfChnModParams(drc);
    if (!mp.known) throw host::Error("The packet DRC must be 1 to 12, not " + std::to_string(drc) + ".");
    PacketPlan plan;
    plan.drc = drc;
    plan.slotsPerPacket = static_cast<std::size_t>(mp.slots);
    plan.packetBits = static_cast<std::size_t>(mp.bits);
    plan.firstSlots = packetFirstSlots(frames, plan.slotsPerPacket, interlaces);
    return plan;
}

std::vector<std::size_t> packetFirstSlots(std::size_t frames, std::size_t slotsPerPacket, const Interlaces& interlaces) {
    std::vector<std::size_t> first;
    const std::size_t perInterlace = 4 * frames / slotsPerPacket;
    for (std::size_t i = 0; i < kInterlaces; ++i)
        if (interlaces[i])
            for (std::size_t j = 0; j < perInterlace; ++j) first.push_back(i + 4 * j * slotsPerPacket);
    std::sort(first.begin(), first.end());
    return first;
}

}  // namespace onex
