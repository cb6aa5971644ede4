#include "OneX/frame_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "OneX/common_channels.h"
#include "OneX/packets.h"
#include "OneX/slot_layout.h"
#include "OneX/parameters.h"
#include "OneX/phase_equaliser.h"
#include "OneX/pn_spreading.h"
#include "OneX/traffic_modulation.h"
#include "OneX/traffic_source.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/parallel.h"
#include "host/records.h"
#include "host/text.h"

namespace onex {

namespace {

// Puts a slot's data, MAC and pilot chips where the slot layout has them.
void assembleSlot(Complex* slot, const ComplexVector& data, const ComplexVector& mac, const RealVector& pilot) {
    for (const slot::Segment& seg : slot::kSegments) {
        Complex* at = slot + seg.start;
        switch (seg.part) {
            case slot::Part::Data: std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(seg.partOffset), seg.length, at); break;
            case slot::Part::Mac: std::copy_n(mac.begin() + static_cast<std::ptrdiff_t>(seg.partOffset), seg.length, at); break;
            case slot::Part::Pilot:
                for (std::size_t i = 0; i < seg.length; ++i) at[i] = Complex(pilot[i]);
                break;
        }
    }
}

// A one-chip pulse at the start of each half slot.
void halfSlotPulses(std::uint8_t* marker) {
    marker[0] = 1;
    marker[kSlotChips / 2] = 1;
}

// The data chips of the packets, slot by slot: each packet's chips are made when its first
// slot comes (so the payload is taken in the order of first slots) and dropped after its last.
class PacketSlots {
public:
    PacketSlots(const PacketSettings& settings, const PacketPlan& plan, const RealVector& payload)
        : macIndex_(settings.macIndex), plan_(plan), mp_(OneX_FwdTrfChnModParams(settings.drc)), payload_(payload) {
        if (payload_.size() < plan_.payloadBits())
            throw host::Error("OneX_FwdChnFrame: the packets need " + std::to_string(plan_.payloadBits()) + " payload bits; DATAbits holds " +
                              std::to_string(payload_.size()) + ".");
    }

    // The 1600 data chips of a slot of a packet into `data`.
    void dataOf(const SlotUse& use, Complex* data) {
        const std::size_t p = use.packet;
        std::optional<PacketChips>& chips = chips_[p % kInterlaces];
        if (use.packetSlot == 0) {
            const std::size_t perPacket = plan_.payloadBitsPerPacket();
            const RealVector payload(payload_.begin() + static_cast<std::ptrdiff_t>(p * perPacket),
                                     payload_.begin() + static_cast<std::ptrdiff_t>((p + 1) * perPacket));
            chips.emplace(physicalLayerPacket(payload, plan_.packetBits), mp_, macIndex_);
        }
        chips->slotChips(use.packetSlot, data);
    }

private:
    int macIndex_;
    const PacketPlan& plan_;
    ModParams mp_;
    const RealVector& payload_;
    // At most one packet per interlace is under way at a time; packets in first-slot order
    // take the interlaces in turn, so packet p can live in place p mod 4.
    std::array<std::optional<PacketChips>, kInterlaces> chips_;
};

}  // namespace

std::optional<PacketPlan> packetPlanOf(const FrameInputs& in) {
    if (!in.packets) return std::nullopt;
    if (in.packets->macIndex < 5 || in.packets->macIndex > 63)
        throw host::Error("OneX_FwdChnFrame: the packets' MAC index must be 5 to 63, not " + std::to_string(in.packets->macIndex) + ".");
    PacketPlan plan = packetPlan(in.packets->drc, in.frameCount, in.packets->interlaces);
    if (packetFrameCount(in.frameCount, plan.slotsPerPacket) != in.frameCount)
        throw host::Error("OneX_FwdChnFrame: packets of " + std::to_string(plan.slotsPerPacket) + " slots (DRC " + std::to_string(in.packets->drc) +
                          ") need a frame count that is a multiple of " + std::to_string(plan.slotsPerPacket / kInterlaces) + ", not " +
                          std::to_string(in.frameCount) + ".");
    return plan;
}

