#include "UI/slot_setup.h"

#include <algorithm>
#include <cmath>

#include "OneX/common_channels.h"
#include "host/random.h"
#include "host/text.h"

namespace ui::slotedit {

namespace {

using host::Array;

constexpr std::size_t kSlots = 16;
constexpr std::size_t kChannels = onex::kRpcChannels;

Array filled(std::size_t rows, std::size_t cols, double v) {
    Array a = Array::zeros(rows, cols);
    std::fill(a.pr(), a.pr() + a.numel(), v);
    return a;
}

template <class Value>
Array column(Value value) {
    Array a = Array::zeros(kSlots, 1);
    for (std::size_t k = 0; k < kSlots; ++k) a.pr()[k] = value(k + 1);
    return a;
}

double roundedEntry(std::string_view text, double low, double high, double previous) {
    const std::optional<double> v = host::largestNumber(text);
    return v ? std::max(std::min(std::round(*v), high), low) : previous;
}

// Copies row `from` of a matrix field onto row `to`.
void copyRow(Array& slot, const char* field, std::size_t from, std::size_t to) {
    Array& m = slot.field(field);
    for (std::size_t c = 0; c < m.cols(); ++c) m.pr()[c * m.rows() + to] = m.pr()[c * m.rows() + from];
}

}  // namespace

Array defaultSlotStruct() {
    Array s = Array::structure();
    s.setField("DATAslotActive", filled(kSlots, 1, 1));
    s.setField("DATAslotMod", filled(kSlots, 1, 1));
    s.setField("RAslotActive", filled(kSlots, 1, 1));
    s.setField("RAslotValue", filled(kSlots, 1, 1));
    s.setField("RAslotGain", filled(kSlots, 1, 0));
    s.setField("RPCslotActiveChn", filled(kSlots, 1, 1));
    s.setField("RPCslotActive", filled(kSlots, kChannels, 1));
    s.setField("RPCslotValue", filled(kSlots, kChannels, 1));
    s.setField("RPCslotGain", filled(kSlots, kChannels, 0));
    return s;
}

double raValueEntry(std::string_view text, double previous) { return roundedEntry(text, 0, 1, previous); }
double raGainEntry(std::string_view text, double previous) { return roundedEntry(text, -30, 30, previous); }

std::optional<std::vector<double>> activityPattern(double v, std::size_t n) {
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = i + 1;
        if (v == 1) out[i] = 1;
        else if (v == 2) out[i] = k % 4 == 0 ? 0 : 1;
        else if (v == 3) out[i] = k % 2 == 0 ? 0 : 1;
        else if (v == 4) out[i] = k % 4 == 0 ? 1 : 0;
        else if (v == 5) out[i] = 0;
        else if (v == 6) out[i] = std::round(host::rand());
        else return std::nullopt;
    }
    return out;
}

std::optional<Array> fasteditActive(double v) {
    const auto pattern = activityPattern(v, kSlots);
    if (!pattern) return std::nullopt;
    return column([&](std::size_t k) { return (*pattern)[k - 1]; });
}

std::optional<std::vector<double>> rpcValuePattern(double v) {
    std::vector<double> out(kChannels);
    for (std::size_t i = 0; i < kChannels; ++i) {
        const std::size_t c = i + 1;
        if (v == 1) out[i] = 0;
        else if (v == 2) out[i] = 1;
        else if (v == 3) out[i] = c % 2 == 1 ? 0 : 1;
        else if (v == 4) out[i] = c % 2 == 0 ? 0 : 1;
        else if (v == 5) out[i] = std::round(host::rand());
        else return std::nullopt;
    }
    return out;
}

std::optional<std::vector<double>> rpcGainPattern(double v) {
    const double gains[] = {3, 0, -3, -6, -10};
    if (v >= 1 && v <= 5 && v == std::floor(v)) return std::vector<double>(kChannels, gains[static_cast<int>(v) - 1]);
    if (v == 6) {
        std::vector<double> out(kChannels);
        for (double& g : out) g = std::round(13 * host::rand()) - 10;
        return out;
    }
    return std::nullopt;
}

std::vector<double> normalisedGains(const std::vector<double>& active, std::vector<double> gains, double target) {
    const double to = std::max(std::min(target, 30.0), -30.0);
    double total = 0;
    for (std::size_t c = 0; c < gains.size() && c < active.size(); ++c) total += active[c] * std::pow(10.0, gains[c] / 20);
    if (total > 0)
        for (double& g : gains) g = g - 20 * std::log10(total) + to;
    return gains;
}

void fasteditDataMod(Array& slot, double v) {
    if (v >= 1 && v < 4 && v == std::floor(v)) slot.setField("DATAslotMod", filled(kSlots, 1, v));
    else if (v >= 4) slot.setField("DATAslotMod", column([](std::size_t) { return 1 + std::round(2 * host::rand()); }));
}

void fasteditRaValue(Array& slot, double v) {
    if (v == 1) slot.setField("RAslotValue", filled(kSlots, 1, 0));
    if (v == 2) slot.setField("RAslotValue", filled(kSlots, 1, 1));
    if (v == 3) slot.setField("RAslotValue", column([](std::size_t k) { return k % 2 == 1 ? 0.0 : 1.0; }));
    if (v == 4) slot.setField("RAslotValue", column([](std::size_t k) { return k % 2 == 0 ? 0.0 : 1.0; }));
    if (v == 5) slot.setField("RAslotValue", column([](std::size_t) { return std::round(host::rand()); }));
}

void fasteditRaGain(Array& slot, double v) {
    const double gains[] = {3, 0, -3, -6, -10};
    if (v >= 1 && v <= 5 && v == std::floor(v)) slot.setField("RAslotGain", filled(kSlots, 1, gains[static_cast<int>(v) - 1]));
    if (v == 6) slot.setField("RAslotGain", column([](std::size_t) { return std::round(13 * host::rand()) - 10; }));
}

void fasteditRpcSetup(Array& slot, double v) {
    const char* fields[] = {"RPCslotActiveChn", "RPCslotActive", "RPCslotValue", "RPCslotGain"};
    if (v == 1) {
        for (std::size_t k = 1; k < kSlots; ++k)
            for (const char* f : fields) copyRow(slot, f, 0, k);
    } else if (v == 2) {
        for (std::size_t k = 2; k + 1 < kSlots; k += 2)
            for (const char* f : fields) {
                copyRow(slot, f, 0, k);
                copyRow(slot, f, 1, k + 1);
            }
    } else if (v == 3) {
        slot.setField("RPCslotActiveChn", column([](std::size_t k) { return k == 1 ? 1.0 : 0.0; }));
        Array firstOnly = Array::zeros(kSlots, kChannels);
        std::fill(firstOnly.pr(), firstOnly.pr() + kSlots, 1.0);
        slot.setField("RPCslotActive", firstOnly);
        slot.setField("RPCslotValue", firstOnly);
        slot.setField("RPCslotGain", Array::zeros(kSlots, kChannels));
    }
}

}  // namespace ui::slotedit
