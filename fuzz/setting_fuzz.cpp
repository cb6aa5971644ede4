// Command-line changes of a parameter set (--set NAME=VALUE, one per line; a line starting
// with '%' is a --settings change of the signal generator): each is taken or refused with a
// message, and whatever set results is either refused by the frame builder's checks or
// gives it inputs it can build a frame from.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MexIO/download_play.h"
#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "app/generate.h"
#include "host/error.h"

namespace {

std::vector<std::string> namesOf(const host::Array& record) { return record.fieldNames(); }

bool finite(const std::vector<double>& values) {
    for (const double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const host::Array defaults = onex::defaultParameters();
    static const host::Array sigGenDefaults = mexio::initialSigGenSettings(5);
    host::Array parameters = defaults;
    host::Array sigGen = sigGenDefaults;

    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int lines = 0; !input.empty() && lines < 64; ++lines) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        const std::string_view line = input.substr(0, end);
        input.remove_prefix(std::min(end + 1, input.size()));
        try {
            if (!line.empty() && line.front() == '%')
                app::applySigGenSetting(sigGen, line.substr(1));
            else
                app::applySetting(parameters, line);
        } catch (const host::Error&) {
        }
    }
    // A change replaces values, never the records' layout.
    if (namesOf(parameters) != namesOf(defaults) || namesOf(sigGen) != namesOf(sigGenDefaults)) __builtin_trap();
    if (namesOf(parameters.field("slot")) != namesOf(defaults.field("slot"))) __builtin_trap();

    onex::FrameInputs in;
    try {
        in = onex::frameInputsFromParameters(parameters);
    } catch (const host::Error&) {
        return 0;
    }
    // What the checks let through is what the frame builder is written for.
    if (in.oversampling < 2 || in.oversampling > 30) __builtin_trap();
    if (in.dataActive.size() != onex::kFrameSlots || in.raGain.size() != onex::kFrameSlots ||
        in.rpcGains.rows() != onex::kFrameSlots || in.rpcGains.cols() != 59)
        __builtin_trap();
    if (!finite(in.raGain) || !std::isfinite(in.idleSlotGain)) __builtin_trap();
    for (std::size_t k = 0; k < in.rpcGains.size(); ++k)
        if (!std::isfinite(in.rpcGains.data()[k])) __builtin_trap();
    return 0;
}
