#include "OneX/digits.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/text.h"

namespace onex {

namespace {

// Digits needed for `v` (at least one, so that 0 is written as a single 0).
std::size_t digitsNeeded(std::uint64_t v) {
    std::size_t n = 1;
    while (v >> n) ++n;
    return n;
}

std::uint64_t wholeValue(double v) {
    if (!std::isfinite(v) || v < 0 || v != std::floor(v) || v > kMaxDigitValue)
        throw host::Error("de2bi: d must hold whole numbers from 0 to 2^53, got " + host::num2str(v) + ".");
    return static_cast<std::uint64_t>(v);
}

// Digit k (weight 2^k) of `v` goes to column k, or to column n - 1 - k most significant first.
void writeDigits(std::uint64_t v, std::size_t n, DigitOrder order, double* out, std::size_t stride) {
    if (n < digitsNeeded(v)) throw host::Error(kTooFewColumns);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t column = order == DigitOrder::RightMsb ? k : n - 1 - k;
        out[column * stride] = static_cast<double>((v >> k) & 1U);
    }
}

}  // namespace

DigitOrder digitOrder(std::string_view flag, std::string_view function) {
    const std::string f = host::lowerCase(flag);
    if (f == "right-msb") return DigitOrder::RightMsb;
    if (f == "left-msb") return DigitOrder::LeftMsb;
    throw host::Error(std::string(function) + ": the digit order must be 'right-msb' or 'left-msb', got '" +
                      std::string(flag) + "'.");
}

RealMatrix de2bi(const RealVector& values, std::optional<std::size_t> n, DigitOrder order) {
    std::vector<std::uint64_t> whole(values.size());
    std::transform(values.begin(), values.end(), whole.begin(), wholeValue);
    std::size_t columns = 0;
    if (n) {
        if (*n == 0) throw host::Error(kTooFewColumns);
        if (*n > kMaxDigits)
            throw host::Error("de2bi: at most " + std::to_string(kMaxDigits) + " digits, got " + std::to_string(*n) + ".");
        columns = *n;
    } else if (!whole.empty()) {
        columns = digitsNeeded(*std::max_element(whole.begin(), whole.end()));
    }
    RealMatrix out(whole.size(), columns);
    for (std::size_t r = 0; r < whole.size(); ++r) writeDigits(whole[r], columns, order, &out(r, 0), whole.size());
    return out;
}

RealVector digitsOf(double value, std::size_t n, DigitOrder order) {
    return de2bi(RealVector{value}, n, order).row(0);
}

RealVector bi2de(const RealMatrix& digits, DigitOrder order) {
    RealVector out(digits.rows(), 0.0);
    const std::size_t n = digits.cols();
    for (std::size_t r = 0; r < digits.rows(); ++r) {
        // Horner's rule from the most significant digit keeps every partial sum exact.
        double value = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t column = order == DigitOrder::LeftMsb ? k : n - 1 - k;
            const double d = digits(r, column);
            if (d != 0 && d != 1)
                throw host::Error("bi2de: b must hold only the digits 0 and 1, got " + host::num2str(d) + ".");
            value = 2 * value + d;
        }
        out[r] = value;
    }
    return out;
}

double valueOfDigits(const RealVector& digits, DigitOrder order) {
    RealMatrix m(1, digits.size());
    m.data().assign(digits.begin(), digits.end());
    return bi2de(m, order)[0];
}

std::uint64_t reverseBits(std::uint64_t n, std::size_t len) {
    if (len > kMaxDigits)
        throw host::Error("reverseBits: len must be at most " + std::to_string(kMaxDigits) + " bits, got " +
                          std::to_string(len) + ".");
    // Zero bits hold nothing, not even 0, just as the digit conversion refuses zero columns.
    if (len == 0 || (n >> len) != 0) throw host::Error(kTooFewColumns);
    std::uint64_t out = 0;
    for (std::size_t k = 0; k < len; ++k) out |= ((n >> k) & 1U) << (len - 1 - k);
    return out;
}

}  // namespace onex

// ---- host forms ------------------------------------------------------------------------

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
