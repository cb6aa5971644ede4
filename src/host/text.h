#pragma once
// Numbers as the host writes them, and a safe reader of numbers typed into text boxes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The host's default formatting: integers in full ("163840", "-3"); other values in the
// shortest %g form with max(5, 5 + floor(log10|x|)) significant digits (at most 16):
// -12.5 -> "-12.5", 1.2345678 -> "1.2346", 0.012345678 -> "0.012346". "NaN", "Inf", "-Inf".
std::string num2str(double value);
// A number with a fixed count of decimals ("%.*f" in any locale), for reports and labels.
std::string fixedText(double value, int decimals);

// Reads the numbers of a text entry: a list separated by spaces or commas (semicolons and
// enclosing brackets are accepted too) of numbers with signs, decimal points and exponents,
// Inf, NaN, pi, parentheses and the operators + - * / ^. "3 700" is two numbers, "1 -2"
// two numbers, "1 - 2" one. It evaluates nothing else: text that is not such a list gives
// an empty result, never an error or a side effect.
std::vector<double> parseNumbers(std::string_view text);

// A comma between two digits of a number without a decimal point is taken as its decimal
// point ("-12,5" is -12.5, "1,2 , 3" is 1.2 and 3); spaces and other commas still separate
// numbers. Whatever the locale, a box then reads "-12,5" as a decimal-comma user meant it,
// not as -12 and 5, whose largest would be +5 dBm.
std::string withDecimalCommas(std::string_view text);

// The largest number of a text entry (several numbers collapse to the largest, as the
// windows' boxes take them), read with decimal commas; NaN counts as no number. Nothing when
// the text holds none: a box then keeps the value it had.
std::optional<double> largestNumber(std::string_view text);

// The text with ASCII letters in lower case, for flags and names compared regardless of case.
std::string lowerCase(std::string_view text);
std::string upperCase(std::string_view text);
// Whether two texts are the same but for the case of their ASCII letters.
bool equalNoCase(std::string_view a, std::string_view b);

}  // namespace host
