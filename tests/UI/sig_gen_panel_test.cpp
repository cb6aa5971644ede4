#include "UI/sig_gen_panel.h"

#include <gtest/gtest.h>

using namespace ui::panel;

// Text with no number in it keeps the previous value: 2.2 GHz, 6.144 MHz and -30 dBm here.
TEST(SigGenPanel, EntriesInTheirUnitsAreLimitedNeverRefused) {
    const struct {
        const char* text;
        double unit;
        double frequency, samplingRate;
    } cases[] = {
        {"5", 4, 4e9, 4e7},         {"50", 2, 1e5, 5e4},       {"999", 1, 1e5, 999},     {"2200", 3, 2.2e9, 4e7},
        {"2.2", 4, 2.2e9, 4e7},     {"0.5", 1, 1e5, 1},        {"abc", 3, 2.2e9, 6.144e6}, {"", 4, 2.2e9, 6.144e6},
        {"NaN", 2, 2.2e9, 6.144e6}, {"Inf", 2, 4e9, 4e7},
        {"-7", 3, 1e5, 1},          {"1e300", 4, 4e9, 4e7},    {"1 3 2", 3, 3e6, 3e6},   {"50", 3, 5e7, 4e7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frequencyEntry(c.text, c.unit, 2.2e9), c.frequency) << c.text << " unit " << c.unit;
        EXPECT_EQ(samplingRateEntry(c.text, c.unit, 6.144e6), c.samplingRate) << c.text << " unit " << c.unit;
    }
    const struct {
        const char* text;
        double dBm;
    } amplitudes[] = {{"-140.4", -136}, {"12.5", 13}, {"25", 20}, {"-12.5", -13}, {"x", -30}, {"", -30}, {"NaN", -30}, {"3 -5", 3}, {"-0.4", 0}};
    for (const auto& a : amplitudes) EXPECT_EQ(amplitudeEntry(a.text, -30), a.dBm) << a.text;
}

TEST(SigGenPanel, TitlesAndShownUnits) {
    const struct {
        const char* typed;
        const char* title;
    } titles[] = {{"my wave 1.bin", "MYWAVE1BIN"}, {"***", "BLANK"}, {"", "BLANK"},
                  {"abcdefghijklmnopqrstuvwxy", "ABCDEFGHIJKLMNOPQRST"}, {"a_b$c&d#e+f-g[h]i", "A_B$C&D#E+F-G[H]I"}, {"é1", "1"}};
    for (const auto& t : titles) EXPECT_EQ(cleanTitle(t.typed), t.title) << t.typed;

    const struct {
        double hertz;
        int unit;
        double shown;
    } units[] = {{999, 1, 999}, {1000, 2, 1}, {2.2e9, 4, 2.2}, {9830400, 3, 9.8304}, {1e5, 2, 100}, {4e9, 4, 4}};
    for (const auto& u : units) {
        EXPECT_EQ(static_cast<int>(shownFrequency(u.hertz).unit), u.unit) << u.hertz;
        EXPECT_DOUBLE_EQ(shownFrequency(u.hertz).value, u.shown) << u.hertz;
    }
}
