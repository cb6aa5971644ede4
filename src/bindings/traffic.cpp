// The host forms of traffic data sources, turbo encoder, scrambler and interleaver, modulation
// and packets: each unpacks and checks its arrays, calls the typed function and packs the
// result (argument counts are checked from functions.def before it runs).
#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cmath>
#include <numbers>
#include <string>
#include <tuple>

#include "OneX/common_channels.h"
#include "OneX/packets.h"
#include "OneX/pn_spreading.h"
#include "OneX/scrambler_interleaver.h"
#include "OneX/slot_layout.h"
#include "OneX/traffic_modulation.h"
#include "OneX/traffic_source.h"
#include "OneX/turbo_encoder.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/text.h"

// ---- traffic source

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> PNgenerator(int, Arguments args) {
    constexpr const char* fn = "PNgenerator";
    onex::PnSettings s;
    // A value that is not a scalar takes the default, as the generator reads its arguments.
    auto scalarOrDefault = [&](std::size_t i, const char* name) -> std::optional<double> {
        if (args.size() <= i || args[i]->numel() != 1) return std::nullopt;
        return host::realScalar(*args[i], {fn, name});
    };
    s.n = scalarOrDefault(0, "n");
    s.dataLength = scalarOrDefault(1, "dataLength");
    s.userInvert = scalarOrDefault(2, "userInvert");
    if (args.size() > 3 && !args[3]->isEmpty()) s.seed = host::realVector(*args[3], {fn, "seed"});
    s.zeroSuppression = scalarOrDefault(4, "zeroSuppresion");
    if (args.size() > 5) throw host::Error("PNgenerator: at most 5 arguments (n, dataLength, userInvert, seed, zeroSuppresion).");
    return {host::toRow(onex::PNgenerator(s))};
}

std::vector<Array> GenerateBitStream(int, Arguments args) {
    constexpr const char* fn = "GenerateBitStream";
    if (args.size() < 2 || args.size() > 3)
        throw host::Error("GenerateBitStream: needs 2 or 3 arguments (type, len[, pattern]), got " +
                          std::to_string(args.size()) + ".");
    const double type = host::realScalar(*args[0], {fn, "type"});
    const std::size_t len = host::lengthScalar(*args[1], {fn, "len"});
    const host::RealVector pattern = args.size() == 3 ? host::realVector(*args[2], {fn, "pattern"}) : host::RealVector{};
    return {host::toRow(onex::GenerateBitStream(type, len, pattern))};
}

std::vector<Array> OneX_FwdTrfChnModParams(int, Arguments args) {
    return {onex::toArray(onex::OneX_FwdTrfChnModParams(host::realScalar(*args[0], {"OneX_FwdTrfChnModParams", "drcValue"})))};
}

std::vector<Array> OneX_FwdTrfChn(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdTrfChn";
    const auto data = host::realVector(*args[0], {fn, "data"});
    const onex::ModParams mp = onex::modParamsFromArray(*args[1], fn);
    const double mac = host::realScalar(*args[2], {fn, "macIndex"});
    const bool enc = host::realScalar(*args[3], {fn, "encoderActive"}) != 0;
    const bool scr = host::realScalar(*args[4], {fn, "scramblerActive"}) != 0;
    const bool intl = host::realScalar(*args[5], {fn, "interleaverActive"}) != 0;
    return {host::toRow(onex::OneX_FwdTrfChn(data, mp, mac, enc, scr, intl))};
}

// ---- traffic modulation

std::vector<Array> OneX_FwdTrfModulator(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdTrfModulator";
    const auto bits = host::realVector(*args[0], {fn, "input"});
    const double format = host::realScalar(*args[1], {fn, "format"});
    return {host::toRow(onex::OneX_FwdTrfModulator(bits, format))};
}

std::vector<Array> OneX_IQmap(int, Arguments args) {
    constexpr const char* fn = "OneX_IQmap";
    const auto bits = host::realVector(*args[0], {fn, "data"});
    const double format = host::realScalar(*args[1], {fn, "format"});
    const host::Complex v = onex::OneX_IQmap(bits.data(), bits.size(), format);
    Array out = Array::complexScalar(v);
    out.dropZeroImag();
    return {std::move(out)};
}

std::vector<Array> OneX_FwdTrfRepSeq(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdTrfRepSeq";
    const std::size_t n = host::lengthScalar(*args[1], {fn, "reqLength"});
    return {host::applyToElements(*args[0], {fn, "data"}, [&](const auto& v) { return onex::OneX_FwdTrfRepSeq(v, n); })};
}

std::vector<Array> OneX_FwdTrfDemux(int, Arguments args) {
    return {host::toArray(onex::OneX_FwdTrfDemux(host::complexVector(*args[0], {"OneX_FwdTrfDemux", "data"})))};
}

std::vector<Array> OneX_FwdTrfWalshCover(int, Arguments args) {
    return {host::toArray(
        onex::OneX_FwdTrfWalshCover(host::complexMatrix(*args[0], {"OneX_FwdTrfWalshCover", "input"})))};
}

std::vector<Array> OneX_FwdTrfChnGain(int, Arguments args) {
    return {host::toArray(onex::OneX_FwdTrfChnGain(host::complexMatrix(*args[0], {"OneX_FwdTrfChnGain", "input"})))};
}

std::vector<Array> OneX_FwdTrfSummer(int, Arguments args) {
    return {host::toRow(onex::OneX_FwdTrfSummer(host::complexMatrix(*args[0], {"OneX_FwdTrfSummer", "input"})))};
}

// ---- turbo encoder

