#pragma once
// Coded forward-traffic packets: the physical-layer packet (payload, pad, FCS, tail), where
// the packets of a waveform sit on the four slot interlaces, and a packet's data chips (its
// preamble and its turbo-coded, scrambled, interleaved, modulated and Walsh-covered traffic).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "OneX/common_channels.h"

namespace onex {

struct ModParams;  // the DRC table's row (OneX/traffic_source.h, kept out of window code: Qt's "slots")

inline constexpr std::size_t kMacPacketBits = 1002;  // payload of one MAC-layer packet
inline constexpr std::size_t kPacketPadBits = 22;    // zeros between MAC-layer packets
inline constexpr std::size_t kFcsBits = 16;
inline constexpr std::size_t kInterlaces = 4;

using Interlaces = std::array<bool, kInterlaces>;

// The frame check sequence: the CRC of generator x^16 + x^12 + x^5 + 1, register preset to
// all ones, over `count` bits in order, not inverted (sent highest-order bit first).
std::uint16_t packetFcs(const double* bits, std::size_t count);

// The physical-layer packet of `packetBits` bits (1024, 2048, 3072 or 4096): the payload
// (packetBits / 1024 x 1002 bits), the zero pad bits between MAC-layer packets, the FCS over
// all of that, and 6 zero tail bits. Throws when the payload is not that long.
RealVector physicalLayerPacket(const RealVector& payload, std::size_t packetBits);

// The preamble of a packet to MAC index `macIndex` (5 ... 63): real, amplitude 1, the 64-chip
// Walsh function of index i / 2 for an even index i, or the negated one of (i - 1) / 2 for an
// odd one, repeated to `chips`.
RealVector packetPreamble(std::size_t chips, int macIndex);

// A packet's n x 1600 data chips in their order over its slots: the preamble, then the
// traffic chips of its bits through the whole traffic chain at this DRC and MAC index.
ComplexVector packetDataChips(const RealVector& packetBits, const ModParams& mp, int macIndex);

// A packet on the air, slot by slot, as the frame builder needs it: its modulation symbols
// are made once (turbo encoder, scrambler, channel interleaver, modulation), and the data
// chips of each slot are made from them when asked, the symbol repetition and the Walsh
// covers done on the way, so no packet-long intermediate is built. The chips equal those
// of packetDataChips to the last bit.
class PacketChips {
public:
    PacketChips(const RealVector& packetBits, const ModParams& mp, int macIndex);
    // The 1600 data chips of the packet's slot t (0-based) into `chips`.
    void slotChips(std::size_t t, Complex* chips) const;

private:
    ComplexVector symbols_;  // as the modulator gives them, before repetition
    RealVector preamble_;
    std::size_t trafficChips_;
};

// Frames a packet-mode waveform has: `frameCount` rounded up to a multiple of max(1, n / 4),
// so that every interlace holds whole packets of n slots.
std::size_t packetFrameCount(std::size_t frameCount, std::size_t slotsPerPacket);

// The first slot (0-based over the whole waveform) of every packet, earliest first: on each
// selected interlace i, packet j occupies slots i + 4 (j n + t), t = 0 ... n - 1.
std::vector<std::size_t> packetFirstSlots(std::size_t frames, std::size_t slotsPerPacket, const Interlaces& interlaces);

// The packets of a waveform of `frames` frames at one DRC: their size and slots, and the
// payload bits they carry in all.
struct PacketPlan {
    int drc = 0;
    std::size_t slotsPerPacket = 0, packetBits = 0;
    std::vector<std::size_t> firstSlots;  // earliest first
    std::size_t payloadBitsPerPacket() const { return packetBits / 1024 * kMacPacketBits; }
    std::size_t payloadBits() const { return firstSlots.size() * payloadBitsPerPacket(); }
};
// Throws for a DRC outside 1 ... 12.
PacketPlan packetPlan(int drc, std::size_t frames, const Interlaces& interlaces);

}  // namespace onex
