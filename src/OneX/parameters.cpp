#include "OneX/parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OneX/common_channels.h"
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
    return p;
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

double pilotOffsetIndexEntry(std::string_view text, double previous) { return clampEntry(text, 0, 511, Rounding::TowardZero, previous); }
double overSamplingEntry(std::string_view text, double previous) { return clampEntry(text, 2, 30, Rounding::TowardZero, previous); }
double idleSlotGainEntry(std::string_view text, double previous) { return clampEntry(text, -80, 0, Rounding::None, previous); }

void setOverSampling(host::Array& parameters, double overSampling) {
    parameters.setField("OverSampling", host::Array::scalar(overSampling));
    parameters.setField("ProjectedLength", host::Array::scalar(overSampling * static_cast<double>(kChipsPerFrame)));
}

}  // namespace onex
