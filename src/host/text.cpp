#include "host/text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <optional>

namespace host {

// Numbers are written and read here without the C library's locale: a process whose locale
// writes "2,2" must still send "2.2" to an instrument and read back what a box shows.
std::string num2str(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    char buf[512];
    if (value == std::floor(value) && std::fabs(value) < 1e300) {
        const auto written = std::to_chars(buf, buf + sizeof buf, value == 0.0 ? 0.0 : value, std::chars_format::fixed, 0);  // no "-0"
        return std::string(buf, written.ptr);
    }
    int digits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 5;
    if (digits < 5) digits = 5;
    if (digits > 16) digits = 16;
    const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    return std::string(buf, written.ptr);
}

std::string fixedText(double value, int decimals) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    char buf[512];
    const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, std::max(0, decimals));
    return written.ec == std::errc() ? std::string(buf, written.ptr) : num2str(value);
}

namespace {

// Recursive-descent reader over a bounded text. Grammar (a subset of the host's matrix
// syntax, with nothing that can name a function or variable other than pi/Inf/NaN):
//   list    := item { separator item }
//   item    := sum
//   sum     := product { ('+'|'-') product }
//   product := unary { ('*'|'/') unary }
//   unary   := ('+'|'-') unary | power
//   power   := primary [ '^' unary ]
//   primary := number | 'pi' | 'Inf' | 'NaN' | '(' sum ')'
// Inside a list, whitespace before a sign that is not followed by whitespace starts a new
// item ("1 -2" is two numbers), as the host's bracket syntax reads it.
class Reader {
public:
    explicit Reader(std::string_view t) : text_(t) {}

    std::optional<std::vector<double>> list() {
        std::vector<double> values;
        skipSpace();
        bool bracket = false;
        if (peek() == '[') {
            bracket = true;
            ++pos_;
            skipSpace();
        }
        while (!atEnd() && !(bracket && peek() == ']')) {
            auto v = sum(0);
            if (!v) return std::nullopt;
            values.push_back(*v);
            const std::size_t before = pos_;
            skipSpace();
            if (peek() == ',' || peek() == ';') {
                ++pos_;
                skipSpace();
            } else if (pos_ == before && !atEnd() && !(bracket && peek() == ']')) {
                return std::nullopt;  // two items must be separated
            }
        }
        if (bracket) {
            if (peek() != ']') return std::nullopt;
            ++pos_;
            skipSpace();
        }
        if (!atEnd()) return std::nullopt;
        return values;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    static constexpr int kMaxDepth = 64;  // bounds recursion on "((((((..."

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    void skipSpace() {
        while (!atEnd() && isSpace(peek())) ++pos_;
    }

    // True when, at depth 0 in a list, the space-separated sign at pos_ starts a new item.
    bool signStartsItem(int parenDepth) const {
        if (parenDepth > 0 || pos_ == 0 || !isSpace(text_[pos_ - 1])) return false;
        return !isSpace(peek(1)) && peek(1) != '\0';
    }

    std::optional<double> sum(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        auto left = product(depth);
        if (!left) return std::nullopt;
        for (;;) {
            const std::size_t save = pos_;
            skipSpace();
            const char op = peek();
            if (op != '+' && op != '-') {
                pos_ = save;
                return left;
            }
            if (depth == 0 && signStartsItem(depth)) {
                pos_ = save;
                return left;
            }
            ++pos_;
            skipSpace();
            auto right = product(depth);
            if (!right) return std::nullopt;
            left = op == '+' ? *left + *right : *left - *right;
        }
    }

    std::optional<double> product(int depth) {
        auto left = unary(depth);
        if (!left) return std::nullopt;
        for (;;) {
            const std::size_t save = pos_;
            skipSpace();
            const char op = peek();
            if (op != '*' && op != '/') {
                pos_ = save;
                return left;
            }
            ++pos_;
            skipSpace();
            auto right = unary(depth);
            if (!right) return std::nullopt;
            left = op == '*' ? *left * *right : *left / *right;
        }
    }

    std::optional<double> unary(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        skipSpace();
        if (peek() == '+' || peek() == '-') {
            const char sign = peek();
            ++pos_;
            auto v = unary(depth + 1);
            if (!v) return std::nullopt;
            return sign == '-' ? -*v : *v;
        }
        return power(depth);
    }

    std::optional<double> power(int depth) {
        auto base = primary(depth);
        if (!base) return std::nullopt;
        const std::size_t save = pos_;
        skipSpace();
        if (peek() == '^') {
            ++pos_;
            skipSpace();
            auto exponent = unary(depth + 1);
            if (!exponent) return std::nullopt;
            return std::pow(*base, *exponent);
        }
        pos_ = save;
        return base;
    }

    std::optional<double> primary(int depth) {
        skipSpace();
        const char c = peek();
        if (c == '(') {
            ++pos_;
            auto v = sum(depth + 1);
            skipSpace();
            if (!v || peek() != ')') return std::nullopt;
            ++pos_;
            return v;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || (c == '.' && std::isdigit(static_cast<unsigned char>(peek(1)))))
            return number();
        if (std::isalpha(static_cast<unsigned char>(c))) {
            std::size_t end = pos_;
            while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_')) ++end;
            const std::string_view word = text_.substr(pos_, end - pos_);
            pos_ = end;
            if (word == "pi") return std::numbers::pi;
            if (word == "Inf" || word == "inf") return std::numeric_limits<double>::infinity();
            if (word == "NaN" || word == "nan") return std::numeric_limits<double>::quiet_NaN();
            return std::nullopt;  // any other name would be code: refuse it
        }
        return std::nullopt;
    }

    std::optional<double> number() {
        const std::size_t start = pos_;
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        if (peek() == '.') {
            ++pos_;
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        if (peek() == 'e' || peek() == 'E' || peek() == 'd' || peek() == 'D') {
            std::size_t p = pos_ + 1;
            if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
            if (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) {
                pos_ = p;
                while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
            }
        }
        std::string literal(text_.substr(start, pos_ - start));
        for (char& ch : literal)
            if (ch == 'd' || ch == 'D') ch = 'e';
        if (literal.front() == '.') literal.insert(literal.begin(), '0');
        double value = 0;
        const auto [end, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), value);
        if (ec == std::errc::result_out_of_range) {
            // Beyond the doubles: as the host reads it, Inf, or 0 for a vanishing one.
            const std::size_t e = literal.find_first_of("eE");
            const bool tiny = e != std::string::npos && literal[e + 1] == '-';
            return tiny ? 0.0 : std::numeric_limits<double>::infinity();
        }
        return value;
    }
};

}  // namespace

std::vector<double> parseNumbers(std::string_view text) {
    // Entries in a text box are short; refuse absurd lengths instead of reading them.
    if (text.size() > 4096) return {};
    Reader reader(text);
    auto values = reader.list();
    return values ? *values : std::vector<double>{};
}

std::string withDecimalCommas(std::string_view text) {
    std::string out(text);
    bool point = false;  // the number being read has its decimal point already
    auto digit = [&](std::size_t i) { return i < out.size() && std::isdigit(static_cast<unsigned char>(out[i])) != 0; };
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '.') {
            point = true;
        } else if (out[i] == ',' && !point && i > 0 && digit(i - 1) && digit(i + 1)) {
            out[i] = '.';
            point = true;
        } else if (!digit(i)) {
            point = false;
        }
    }
    return out;
}

std::optional<double> largestNumber(std::string_view text) {
    std::optional<double> largest;
    for (double v : parseNumbers(withDecimalCommas(text)))
        if (!std::isnan(v) && (!largest || v > *largest)) largest = v;
    return largest;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace host
