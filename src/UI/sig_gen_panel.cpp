#include "UI/sig_gen_panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/error.h"
#include "host/text.h"

namespace ui::panel {

FrequencyUnit frequencyUnit(double listValue) {
    const int i = static_cast<int>(listValue);
    return i >= 1 && i <= 4 ? static_cast<FrequencyUnit>(i) : FrequencyUnit::Hz;
}

double hertzPer(FrequencyUnit unit) {
    switch (unit) {
    case FrequencyUnit::Hz: return 1;
    case FrequencyUnit::kHz: return 1e3;
    case FrequencyUnit::MHz: return 1e6;
    case FrequencyUnit::GHz: return 1e9;
    }
    return 1;
}

double scaledEntry(std::string_view text, double unitIndex, double low, double high, double previous) {
    const std::optional<double> v = host::largestNumber(text);
    if (!v) return previous;
    return std::max(std::min(*v * hertzPer(frequencyUnit(unitIndex)), high), low);
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

std::vector<std::string> limitSettings(host::Array& s, bool asTyped) {
    std::vector<std::string> changes;
    auto number = [&](const char* name) -> std::optional<double> {
        const host::Array* f = s.isStruct() ? s.findField(name) : nullptr;
        if (!f) return std::nullopt;
        if (!f->isNumeric() || f->isComplex() || f->numel() != 1 || std::isnan(f->realAt(0)))
            throw host::Error(std::string("The signal generator setting ") + name + " must be a number.");
        return f->realAt(0);
    };
    auto store = [&](const char* name, double was, double now, const char* unit, const char* how) {
        if (now == was) return;
        s.setField(name, host::Array::scalar(now));
        changes.push_back(std::string(name) + " " + host::num2str(was) + unit + " " + how + " " + host::num2str(now) + unit);
    };
    auto limit = [&](const char* name, double low, double high, const char* unit, bool round) {
        const std::optional<double> v = number(name);
        if (!v) return;
        const double rounded = round ? std::round(*v) : *v;
        const double limited = std::min(std::max(rounded, low), high);
        store(name, *v, limited, unit, limited != rounded ? "limited to" : "rounded to");
    };
    limit("Frequency", 1e5, 4e9, " Hz", false);
    limit("Amplitude", -136, 20, " dBm", asTyped);
    limit("SamplingRate", 1, 4e7, " Hz", false);
    if (const std::optional<double> v = number("ReconFilter")) store("ReconFilter", *v, *v == 1 || *v == 2 || *v == 3 ? *v : 4, "", "taken as");
    if (const std::optional<double> v = number("RFblanking")) store("RFblanking", *v, *v == 1 ? 1 : 0, "", "taken as");
    for (const char* name : {"ArbRefSource", "MarkerPolarity"})
        if (const std::optional<double> v = number(name)) store(name, *v, *v == 0 ? 0 : 1, "", "taken as");
    if (const host::Array* t = s.isStruct() ? s.findField("Title") : nullptr) {
        const std::string was = t->isChar() ? t->text() : std::string();
        // A typed title is cleaned as the box cleans it; one read from a file keeps its lower
        // case (the default "OneX-Fwd" has some) and is cleaned only when the instrument
        // could not take it as it is.
        std::string upperWas = was;
        for (char& c : upperWas)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const std::string cleaned = cleanTitle(was);
        const std::string now = asTyped || cleaned != upperWas ? cleaned : was;
        if (!t->isChar() || now != was) {
            changes.push_back("Title \"" + was + "\" cleaned to \"" + now + "\"");
            s.setField("Title", host::Array::string(now));
        }
    }
    return changes;
}

Shown shownFrequency(double f) {
    const FrequencyUnit unit = f < 1e3 ? FrequencyUnit::Hz : f < 1e6 ? FrequencyUnit::kHz : f < 1e9 ? FrequencyUnit::MHz : FrequencyUnit::GHz;
    return {unit, f / hertzPer(unit)};
}

}  // namespace ui::panel
