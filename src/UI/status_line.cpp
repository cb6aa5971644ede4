#include "UI/status_line.h"

#include "host/text.h"

namespace ui::status {

namespace {

std::string clockText(std::time_t at) {
    std::tm local{};
    localtime_r(&at, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string oneLine(std::string_view text) {
    std::string out;
    bool gap = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            gap = !out.empty();
            continue;
        }
        if (gap) out += ' ';
        gap = false;
        out += c;
    }
    return out;
}

}  // namespace

std::string line(std::string_view what, std::time_t at, std::string_view text) {
    std::string shown = std::string(what) + " at " + clockText(at);
    const std::string body = oneLine(text);
    return body.empty() ? shown : shown + ": " + body;
}

std::string calculation(std::time_t at, double seconds, std::size_t samples) {
    const std::string took = host::fixedText(seconds, seconds < 10 ? 2 : 1) + " s";
    return "Calculated at " + clockText(at) + " in " + took + ": " + std::to_string(samples) + " samples";
}

}  // namespace ui::status
