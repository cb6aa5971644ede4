// The host forms of bits and digits: each unpacks and checks its arrays, calls the typed
// function and packs the result (argument counts are checked from functions.def before it
// runs).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "OneX/digits.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/text.h"

// ---- digits

namespace brevia::bind {

using host::Arguments;
using host::Array;
using host::RealMatrix;
using host::RealVector;

namespace {

onex::DigitOrder orderArgument(const Array& flag, const char* fn) {
    if (!flag.isChar())
        throw host::Error(std::string(fn) + ": flg must be the text 'right-msb' or 'left-msb', not " +
                          std::string(flag.className()) + ".");
    return onex::digitOrder(flag.text(), fn);
}

}  // namespace

std::vector<Array> de2bi(int, Arguments args) {
    constexpr const char* fn = "de2bi";
    const RealVector d = host::realVector(*args[0], {fn, "d"});
    std::optional<std::size_t> n;
    auto order = onex::DigitOrder::RightMsb;
    if (args.size() >= 2) {
        const Array& second = *args[1];
        if (second.isChar()) {
            // de2bi(d, flg): the digit count is left to the values.
            if (args.size() > 2) throw host::Error("de2bi: n must be a number or [], not text, when flg follows it.");
            order = orderArgument(second, fn);
        } else if (!second.isEmpty()) {
            n = static_cast<std::size_t>(host::integerScalar(second, {fn, "n"}, 0, onex::kMaxDigits));
        }
    }
    if (args.size() >= 3) order = orderArgument(*args[2], fn);
    return {host::toArray(onex::de2bi(d, n, order))};
}

std::vector<Array> bi2de(int, Arguments args) {
    constexpr const char* fn = "bi2de";
    const RealMatrix b = host::realMatrix(*args[0], {fn, "b"});
    const auto order = args.size() >= 2 ? orderArgument(*args[1], fn) : onex::DigitOrder::RightMsb;
    const RealVector d = onex::bi2de(b, order);
    return {Array::column(d)};
}

}  // namespace brevia::bind
