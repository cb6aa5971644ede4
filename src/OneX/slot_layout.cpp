#include "OneX/slot_layout.h"

#include <initializer_list>
#include <utility>

#include "host/error.h"

namespace onex::slot {

namespace {

constexpr std::size_t m = kBlankingMargin;

// A 2048-chip pattern from runs of (value, length), left to right.
std::vector<std::uint8_t> runs(std::initializer_list<std::pair<std::uint8_t, std::size_t>> parts) {
    std::vector<std::uint8_t> mask;
    for (const auto& [value, length] : parts) mask.insert(mask.end(), length, value);
    if (mask.size() != kChips) throw host::Error("internal: a blanking mask is not one slot long.");
    return mask;
}

}  // namespace

const std::vector<std::uint8_t>& idleMacMask() {
    static const auto mask = runs({{1, 400 + m}, {0, 64 - 2 * m}, {1, 96 + 2 * m}, {0, 64 - 2 * m}, {1, 800 + 2 * m},
                                   {0, 64 - 2 * m}, {1, 96 + 2 * m}, {0, 64 - 2 * m}, {1, 400 + m}});
    return mask;
}

const std::vector<std::uint8_t>& idleDataMask() {
    static const auto mask = runs({{0, 400 - m}, {1, 224 + 2 * m}, {0, 800 - 2 * m}, {1, 224 + 2 * m}, {0, 400 - m}});
    return mask;
}

const std::vector<std::uint8_t>& bothIdleMask() {
    static const auto mask = runs({{0, 464 - m}, {1, 96 + 2 * m}, {0, 928 - 2 * m}, {1, 96 + 2 * m}, {0, 464 - m}});
    return mask;
}

}  // namespace onex::slot