std::vector<SlotUse> slotUses(const FrameInputs& in, const std::optional<PacketPlan>& plan) {
    std::vector<SlotUse> uses(in.frameCount * kFrameSlots);
    if (in.mode != FrameMode::FullChannel) return uses;  // the all-ones frame: nothing idle
    for (std::size_t s = 0; s < uses.size(); ++s) {
        const std::size_t k = s % kFrameSlots;
        uses[s].macIdle = in.rpcChnActive[k] + in.raActive[k] < 1;
        uses[s].dataIdle = plan ? true : in.dataActive[k] != 1;
    }
    if (plan)
        for (std::size_t p = 0; p < plan->firstSlots.size(); ++p)
            for (std::size_t t = 0; t < plan->slotsPerPacket; ++t) {
                SlotUse& u = uses.at(plan->firstSlots[p] + kInterlaces * t);
                u.dataIdle = false;
                u.packet = p;
                u.packetSlot = t;
            }
    return uses;
}

ChipFrame buildChipFrame(const FrameInputs& in) {
    const std::size_t frames = in.frameCount;
    if (frames < 1 || frames > kMaxFrames) throw host::Error("OneX_FwdChnFrame: the frame count must be 1 to 16, not " + std::to_string(frames) + ".");
    const std::size_t slots = frames * kFrameSlots;
    ChipFrame f{ComplexVector(slots * kSlotChips), std::vector<std::uint8_t>(slots * kSlotChips, 0),
                std::vector<std::uint8_t>(slots * kSlotChips, 0)};
    if (in.mode != FrameMode::FullChannel) {
        // The all-ones frame: only the spreading shapes it.
        std::fill(f.chips.begin(), f.chips.end(), Complex(1, 0));
        std::fill(f.marker2.begin(), f.marker2.end(), 1);
        for (std::size_t s = 0; s < slots; ++s) halfSlotPulses(&f.marker1[s * kSlotChips]);
        return f;
    }
    const RealVector pilot = OneX_FwdPilot();
    const bool idleNoise = in.idleSlotGainActive != 0;
    const std::optional<PacketPlan> plan = packetPlanOf(in);
    const std::vector<SlotUse> uses = slotUses(in, plan);
    std::optional<PacketSlots> packets;
    if (plan) packets.emplace(*in.packets, *plan, in.dataBits);
    std::size_t bitCounter = 0;
    ModParams mp = OneX_FwdTrfChnModParams(1);
    mp.modulationSymbolsRequired = static_cast<double>(kSlotDataChips);
    RealVector rpcGains(kRpcChannels), rpcBits(kRpcChannels);
    ComplexVector data(kSlotDataChips);
    for (std::size_t s = 0; s < slots; ++s) {
        const std::size_t k = s % kFrameSlots;  // the row of the slot pattern
        const bool macIdle = uses[s].macIdle, dataIdle = uses[s].dataIdle;
        Complex* slot = &f.chips[s * kSlotChips];
        halfSlotPulses(&f.marker1[s * kSlotChips]);

        // MAC: RA and RPC gains in linear amplitude, 0 for an inactive channel.
        ComplexVector mac;
        if (!macIdle) {
            const double raGain = std::pow(10.0, in.raGain[k] / 20) * in.raActive[k];
            for (std::size_t c = 0; c < kRpcChannels; ++c) {
                rpcBits[c] = in.rpcBits(k, c);
                rpcGains[c] = std::pow(10.0, in.rpcGains(k, c) / 20) * in.rpcActive(k, c) * in.rpcChnActive[k];
            }
            mac = OneX_FwdMACslot(rpcBits, rpcGains, in.raBit[k], raGain);
        } else {
            mac = OneX_FwdIdleSlot(idleNoise, in.idleSlotGain, kMacChips);
        }

        // Data: a packet's chips, or the next bits of the payload in slot order, or idle.
        if (dataIdle) {
            data = OneX_FwdIdleSlot(idleNoise, in.idleSlotGain, kSlotDataChips);
        } else if (packets) {
            data.resize(kSlotDataChips);
            packets->dataOf(uses[s], data.data());
        } else {
            const double format = in.dataFormat[k];
            const std::size_t need = static_cast<std::size_t>(bitsPerSymbol(format, "OneX_FwdTrfModulator")) * kSlotDataChips;
            if (bitCounter + need > in.dataBits.size())
                throw host::Error("OneX_FwdChnFrame: DATAbits holds " + std::to_string(in.dataBits.size()) + " bits; slot " +
                                  std::to_string(s + 1) + " needs bits " + std::to_string(bitCounter + 1) + " to " +
                                  std::to_string(bitCounter + need) + ".");
            const RealVector bits(in.dataBits.begin() + static_cast<std::ptrdiff_t>(bitCounter),
                                  in.dataBits.begin() + static_cast<std::ptrdiff_t>(bitCounter + need));
            mp.modulationType = format;
            data = OneX_FwdTrfChn(bits, mp, 5, false, false, false);
            bitCounter += need;
        }

        const std::vector<std::uint8_t>* mask = nullptr;
        if (dataIdle && macIdle)
            mask = &slot::bothIdleMask();
        else if (dataIdle)
            mask = &slot::idleDataMask();
        else if (macIdle)
            mask = &slot::idleMacMask();
        if (mask)
            std::copy(mask->begin(), mask->end(), f.marker2.begin() + static_cast<std::ptrdiff_t>(s * kSlotChips));
        else
            std::fill_n(f.marker2.begin() + static_cast<std::ptrdiff_t>(s * kSlotChips), kSlotChips, 1);

        assembleSlot(slot, data, mac, pilot);
    }
    return f;
}

