#pragma once
// Conversions between non-negative integers and their base-2 digits, in the two digit
// orders the host library offers. The scrambler seeds its register with them and the
// interleavers reverse addresses through them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "host/matrix.h"

namespace onex {

using host::RealMatrix;
using host::RealVector;

// "right-msb": least significant digit first (the default); "left-msb": most significant first.
enum class DigitOrder { RightMsb, LeftMsb };

// Reads a digit-order flag, case-insensitively; anything else is refused naming `function`.
DigitOrder digitOrder(std::string_view flag, std::string_view function);

// The largest value the digit conversions take: beyond it doubles no longer hold every integer.
inline constexpr double kMaxDigitValue = 9007199254740992.0;  // 2^53
inline constexpr std::size_t kMaxDigits = 53;

// The message the host library gives when a value needs more digits than were asked for.
inline constexpr const char* kTooFewColumns = "Specified number of columns in output matrix is too small.";

// One row of `n` digits per value. Without `n`, enough digits for the largest value (at
// least one). Values must be whole, finite and within 0 ... 2^53.
RealMatrix de2bi(const RealVector& values, std::optional<std::size_t> n, DigitOrder order = DigitOrder::RightMsb);
// The digits of one value as a row.
RealVector digitsOf(double value, std::size_t n, DigitOrder order = DigitOrder::RightMsb);

// One value per row of 0/1 digits.
RealVector bi2de(const RealMatrix& digits, DigitOrder order = DigitOrder::RightMsb);
double valueOfDigits(const RealVector& digits, DigitOrder order = DigitOrder::RightMsb);

// `n` with its low `len` bits in reverse order, as the turbo and channel interleavers
// address their memories. A value that does not fit in `len` bits is refused with the
// digit conversion's message.
std::uint64_t reverseBits(std::uint64_t n, std::size_t len);

}  // namespace onex
