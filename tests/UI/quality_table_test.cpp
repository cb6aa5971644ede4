// The signal-quality window's table and bars from a report, without a display: limits met
// or failed, values that could not be measured, and where each channel's bar stands.
#include <gtest/gtest.h>

#include <cmath>

#include "UI/quality_table.h"

namespace q = onex::quality;

TEST(QualityTable, RowsJudgeTheLimitsAndBarsPlaceTheChannels) {
    q::Report r;
    r.overall = {0.9, 33.3, 32768};
    r.adjacent = {{885e3, -50, -40, q::kAclr885LimitDbc}, {1.98e6, std::nan(""), std::nan(""), q::kAclr198LimitDbc}};
    r.codeDomain = {{"pilot", 2, 0, 0.01, 0}, {"MAC", 2, 20, -12, -12}, {"traffic", 2, 3, -60, -12.04}, {"MAC", 3, 5, -3, -3}};
    const std::vector<ui::QualityRow> rows = ui::qualityRows(r);
    using V = ui::QualityRow::Verdict;
    const struct {
        std::size_t row;
        const char* figure;
        const char* measured;
        V verdict;
    } expected[] = {
        {0, "Waveform quality rho", "0.900000", V::Fails},
        {3, "Leakage -0.885 MHz (30 kHz)", "-50.0 dBc", V::Meets},
        {4, "Leakage +0.885 MHz (30 kHz)", "-40.0 dBc", V::Fails},
        {5, "Leakage -1.980 MHz (30 kHz)", "-", V::NoLimit},
    };
    for (const auto& e : expected) {
        ASSERT_LT(e.row, rows.size());
        EXPECT_EQ(rows[e.row].figure, e.figure);
        EXPECT_EQ(rows[e.row].measured, e.measured) << e.figure;
        EXPECT_EQ(rows[e.row].withinLimit, e.verdict) << e.figure;
    }
    const ui::CodeDomainBars bars = ui::codeDomainBars(r, 2);
    EXPECT_EQ(bars.position, (std::vector<double>{0, 20, 69}));
    EXPECT_EQ(bars.measuredDb, (std::vector<double>{0.01, -12, bars.floorDb}));  // nothing there: at the floor
    EXPECT_EQ(bars.expectedDb[1], -12);
    EXPECT_TRUE(ui::codeDomainBars(r, 7).position.empty());
}