// Frames from which the markers are made beside the equaliser (below, a thread costs more
// than it saves).
constexpr std::size_t kParallelFinishSamples = std::size_t{1} << 17;

namespace {

// Where a finished frame goes: one complex vector (Frame), or the host's real and imaginary
// rows apart (FrameArrays), which the application keeps and writes without a second copy.
struct VectorSamples {
    ComplexVector& v;
    void filter(const ComplexVector& spread, const FrameInputs& in) { v = basebandFilterChips(spread, in.oversampling, in.filter); }
    void equalise(int os, bool conjugate) { fwdPhaseEqInPlace(v, os, conjugate); }
    void conjugate() {
        for (Complex& s : v) s = std::conj(s);
    }
};
struct SplitRowSamples {
    SplitSamples rows;
    void filter(const ComplexVector& spread, const FrameInputs& in) { basebandFilterChipsInto(spread, in.oversampling, in.filter, rows); }
    void equalise(int os, bool conjugate) { fwdPhaseEqInPlace(rows, os, conjugate); }
    void conjugate() {
        for (std::size_t k = 0; k < rows.size; ++k) rows.im[k] = -rows.im[k];
    }
};

void checkOversampling(const FrameInputs& in) {
    if (in.oversampling < 1) throw host::Error("OneX_FwdChnFrame: oversamplingRate must be at least 1.");
}

// Spreading, oversampling and filtering into `samples`, then the equaliser (which conjugates
// as it writes) or the conjugation alone. The markers, held out to the sample rate by
// `holdMarkers` into fresh memory (so mostly page faults), are made on the second processor
// meanwhile when the frame is large enough to pay for the thread.
template <class Samples, class HoldMarkers>
void finishInto(const ChipFrame& c, const FrameInputs& in, Samples samples, std::optional<HoldMarkers> holdMarkers) {
    ComplexVector spread;
    quadSpread(c.chips.data(), c.chips.size(), in.pilotOffsetIndex, spread);
    samples.filter(spread, in);
    auto finishSamples = [&] {
        const bool conjugate = !in.mirrorSpectrum;
        if (in.phaseEqActive)
            samples.equalise(in.oversampling, conjugate);
        else if (conjugate)
            samples.conjugate();
    };
    if (!holdMarkers) {
        finishSamples();
    } else if (c.chips.size() * static_cast<std::size_t>(in.oversampling) >= kParallelFinishSamples) {
        host::inParallel(*holdMarkers, finishSamples);
    } else {
        (*holdMarkers)();
        finishSamples();
    }
}

}  // namespace

