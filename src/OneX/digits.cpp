#include "OneX/digits.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "host/error.h"
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
