#include "MexIO/corrections.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "OneX/baseband_filter.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"

namespace mexio {

std::vector<std::size_t> strfindpt(std::string_view text, std::string_view pattern) {
    std::vector<std::size_t> at;
    if (pattern.empty() || pattern.size() > text.size()) return at;
    for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i)
        if (text.compare(i, pattern.size(), pattern) == 0) at.push_back(i + 1);
    return at;
}

std::string GetSerialNumber(std::string_view id) {
    const auto us = strfindpt(id, "US");
    if (us.empty()) return {};
    const std::size_t start = us.front() - 1;
    const std::size_t comma = id.find(',', start);
    if (comma == std::string_view::npos) return {};
    return std::string(id.substr(start, comma - start));
}

std::string FormatFreq(double freq) {
    const double f = freq / 1e9;
    const double whole = std::floor(f);
    const double tenths = std::round((f - whole) * 10);  // halves away from zero; 9.9 becomes 10
    return std::to_string(static_cast<long long>(whole)) + "." + std::to_string(static_cast<long long>(tenths)) + " GHz";
}

std::string correctionsDirectory() {
    if (const char* dir = std::getenv("BREVIA_CORRECTIONS_DIR"); dir && *dir) return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/brevia/corrections";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/brevia/corrections";
}

std::string CreateFileName(std::string_view id, double freq) {
    return correctionsDirectory() + "/" + GetSerialNumber(id) + " " + FormatFreq(freq) + ".mat";
}

host::ComplexVector circfilt(const host::ComplexVector& x, const host::RealVector& h) {
    if (h.empty()) throw host::Error("circfilt: the filter has no taps.");
    if (x.size() + 1 < h.size())
        throw host::Error("circfilt: the signal holds " + std::to_string(x.size()) + " samples; a filter of " +
                          std::to_string(h.size()) + " taps needs at least " + std::to_string(h.size() - 1) + ".");
    return onex::circularFir(x, h, h.size() / 2);
}

}  // namespace mexio

// ---- host forms ------------------------------------------------------------------------

namespace brevia::bind {

std::vector<host::Array> circfilt(int, host::Arguments args) {
    host::requireInputs("circfilt", args, 2);
    const host::Array& x = *args[0];
    host::Array out = host::toRow(
        mexio::circfilt(host::complexVector(x, {"circfilt", "x"}), host::realVector(*args[1], {"circfilt", "h"})));
    if (x.isVector()) out.reshape(x.rows(), x.cols());
    return {std::move(out)};
}

}  // namespace brevia::bind