Frame finishFrame(const ChipFrame& c, const FrameInputs& in) {
    checkOversampling(in);
    const auto os = static_cast<std::size_t>(in.oversampling);
    Frame f;
    auto holdMarkers = [&] {
        f.marker1.resize(c.marker1.size() * os);
        f.marker2.resize(c.marker2.size() * os);
        for (std::size_t i = 0; i < c.marker1.size(); ++i)
            for (std::size_t j = 0; j < os; ++j) {
                f.marker1[i * os + j] = c.marker1[i];
                f.marker2[i * os + j] = c.marker2[i];
            }
    };
    finishInto(c, in, VectorSamples{f.waveform}, std::optional(holdMarkers));
    return f;
}

Frame OneX_FwdChnFrame(const FrameInputs& in) { return finishFrame(buildChipFrame(in), in); }

FrameArrays OneX_FwdChnFrameArrays(const FrameInputs& in, bool withMarkers) { return finishFrameArrays(buildChipFrame(in), in, withMarkers); }

FrameArrays finishFrameArrays(const ChipFrame& c, const FrameInputs& in, bool withMarkers) {
    checkOversampling(in);
    const auto os = static_cast<std::size_t>(in.oversampling);
    const std::size_t n = c.chips.size() * os;
    FrameArrays a{host::Array::numeric(host::ClassId::Double, 1, n, true), {}};
    // The markers, one row each, held for the chip's samples.
    auto holdMarkers = [&] {
        a.markers = host::Array::zeros(2, c.marker1.size() * os);
        double* rows = a.markers.pr();
        for (std::size_t i = 0; i < c.marker1.size(); ++i)
            for (std::size_t j = 0; j < os; ++j) {
                rows[2 * (i * os + j)] = c.marker1[i];
                rows[2 * (i * os + j) + 1] = c.marker2[i];
            }
    };
    finishInto(c, in, SplitRowSamples{{a.waveform.pr(), a.waveform.pi(), n}}, withMarkers ? std::optional(holdMarkers) : std::nullopt);
    return a;
}

// ---- the parameter set ------------------------------------------------------------------

