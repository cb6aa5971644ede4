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

}  // namespace

double scaledEntry(std::string_view text, double unitIndex, double low, double high, double previous) {
    const std::optional<double> v = host::largestNumber(text);
    if (!v) return previous;
    return std::max(std::min(*v * unitFactor(unitIndex), high), low);
}

double frequencyEntry(std::string_view text, double unitIndex, double previous) { return scaledEntry(text, unitIndex, 1e5, 4e9, previous); }
double samplingRateEntry(std::string_view text, double unitIndex, double previous) { return scaledEntry(text, unitIndex, 1, 4e7, previous); }

double amplitudeEntry(std::string_view text, double previous) {
    const std::optional<double> v = host::largestNumber(text);
    if (!v) return previous;
    return std::max(std::min(std::round(*v), 20.0), -136.0);
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
