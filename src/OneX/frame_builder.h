#pragma once
// The frame builder: 16 slots of pilot, MAC, traffic and idle-slot chips with their
// timing and RF-blanking markers, spread, oversampled, filtered, equalised and (by default)
// conjugated; and Calculate, which turns the application's parameter set into one frame.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "OneX/baseband_filter.h"
#include "OneX/common_channels.h"
#include "OneX/packets.h"
#include "OneX/slot_layout.h"
#include "host/array.h"
#include "host/matrix.h"

namespace onex {

using host::RealMatrix;

inline constexpr std::size_t kFrameSlots = 16;
inline constexpr std::size_t kSlotChips = slot::kChips;
inline constexpr std::size_t kFrameChips = kFrameSlots * kSlotChips;
inline constexpr std::size_t kSlotDataChips = slot::kDataChips;
inline constexpr std::size_t kMaxFrames = 16;

// The coded-packet traffic of a waveform: every packet at one DRC, addressed to one MAC
// index, on the selected slot interlaces.
struct PacketSettings {
    int drc = 6;
    int macIndex = 5;
    Interlaces interlaces{true, true, true, true};
};

// The frame's kind: the full channel (pilot, MAC, traffic and idle slots) or every chip one.
enum class FrameMode { FullChannel, AllOnes };
// The parameter set's Mode: 1 the full channel, any other value the all-ones frame.
constexpr FrameMode frameMode(double mode) { return mode == 1 ? FrameMode::FullChannel : FrameMode::AllOnes; }

// The frame builder's inputs: the eighteen of a frame, per-slot values one per slot of the
// 16-slot pattern that every frame repeats, and the waveform's frame count and packets.
struct FrameInputs {
    FrameMode mode = FrameMode::FullChannel;
    double pilotOffsetIndex = 0;
    RealVector dataActive = RealVector(kFrameSlots, 0.0);
    RealVector dataFormat = RealVector(kFrameSlots, 1.0);
    RealVector dataBits;
    RealVector raActive = RealVector(kFrameSlots, 0.0);
    RealVector raBit = RealVector(kFrameSlots, 1.0);
    RealVector raGain = RealVector(kFrameSlots, -3.0);  // dB
    RealVector rpcChnActive = RealVector(kFrameSlots, 0.0);
    RealMatrix rpcActive = RealMatrix(kFrameSlots, kRpcChannels, 0.0);
    RealMatrix rpcBits = RealMatrix(kFrameSlots, kRpcChannels, 1.0);
    RealMatrix rpcGains = RealMatrix(kFrameSlots, kRpcChannels, -3.0);  // dB
    double idleSlotGainActive = 1;
    double idleSlotGain = -10;  // dB
    int oversampling = 5;
    BasebandFilterChoice filter = BasebandFilterChoice::Acp;
    bool phaseEqActive = true;    // the parameter 1: on, anything else off
    bool mirrorSpectrum = false;  // the parameter 0: the conjugated spectrum, anything else mirrored
    // Frames in the waveform (slot s uses the settings of pattern row s mod 16). Outside
    // packet mode the traffic bits are one stream over all active slots of all frames.
    std::size_t frameCount = 1;
    // Coded packets instead of the per-slot traffic (frameCount already a whole number of
    // packets per interlace); `dataBits` is then the packets' payload stream and the slot
    // record's traffic switches and modulation do not apply. Off when the traffic channel is.
    std::optional<PacketSettings> packets;
};

// One frame (or several) before spreading: 32768 chips a frame and the two markers at chip rate.
struct ChipFrame {
    ComplexVector chips;
    std::vector<std::uint8_t> marker1, marker2;
};

// The finished frame: 32768 x OS samples and the markers held for OS samples each.
struct Frame {
    ComplexVector waveform;
    std::vector<std::uint8_t> marker1, marker2;
};

// What a slot of the waveform carries, as the frame builder fills it: whether its MAC and
// data parts are idle (idle-slot noise or zeros, RF blanking), and the packet it belongs to.
inline constexpr std::size_t kNoPacket = static_cast<std::size_t>(-1);
struct SlotUse {
    bool macIdle = false, dataIdle = false;
    std::size_t packet = kNoPacket;  // index into the plan's packets (first-slot order)
    std::size_t packetSlot = 0;      // 0 for the packet's first slot, which opens with the preamble
};
// The packets of the inputs (nothing outside packet mode or with the traffic off) and the
// use of each of the 16 x frameCount slots.
std::optional<PacketPlan> packetPlanOf(const FrameInputs& in);
std::vector<SlotUse> slotUses(const FrameInputs& in, const std::optional<PacketPlan>& plan);

// Slot assembly and serialisation (the chips are not yet spread).
ChipFrame buildChipFrame(const FrameInputs& in);
// Spreading, oversampling, filtering, equalisation and conjugation of a chip frame.
Frame finishFrame(const ChipFrame& chips, const FrameInputs& in);
Frame OneX_FwdChnFrame(const FrameInputs& in);

// The same frame made straight into host arrays, as the application and the host form
// return it: the waveform a 1 x N complex row, the markers 2 x N doubles (row 1 the first
// marker). No second copy of the samples is made.
struct FrameArrays {
    host::Array waveform, markers;
};
// `withMarkers` false leaves the markers empty, for a caller that does not write them.
FrameArrays finishFrameArrays(const ChipFrame& chips, const FrameInputs& in, bool withMarkers = true);
FrameArrays OneX_FwdChnFrameArrays(const FrameInputs& in, bool withMarkers = true);

// The frame builder's inputs from a parameter set, after checking every field it reads;
// the payload bits are generated from the set's data source. A malformed set is an error
// that names the field.
FrameInputs frameInputsFromParameters(const host::Array& parameters);
// Computes the frame of the application's parameter set into the records `waveform` and
// `markers`.
void Calculate();

}  // namespace onex