namespace {

std::string shapeOf(const host::Array& a) { return std::to_string(a.rows()) + " x " + std::to_string(a.cols()); }

const host::Array& fieldOf(const host::Array& record, const std::string& path, const char* name) {
    const host::Array* f = record.findField(name);
    if (!f) throw host::Error("parameters" + path + " has no field '" + name + "'.");
    if (!f->isNumeric() && !f->isLogical())
        throw host::Error("parameters" + path + "." + name + " must be numeric, not " + std::string(f->className()) + ".");
    if (f->isComplex()) throw host::Error("parameters" + path + "." + name + " must be real, not complex.");
    return *f;
}

void requireFinite(const host::Array& a, const std::string& where) {
    for (std::size_t i = 0; i < a.numel(); ++i)
        if (!std::isfinite(a.realAt(i))) throw host::Error(where + " must hold finite numbers, not " + host::num2str(a.realAt(i)) + ".");
}

double scalarField(const host::Array& p, const char* name) {
    const host::Array& f = fieldOf(p, "", name);
    if (f.numel() != 1) throw host::Error(std::string("parameters.") + name + " must be a scalar, not " + shapeOf(f) + ".");
    requireFinite(f, std::string("parameters.") + name);
    return f.realAt(0);
}

// A value outside what the controls can enter would make Inf or NaN samples.
void requireWithin(const host::Array& a, const std::string& where, double low, double high, const char* unit) {
    for (std::size_t i = 0; i < a.numel(); ++i)
        if (a.realAt(i) < low || a.realAt(i) > high)
            throw host::Error(where + " must lie from " + host::num2str(low) + " to " + host::num2str(high) + unit + ", not " +
                              host::num2str(a.realAt(i)) + ".");
}

double wholeField(const host::Array& p, const char* name, double low, double high) {
    const double v = scalarField(p, name);
    if (v != std::floor(v) || v < low || v > high)
        throw host::Error(std::string("parameters.") + name + " must be a whole number from " + host::num2str(low) + " to " +
                          host::num2str(high) + ", not " + host::num2str(v) + ".");
    return v;
}

RealVector slotColumn(const host::Array& slot, const char* name) {
    const host::Array& f = fieldOf(slot, ".slot", name);
    if (f.numel() != kFrameSlots || !f.isVector())
        throw host::Error(std::string("parameters.slot.") + name + " must be 16 x 1, not " + shapeOf(f) + ".");
    requireFinite(f, std::string("parameters.slot.") + name);
    return host::realVector(f, {"Calculate", name});
}

RealMatrix slotMatrix(const host::Array& slot, const char* name) {
    const host::Array& f = fieldOf(slot, ".slot", name);
    if (f.rows() != kFrameSlots || f.cols() != kRpcChannels)
        throw host::Error(std::string("parameters.slot.") + name + " must be 16 x 59, not " + shapeOf(f) + ".");
    requireFinite(f, std::string("parameters.slot.") + name);
    return host::realMatrix(f, {"Calculate", name});
}

Interlaces interlaceFlags(const host::Array& p) {
    Interlaces flags{true, true, true, true};
    if (!p.hasField("DATApacketInterlaces")) return flags;
    const host::Array& f = fieldOf(p, "", "DATApacketInterlaces");
    if (f.numel() != kInterlaces || !f.isVector())
        throw host::Error("parameters.DATApacketInterlaces must be a row of 4 flags, not " + shapeOf(f) + ".");
    for (std::size_t i = 0; i < kInterlaces; ++i) {
        const double v = f.realAt(i);
        if (v != 0 && v != 1) throw host::Error("parameters.DATApacketInterlaces must hold flags 0 or 1, not " + host::num2str(v) + ".");
        flags[i] = v == 1;
    }
    return flags;
}

}  // namespace

