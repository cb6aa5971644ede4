#include "OneX/parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OneX/common_channels.h"
#include "OneX/packets.h"
#include "OneX/traffic_source.h"
#include "host/error.h"
#include "host/records.h"
#include "host/text.h"

namespace onex {

namespace {

host::Array filled(std::size_t rows, std::size_t cols, double value) {
    host::Array a = host::Array::zeros(rows, cols);
    std::fill(a.pr(), a.pr() + a.numel(), value);
    return a;
}

}  // namespace

host::Array defaultSlotParameters() {
    using host::Array;
    Array slot = Array::structure();
    slot.setField("DATAslotActive", filled(kSlotsPerFrame, 1, 1.0));
    slot.setField("DATAslotMod", filled(kSlotsPerFrame, 1, 1.0));
    slot.setField("RAslotActive", filled(kSlotsPerFrame, 1, 1.0));
    slot.setField("RAslotValue", filled(kSlotsPerFrame, 1, 1.0));
    slot.setField("RAslotGain", filled(kSlotsPerFrame, 1, -3.0));
    slot.setField("RPCslotActiveChn", filled(kSlotsPerFrame, 1, 1.0));
    // Only the first RPC channel (MAC index 5) is on by default.
    Array rpcActive = filled(kSlotsPerFrame, kRpcChannels, 0.0);
    std::fill(rpcActive.pr(), rpcActive.pr() + kSlotsPerFrame, 1.0);
    slot.setField("RPCslotActive", std::move(rpcActive));
    slot.setField("RPCslotValue", filled(kSlotsPerFrame, kRpcChannels, 1.0));
    slot.setField("RPCslotGain", filled(kSlotsPerFrame, kRpcChannels, -3.0));
    return slot;
}

host::Array defaultParameters() {
    using host::Array;
    Array p = Array::structure();
    p.setField("ParameterFileFormat_ID", Array::string(kParameterFileFormatId));
    p.setField("Mode", Array::scalar(1));
    p.setField("PilotOffsetIndex", Array::scalar(0));
    p.setField("MACchnActive", Array::scalar(0));
    p.setField("DATAchnActive", Array::scalar(0));
    p.setField("DATAsourceType", Array::scalar(6));
    p.setField("DATAsourceName", Array::string(""));
    p.setField("dataSourceBitstream", Array());
    p.setField("IdleSlotGainActive", Array::scalar(1));
    p.setField("IdleSlotGain", Array::scalar(-10));
    p.setField("slot", defaultSlotParameters());
    p.setField("OverSampling", Array::scalar(5));
    p.setField("FilterType", Array::scalar(3));
    p.setField("PhaseEq", Array::scalar(1));
    p.setField("MirrorSpectrum", Array::scalar(0));
    p.setField("ProjectedLength", Array::scalar(5.0 * kChipsPerFrame));
    p.setField("LastPath", Array::string(""));
    addMissingFields(p);
    return p;
}

void addMissingFields(host::Array& p) {
    using host::Array;
    if (!p.isStruct()) return;
    const std::pair<const char*, Array> later[] = {
        {"FrameCount", Array::scalar(1)},
        {"DATApacketMode", Array::scalar(0)},
        {"DATApacketDRC", Array::scalar(6)},
        {"DATApacketMAC", Array::scalar(5)},
        {"DATApacketInterlaces", Array::row(std::vector<double>{1, 1, 1, 1})},
    };
    for (const auto& [name, value] : later)
        if (!p.hasField(name)) p.setField(name, value);
}

host::Array completedParameters(const host::Array& given, std::string_view function) {
    const std::string fn(function);
    if (!given.isStruct() || given.numel() != 1)
        throw host::Error(fn + ": parameters must be a parameter record (a struct), not " + std::string(given.className()) + ".");
    host::Array p = defaultParameters();
    auto merge = [&](host::Array& into, const host::Array& from, const std::string& path) {
        for (const std::string& name : from.fieldNames()) {
            if (!into.hasField(name)) {
                std::string known;
                for (const std::string& k : into.fieldNames()) known += (known.empty() ? "" : ", ") + k;
                throw host::Error(fn + ": " + path + " has no field '" + name + "'. Known: " + known + ".");
            }
            into.setField(name, from.field(name));
        }
    };
    const host::Array* slot = given.findField("slot");
    host::Array top = given;
    if (slot && slot->isStruct() && slot->numel() == 1) {
        merge(p.field("slot"), *slot, "parameters.slot");
        top.removeField("slot");
    }
    merge(p, top, "parameters");
    return p;
}

namespace {

// A scalar field's value, or `fallback` when the record lacks it or it is not one number.
double numberOr(const host::Array& p, const char* name, double fallback) {
    const host::Array* f = p.isStruct() ? p.findField(name) : nullptr;
    return f && f->isNumeric() && f->numel() == 1 ? f->realAt(0) : fallback;
}

}  // namespace

std::size_t waveformFrames(const host::Array& p) {
    const double frames = numberOr(p, "FrameCount", 1);
    const auto f = static_cast<std::size_t>(std::clamp(frames == frames ? frames : 1.0, 1.0, 16.0));
    if (numberOr(p, "DATApacketMode", 0) != 1) return f;
    const ModParams mp = OneX_FwdTrfChnModParams(numberOr(p, "DATApacketDRC", 6));
    return mp.known ? packetFrameCount(f, static_cast<std::size_t>(mp.slots)) : f;
}

void updateProjectedLength(host::Array& p) {
    p.setField("ProjectedLength",
               host::Array::scalar(numberOr(p, "OverSampling", 5) * static_cast<double>(kChipsPerFrame * waveformFrames(p))));
}

std::optional<double> packetFieldEntry(std::string_view name, double value) {
    const double r = std::round(value);  // halves away from zero
    if (name == "FrameCount") return std::clamp(r, 1.0, 16.0);
    if (name == "DATApacketMode" || name == "DATApacketInterlaces") return std::clamp(r, 0.0, 1.0);
    if (name == "DATApacketDRC") return std::clamp(r, 1.0, 12.0);
    if (name == "DATApacketMAC") return std::clamp(r, 5.0, 63.0);
    return std::nullopt;
}

void InitializeParameters() { host::record("parameters") = defaultParameters(); }

host::Array& applicationParameters() {
    host::Array& p = host::record("parameters");
    if (!p.isStruct()) p = defaultParameters();
    return p;
}

double clampEntry(std::string_view text, double low, double high, Rounding rounding, double previous) {
    const std::optional<double> largest = host::largestNumber(text);
    if (!largest) return previous;
    const double v = rounding == Rounding::TowardZero ? std::trunc(*largest) : *largest;
    return std::min(std::max(v, low), high);
}

double packetFieldEntry(std::string_view name, std::string_view text, double previous) {
    const std::optional<double> largest = host::largestNumber(text);
    const std::optional<double> stored = largest ? packetFieldEntry(name, *largest) : std::nullopt;
    return stored.value_or(previous);
}

double pilotOffsetIndexEntry(std::string_view text, double previous) { return clampEntry(text, 0, 511, Rounding::TowardZero, previous); }
double overSamplingEntry(std::string_view text, double previous) { return clampEntry(text, 2, 30, Rounding::TowardZero, previous); }
double idleSlotGainEntry(std::string_view text, double previous) { return clampEntry(text, -80, 0, Rounding::None, previous); }

void setOverSampling(host::Array& parameters, double overSampling) {
    parameters.setField("OverSampling", host::Array::scalar(overSampling));
    updateProjectedLength(parameters);
}

}  // namespace onex