std::vector<Array> OneX_FwdEncoder(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdEncoder";
    const auto packet = host::realVector(*args[0], {fn, "physicalLayerPacket"});
    const double codeRate = onex::modParamsField(*args[1], "codeRate", {fn, "modulationParameters"});
    return {host::toRow(onex::OneX_FwdEncoder(packet, codeRate))};
}

std::vector<Array> OneX_TurboCoder(int, Arguments args) {
    constexpr const char* fn = "OneX_TurboCoder";
    const double rate = host::realScalar(*args[1], {fn, "rate"});
    // Uncoded bits come back untouched, in the shape they came.
    if (rate == 1) return {*args[0]};
    return {host::toRow(onex::OneX_TurboCoder(host::realVector(*args[0], {fn, "input"}), rate))};
}

std::vector<Array> OneX_ConstituentEncoder(int, Arguments args) {
    constexpr const char* fn = "OneX_ConstituentEncoder";
    const onex::ConstituentOutput out = onex::OneX_ConstituentEncoder(host::realVector(*args[0], {fn, "input"}));
    return {host::toRow(out.x), host::toRow(out.y0), host::toRow(out.y1)};
}

std::vector<Array> OneX_TurboInterleaver(int, Arguments args) {
    constexpr const char* fn = "OneX_TurboInterleaver";
    return {host::toRow(onex::OneX_TurboInterleaver(host::realVector(*args[0], {fn, "input"})))};
}

std::vector<Array> OneX_TurboPuncturing(int, Arguments args) {
    constexpr const char* fn = "OneX_TurboPuncturing";
    const auto x = host::realVector(*args[0], {fn, "x"});
    const auto y0 = host::realVector(*args[1], {fn, "y0"});
    const auto y1 = host::realVector(*args[2], {fn, "y1"});
    const auto xp = host::realVector(*args[3], {fn, "xp"});
    const auto y0p = host::realVector(*args[4], {fn, "y0p"});
    const auto y1p = host::realVector(*args[5], {fn, "y1p"});
    const double rate = host::realScalar(*args[6], {fn, "rate"});
    return {host::toRow(onex::OneX_TurboPuncturing(x, y0, y1, xp, y0p, y1p, rate))};
}

std::vector<Array> reverseBits(int, Arguments args) {
    constexpr const char* fn = "reverseBits";
    const auto n = host::integerScalar(*args[0], {fn, "n"}, 0, static_cast<long long>(onex::kMaxDigitValue));
    const auto len = host::integerScalar(*args[1], {fn, "len"}, 0, static_cast<long long>(onex::kMaxDigits));
    const auto out = onex::reverseBits(static_cast<std::uint64_t>(n), static_cast<std::size_t>(len));
    return {Array::scalar(static_cast<double>(out))};
}

// ---- scrambler interleaver

std::vector<Array> OneX_FwdScrambler(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdScrambler";
    const auto input = host::realVector(*args[0], {fn, "input"});
    const double drcValue = onex::modParamsField(*args[1], "drcValue", {fn, "modParams"});
    const double macIndex = host::realScalar(*args[2], {fn, "macIndex"});
    return {host::toRow(onex::OneX_FwdScrambler(input, drcValue, macIndex))};
}

std::vector<Array> OneX_FwdChannelInterleaver(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdChannelInterleaver";
    const double codeRate = onex::modParamsField(*args[1], "codeRate", {fn, "modulationParameters"});
    // Uncoded symbols pass untouched, whatever their shape; the packet size is not consulted.
    if (codeRate == 1) return {*args[0]};
    const auto input = host::realVector(*args[0], {fn, "input"});
    const double bits = onex::modParamsField(*args[1], "bits", {fn, "modulationParameters"});
    return {host::toRow(onex::OneX_FwdChannelInterleaver(input, codeRate, bits))};
}

std::vector<Array> OneX_FwdSymbolPermuter(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdSymbolPermuter";
    const auto block = host::realVector(*args[0], {fn, "inputBlock"});
    const auto k = host::integerScalar(*args[1], {fn, "k"}, 1, host::kMaxElements);
    const auto m = host::integerScalar(*args[2], {fn, "m"}, 1, host::kMaxElements);
    const Array& type = *args[3];
    if (!type.isChar() || type.numel() != 1)
        throw host::Error(std::string(fn) + ": type must be the one-character text 'U' or 'V'" +
                          (type.isChar() ? ", got '" + type.text() + "'." : ", not " + std::string(type.className()) + "."));
    return {host::toRow(onex::OneX_FwdSymbolPermuter(block, static_cast<std::size_t>(k), static_cast<std::size_t>(m),
                                                     type.text()[0]))};
}

// ---- packets

std::vector<host::Array> OneX_FwdPhysicalLayerPacket(int, host::Arguments args) {
    constexpr const char* fn = "OneX_FwdPhysicalLayerPacket";
    const host::Array& rate = *args[1];
    // The DRC as a number or as its row of the DRC table.
    const double bits = rate.isStruct() ? onex::modParamsField(rate, "bits", {fn, "modParams"})
                                        : onex::OneX_FwdTrfChnModParams(host::integerScalar(rate, {fn, "drcValue"}, 1, 12)).bits;
    const onex::RealVector payload = host::realVector(*args[0], {fn, "payload"});
    for (std::size_t i = 0; i < payload.size(); ++i)
        if (payload[i] != 0 && payload[i] != 1)
            throw host::Error(std::string(fn) + ": payload element " + std::to_string(i + 1) + " is " + host::num2str(payload[i]) + "; bits are 0 or 1.");
    return {host::toRow(onex::physicalLayerPacket(payload, static_cast<std::size_t>(bits)))};
}

}  // namespace brevia::bind
