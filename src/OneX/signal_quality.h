#pragma once
// What a generated frame measures: waveform quality (rho and EVM) against the ideal chips,
// adjacent-channel leakage, occupied bandwidth, peak-to-average ratio and CCDF points, and
// the code-domain power of the pilot, every active MAC index and the traffic Walsh channels,
// each beside what the parameters asked for.
//
// The receiver applies the complementary filter of the transmit chain (baseband filter and
// phase equaliser together, their delays included): the matched filter followed by the
// chip-rate inverse of the cascade, so that a perfect frame gives back its chips exactly
// (rho = 1) whatever the filter's own ISI, which `filterIsiRho` states for comparison (rho
// of a perfect frame through the matched filter alone). Everything is circular because the
// frame plays as a loop. The chip instants are the samples the chips were placed on; no
// timing search is made, so a frame that is off in time shows as a lower rho.

#include <cstdint>
#include <string>
#include <vector>

#include "OneX/frame_builder.h"
#include "host/matrix.h"

namespace onex::quality {

// Limits from the cdma2000 base-station figures, shown beside the measurements.
inline constexpr double kMinimumRho = 0.912;
inline constexpr double kAclr885LimitDbc = -45;   // dBc in 30 kHz, 885 kHz to 1.98 MHz off
inline constexpr double kAclr198LimitDbc = -60;   // dBc in 30 kHz, beyond 1.98 MHz off
inline constexpr double kInChannelHz = 1.23e6;     // the channel's bandwidth for the reference power
inline constexpr double kAclrBandHz = 30e3;

struct Fidelity {
    double rho = 0;
    double evmPercent = 0;
    std::size_t chips = 0;  // 0: nothing of that kind to measure
};

struct SlotQuality {
    Fidelity all, pilot, mac;
};

struct AdjacentChannel {
    double offsetHz = 0;
    double lowerDbc = 0, upperDbc = 0;  // NaN beyond the sample rate's reach
    double limitDbc = 0;
};

struct CodeChannel {
    std::string kind;  // "pilot", "MAC" (index 4 the RA channel, 5 to 63 RPC) or "traffic" (Walsh 0 to 15)
    int slot = 0;      // 1 to 16 x frames
    int index = 0;
    double measuredDb = 0;  // power per chip relative to a pilot chip
    double expectedDb = 0;
};

// One coded packet as the receiver found it.
struct PacketResult {
    std::vector<int> slotNumbers;  // 1-based over the whole waveform
    int drc = 0, macIndex = 0;
    bool preambleFound = false;
    bool repeatsMatch = false;  // every repeated modulation symbol decides as its first sending
    bool fcsGood = false;
    Fidelity data;  // rho and EVM over the data chips of its slots (the preamble included)
};

struct Report {
    int oversampling = 0;
    double sampleRate = 0;
    std::size_t frames = 1;
    Fidelity overall;
    double filterIsiRho = 0;  // rho of a perfect frame through the matched filter alone
    std::vector<SlotQuality> perSlot;  // slots 1 to 16 x frames (not "slots": a Qt macro)
    std::vector<AdjacentChannel> adjacent;
    double occupiedBandwidthHz = 0;  // 99 % of the power
    double peakToAverageDb = 0;
    double ccdf1 = 0, ccdf01 = 0, ccdf001 = 0;  // dB above the mean exceeded by 1 %, 0.1 %, 0.01 % of the samples
    std::vector<CodeChannel> codeDomain;
    bool packetMode = false;
    std::vector<PacketResult> packets;  // in the order of their first slots
    std::size_t goodPackets() const;
};

// Measures `waveform` (32768 x OS samples a frame, as the frame builder made it from
// `inputs`) against `reference`, the chip frames it was made from, and decodes its packets. Chips where `known` is 0 (idle-slot
// noise not drawn for this waveform) are left out of rho and EVM; an empty `known` means all
// are known. The phase equaliser follows the application's filter choice, as the frame did.
Report analyzeFrame(const host::ComplexVector& waveform, const ChipFrame& reference, const FrameInputs& inputs,
                    const std::vector<std::uint8_t>& known = {});

// The chips of a rebuilt chip frame whose values do not depend on random noise: all of them
// unless idle-slot noise fills the MAC or data parts of some slots.
std::vector<std::uint8_t> deterministicChips(const FrameInputs& inputs);

// The transmit chain's response to one chip: the baseband filter and (when on) the phase
// equaliser, circular over the waveform's 32768 x OS samples a frame, chip at sample 0.
host::ComplexVector chipResponse(const FrameInputs& inputs);

}  // namespace onex::quality
