#include "UI/slot_setup.h"

#include <gtest/gtest.h>

#include <cmath>

#include "host/random.h"

using host::Array;
namespace se = ui::slotedit;

namespace {
std::vector<double> column(const Array& a) { return std::vector<double>(a.pr(), a.pr() + a.numel()); }
double at(const Array& m, std::size_t slot, std::size_t channel) { return m.pr()[channel * m.rows() + slot]; }
}  // namespace

// No number keeps the previous bit (1) and gain (-6).
TEST(SlotEdits, EntriesRoundThenLimit) {
    const struct {
        const char* text;
        double value, gain;
    } cases[] = {{"12.6", 1, 13}, {"45", 1, 30}, {"-100", 0, -30}, {"abc", 1, -6}, {"0.4", 0, 0}, {"NaN", 1, -6},
                 {"0.5", 1, 1},   {"7", 1, 7},   {"", 1, -6},      {"3 700", 1, 30}, {"-2.5", 0, -3}};
    for (const auto& c : cases) {
        EXPECT_EQ(se::raValueEntry(c.text, 1), c.value) << c.text;
        EXPECT_EQ(se::raGainEntry(c.text, -6), c.gain) << c.text;
    }
}

TEST(SlotEdits, ActivityPatternsAndTheOtherFastEdits) {
    const std::vector<std::vector<double>> patterns = {
        std::vector<double>(16, 1),
        {1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0},
        {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0},
        {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1},
        std::vector<double>(16, 0),
    };
    for (std::size_t v = 1; v <= 5; ++v) EXPECT_EQ(column(*se::fasteditActive(static_cast<double>(v))), patterns[v - 1]) << v;
    host::seedRandom(3);
    for (double x : column(*se::fasteditActive(6))) EXPECT_TRUE(x == 0 || x == 1);
    EXPECT_FALSE(se::fasteditActive(7).has_value());

    Array slot = se::defaultSlotStruct();
    se::fasteditDataMod(slot, 3);
    EXPECT_EQ(column(slot.field("DATAslotMod")), std::vector<double>(16, 3));
    se::fasteditDataMod(slot, 4);
    for (double x : column(slot.field("DATAslotMod"))) EXPECT_TRUE(x == 1 || x == 2 || x == 3);
    se::fasteditRaValue(slot, 3);
    const std::vector<double> oddSlotsZero = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(column(slot.field("RAslotValue")), oddSlotsZero);
    se::fasteditRaGain(slot, 4);
    EXPECT_EQ(column(slot.field("RAslotGain")), std::vector<double>(16, -6));
    se::fasteditRaGain(slot, 6);
    for (double x : column(slot.field("RAslotGain"))) EXPECT_TRUE(x >= -10 && x <= 3 && x == std::round(x));

    // Clone 1,2: odd slots take slot 1, even slots slot 2.
    Array& gain = slot.field("RPCslotGain");
    for (std::size_t c = 0; c < 59; ++c) {
        gain.pr()[c * 16 + 0] = 1.0 + static_cast<double>(c);
        gain.pr()[c * 16 + 1] = -1.0 - static_cast<double>(c);
    }
    se::fasteditRpcSetup(slot, 2);
    for (std::size_t k = 0; k < 16; ++k)
        for (std::size_t c : {0, 30, 58}) EXPECT_EQ(at(gain, k, c), k % 2 == 0 ? 1.0 + c : -1.0 - c) << k << " " << c;
    se::fasteditRpcSetup(slot, 1);
    for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(at(slot.field("RPCslotGain"), k, 7), 8.0);
    se::fasteditRpcSetup(slot, 3);
    EXPECT_EQ(column(slot.field("RPCslotActiveChn")), (std::vector<double>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(at(slot.field("RPCslotActive"), 5, 0), 1);
    EXPECT_EQ(at(slot.field("RPCslotActive"), 5, 1), 0);
    EXPECT_EQ(at(slot.field("RPCslotGain"), 5, 0), 0);
}

TEST(RpcEdits, NormalisingSumsTheActiveChannelsAmplitudes) {
    std::vector<double> active(59, 0), gains(59, 0);
    active[0] = 1;
    std::vector<double> out = se::normalisedGains(active, gains, -6);
    EXPECT_DOUBLE_EQ(out[0], -6);
    EXPECT_DOUBLE_EQ(out[30], -6);  // inactive channels move by the same amount
    active[1] = 1;
    out = se::normalisedGains(active, gains, 0);
    EXPECT_NEAR(out[0], -6.0206, 1e-4);
    EXPECT_NEAR(out[1], -6.0206, 1e-4);
    EXPECT_DOUBLE_EQ(se::normalisedGains(active, gains, 45)[0], 30 - 20 * std::log10(2.0));
    EXPECT_EQ(se::normalisedGains(std::vector<double>(59, 0), gains, -6), gains);

    EXPECT_EQ((*se::activityPattern(4, 59))[55], 1);
    EXPECT_EQ((*se::activityPattern(4, 59))[56], 0);
    EXPECT_EQ((*se::rpcValuePattern(3))[0], 0);
    EXPECT_EQ((*se::rpcValuePattern(3))[58], 0);  // channel 59 is odd
    EXPECT_EQ((*se::rpcValuePattern(4))[58], 1);
    EXPECT_EQ(*se::rpcGainPattern(5), std::vector<double>(59, -10));
    EXPECT_FALSE(se::rpcGainPattern(7).has_value());  // normalise is the dialog's
}