FrameInputs frameInputsFromParameters(const host::Array& p) {
    if (!p.isStruct() || p.numel() != 1) throw host::Error("parameters must be a parameter record (a struct).");
    FrameInputs in;
    in.mode = frameMode(scalarField(p, "Mode"));
    in.pilotOffsetIndex = wholeField(p, "PilotOffsetIndex", 0, 511);
    const double macOn = scalarField(p, "MACchnActive");
    const double dataOn = scalarField(p, "DATAchnActive");
    const double sourceType = wholeField(p, "DATAsourceType", 1, 8);
    const host::Array& pattern = fieldOf(p, "", "dataSourceBitstream");
    if (!pattern.isEmpty() && !pattern.isVector())
        throw host::Error("parameters.dataSourceBitstream must be a row of bits, not " + shapeOf(pattern) + ".");
    requireFinite(pattern, "parameters.dataSourceBitstream");
    in.idleSlotGainActive = scalarField(p, "IdleSlotGainActive");
    in.idleSlotGain = scalarField(p, "IdleSlotGain");
    requireWithin(*p.findField("IdleSlotGain"), "parameters.IdleSlotGain", -80, 0, " dB");
    in.oversampling = static_cast<int>(wholeField(p, "OverSampling", 2, 30));
    in.filter = basebandFilterChoice(scalarField(p, "FilterType"));
    in.phaseEqActive = scalarField(p, "PhaseEq") == 1;
    in.mirrorSpectrum = scalarField(p, "MirrorSpectrum") != 0;

    const host::Array* slot = p.findField("slot");
    if (!slot) throw host::Error("parameters has no field 'slot'.");
    if (!slot->isStruct() || slot->numel() != 1) throw host::Error("parameters.slot must be a per-slot record (a struct).");
    in.dataActive = slotColumn(*slot, "DATAslotActive");
    in.dataFormat = slotColumn(*slot, "DATAslotMod");
    for (double format : in.dataFormat)
        if (format != 1 && format != 2 && format != 3)
            throw host::Error("parameters.slot.DATAslotMod must hold modulation codes 1, 2 or 3, not " + host::num2str(format) + ".");
    in.raActive = slotColumn(*slot, "RAslotActive");
    in.raBit = slotColumn(*slot, "RAslotValue");
    in.raGain = slotColumn(*slot, "RAslotGain");
    in.rpcChnActive = slotColumn(*slot, "RPCslotActiveChn");
    in.rpcActive = slotMatrix(*slot, "RPCslotActive");
    in.rpcBits = slotMatrix(*slot, "RPCslotValue");
    in.rpcGains = slotMatrix(*slot, "RPCslotGain");
    requireWithin(*slot->findField("RAslotGain"), "parameters.slot.RAslotGain", -30, 30, " dB");
    requireWithin(*slot->findField("RPCslotGain"), "parameters.slot.RPCslotGain", -30, 30, " dB");
    // The master switches gate the per-slot activity.
    for (std::size_t k = 0; k < kFrameSlots; ++k) {
        in.dataActive[k] *= dataOn;
        in.raActive[k] *= macOn;
        in.rpcChnActive[k] *= macOn;
    }
    // Fields a record of an older version may lack take their defaults.
    const auto optionalWhole = [&](const char* name, double low, double high, double fallback) {
        return p.hasField(name) ? wholeField(p, name, low, high) : fallback;
    };
    const double frames = optionalWhole("FrameCount", 1, static_cast<double>(kMaxFrames), 1);
    const bool packetMode = optionalWhole("DATApacketMode", 0, 1, 0) == 1;
    in.frameCount = static_cast<std::size_t>(frames);
    const RealVector sourcePattern = host::realVector(pattern, {"Calculate", "dataSourceBitstream"});
    if (packetMode) {
        PacketSettings settings;
        settings.drc = static_cast<int>(optionalWhole("DATApacketDRC", 1, 12, 6));
        settings.macIndex = static_cast<int>(optionalWhole("DATApacketMAC", 5, 63, 5));
        settings.interlaces = interlaceFlags(p);
        const ModParams mp = OneX_FwdTrfChnModParams(settings.drc);
        in.frameCount = packetFrameCount(in.frameCount, static_cast<std::size_t>(mp.slots));
        if (dataOn == 1) {
            const std::size_t payload = packetPlan(settings.drc, in.frameCount, settings.interlaces).payloadBits();
            in.dataBits = payload ? GenerateBitStream(sourceType, payload, sourcePattern) : RealVector{};
            in.packets = settings;
        }
        return in;
    }
    // The payload for all 16 slots of every frame, active or not, from the chosen source.
    std::size_t bitsReq = 0;
    for (double format : in.dataFormat) bitsReq += static_cast<std::size_t>(format + 1) * kSlotDataChips;
    in.dataBits = GenerateBitStream(sourceType, bitsReq * in.frameCount, sourcePattern);
    return in;
}

void Calculate() {
    const FrameInputs in = frameInputsFromParameters(applicationParameters());
    FrameArrays f = OneX_FwdChnFrameArrays(in);
    host::record("waveform") = std::move(f.waveform);
    host::record("markers") = std::move(f.markers);
}

}  // namespace onex
