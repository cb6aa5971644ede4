// The host forms of pilot, MAC and idle-slot channels and the Walsh helpers: each unpacks and
// checks its arrays, calls the typed function and packs the result (argument counts are
// checked from functions.def before it runs).
#include <cmath>
#include <string>

#include "OneX/common_channels.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/random.h"
#include "host/text.h"

// ---- common channels

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> OneX_FwdPilot(int, Arguments) { return {host::toRow(onex::OneX_FwdPilot())}; }

std::vector<Array> OneX_FwdMACslot(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdMACslot";
    const auto bits = host::realVector(*args[0], {fn, "RPCbits"});
    const auto gains = host::realVector(*args[1], {fn, "RPCgains"});
    const double raBit = host::realScalar(*args[2], {fn, "RAbit"});
    const double raGain = host::realScalar(*args[3], {fn, "RAgain"});
    return {host::toRow(onex::OneX_FwdMACslot(bits, gains, raBit, raGain))};
}

std::vector<Array> OneX_FwdIdleSlot(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdIdleSlot";
    const bool active = host::realScalar(*args[0], {fn, "IdleSlotGainActive"}) != 0.0;
    const double gain = host::realScalar(*args[1], {fn, "IdleSlotGain"});
    const auto chips = host::integerScalar(*args[2], {fn, "NumberOfChips"}, 0, host::kMaxElements);
    return {host::toRow(onex::OneX_FwdIdleSlot(active, gain, static_cast<std::size_t>(chips)))};
}

std::vector<Array> OneX_SignalMap(int, Arguments args) {
    constexpr const char* fn = "OneX_SignalMap";
    const Array& in = *args[0];
    if (!in.isNumeric() && !in.isLogical())
        throw host::Error(std::string(fn) + ": input must be numeric, not " + std::string(in.className()) + ".");
    Array out = Array::numeric(host::ClassId::Double, in.rows(), in.cols(), in.isComplex());
    for (std::size_t i = 0; i < in.numel(); ++i)
        out.setComplex(i, 1.0 - 2.0 * in.complexAt(i));
    return {std::move(out)};
}

std::vector<Array> OneX_WalshMatrix(int, Arguments args) {
    return {host::toArray(onex::OneX_WalshMatrix(host::realScalar(*args[0], {"OneX_WalshMatrix", "index"})))};
}

std::vector<Array> OneX_WalshCover(int, Arguments args) {
    constexpr const char* fn = "OneX_WalshCover";
    if (args[0]->isComplex() || args[1]->isComplex())
        return {host::toRow(onex::OneX_WalshCover(host::complexVector(*args[0], {fn, "signal"}),
                                                  host::complexVector(*args[1], {fn, "code"})))};
    return {host::toRow(onex::OneX_WalshCover(host::realVector(*args[0], {fn, "signal"}),
                                              host::realVector(*args[1], {fn, "code"})))};
}

std::vector<Array> OneX_Repeat(int, Arguments args) {
    constexpr const char* fn = "OneX_Repeat";
    const auto factor = static_cast<std::size_t>(host::integerScalar(*args[1], {fn, "factor"}, 0, host::kMaxElements));
    if (factor != 0 && args[0]->numel() > static_cast<std::size_t>(host::kMaxElements) / factor)
        throw host::Error(std::string(fn) + ": " + std::to_string(factor) + " copies of " +
                          std::to_string(args[0]->numel()) + " elements are more than the host can hold.");
    return {host::applyToElements(*args[0], {fn, "input"}, [&](const auto& v) { return onex::OneX_Repeat(v, factor); })};
}

std::vector<Array> extendVector(int, Arguments args) {
    constexpr const char* fn = "extendVector";
    const std::size_t n = host::lengthScalar(*args[1], {fn, "reqLength"});
    return {host::applyToElements(*args[0], {fn, "data"}, [&](const auto& v) { return onex::extendVector(v, n); })};
}

}  // namespace brevia::bind
