#include "windows/gui/callback.h"

#include <cctype>
#include <charconv>

#include "host/error.h"

namespace windows::gui {

using host::Error;

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    [[noreturn]] void fail(const std::string& why) const {
        throw Error("Invalid callback text \"" + std::string(text_) + "\": " + why + ".");
    }
    void skipSpaces() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool atEnd() {
        skipSpaces();
        return pos_ >= text_.size();
    }
    bool take(char c) {
        skipSpaces();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string name() {
        skipSpaces();
        const std::size_t start = pos_;
        if (pos_ < text_.size() && (std::isalpha(static_cast<unsigned char>(text_[pos_])) != 0)) {
            while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) != 0 || text_[pos_] == '_')) ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }
    // 'text' with '' standing for one quote.
    std::string quoted() {
        std::string out;
        while (true) {
            if (pos_ >= text_.size()) fail("a quoted text is not closed");
            const char c = text_[pos_++];
            if (c != '\'') {
                out += c;
            } else if (pos_ < text_.size() && text_[pos_] == '\'') {
                out += '\'';
                ++pos_;
            } else {
                return out;
            }
        }
    }
    double number() {
        skipSpaces();
        double value = 0;
        const char* begin = text_.data() + pos_;
        const auto [end, ec] = std::from_chars(begin, text_.data() + text_.size(), value);
        if (ec != std::errc() || end == begin) fail("expected a value");
        pos_ += static_cast<std::size_t>(end - begin);
        return value;
    }
    CallbackArgument argument() {
        skipSpaces();
        if (take('\'')) return quoted();
        if (take('[')) {
            if (!take(']')) fail("only the empty matrix [] can be passed");
            return CallbackValue::Empty;
        }
        if (pos_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[pos_])) != 0 || text_[pos_] == '-' || text_[pos_] == '.'))
            return number();
        const std::string word = name();
        if (word == "gcbo") return CallbackValue::Gcbo;
        if (word == "gcbf") return CallbackValue::Gcbf;
        if (word == "gcf") return CallbackValue::Gcf;
        if (word == "guidata") {
            if (!take('(')) fail("guidata needs an object");
            const std::string of = name();
            if (!take(')')) fail("guidata takes one object");
            if (of == "gcbo") return CallbackValue::GuidataOfGcbo;
            if (of == "gcbf") return CallbackValue::GuidataOfGcbf;
            fail("guidata of '" + of + "' is not supported");
        }
        fail(word.empty() ? "expected a value" : "unknown value '" + word + "'");
    }
    std::string rest() {
        skipSpaces();
        std::string r(text_.substr(pos_));
        pos_ = text_.size();
        return r;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

ParsedCallback parseCallback(std::string_view text) {
    Reader r(text);
    ParsedCallback call;
    call.function = r.name();
    if (call.function.empty()) r.fail("expected a function name");
    if (r.take('(')) {
        if (!r.take(')')) {
            do {
                call.arguments.push_back(r.argument());
            } while (r.take(','));
            if (!r.take(')')) r.fail("expected ',' or ')'");
        }
        r.take(';');
        if (!r.atEnd()) r.fail("unexpected text after the call");
        return call;
    }
    // Command form: the remaining words, separated by spaces, passed as texts.
    std::string words = r.rest();
    if (!words.empty() && words.back() == ';') words.pop_back();
    std::size_t start = 0;
    while (start < words.size()) {
        const std::size_t end = words.find(' ', start);
        const std::string word = words.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!word.empty()) {
            for (char c : word)
                if (c == '(' || c == ')' || c == '\'' || c == ',' || c == ';' || c == '=')
                    r.fail("a command's words are plain");
            call.words.push_back(word);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return call;
}

}  // namespace windows::gui
