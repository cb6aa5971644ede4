#include "UI/sig_gen_panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/text.h"

namespace ui::panel {

namespace {

constexpr double kUnitFactors[] = {1, 1e3, 1e6, 1e9};

double unitFactor(double unitIndex) {
    const int i = static_cast<int>(unitIndex);
    return i >= 1 && i <= 4 ? kUnitFactors[i - 1] : 1;
}

// The largest number of the text through `adjust`, or nothing.
template <class Adjust>
bool largest(std::string_view text, Adjust adjust, double& out) {
    bool any = false;
    for (double v : host::parseNumbers(text)) {
        if (std::isnan(v)) continue;
        v = adjust(v);
        out = any ? std::max(out, v) : v;
        any = true;
    }
    return any;
}

}  // namespace

double scaledEntry(std::string_view text, double unitIndex, double low, double high) {
    const double factor = unitFactor(unitIndex);
    double v = low;
    if (!largest(text, [factor](double x) { return x * factor; }, v)) return low;
    return std::max(std::min(v, high), low);
}

double frequencyEntry(std::string_view text, double unitIndex) { return scaledEntry(text, unitIndex, 1e5, 4e9); }
double samplingRateEntry(std::string_view text, double unitIndex) { return scaledEntry(text, unitIndex, 1, 4e7); }

double amplitudeEntry(std::string_view text) {
    double v = -136;
    if (!largest(text, [](double x) { return std::round(x); }, v)) return -136;
    return std::max(std::min(v, 20.0), -136.0);
}

std::string cleanTitle(std::string_view text) {
    std::string title;
    for (char c : text) {
        const char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        const bool kept = (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || std::strchr("_$&#+-[]", u) != nullptr;
        if (kept && u != '\0' && title.size() < 20) title += u;
    }
    return title.empty() ? "BLANK" : title;
}

Shown shownFrequency(double f) {
    const int unit = f < 1e3 ? 1 : f < 1e6 ? 2 : f < 1e9 ? 3 : 4;
    return {unit, f / kUnitFactors[unit - 1]};
}

}  // namespace ui::panel
