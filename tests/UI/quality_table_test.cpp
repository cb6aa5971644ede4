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

// In packet mode the table lists the packets: the count with a good FCS, then each packet
// with its slots, FCS and rho, judged on both.
TEST(QualityTable, PacketsAreListedWithTheirFcsAndRho) {
    q::Report r;
    r.overall = {0.99, 10, 65536};
    EXPECT_EQ(ui::qualityRows(r).back().figure, "CCDF 0.01 %");  // no packets outside packet mode
    r.packetMode = true;
    q::PacketResult good;
    good.slotNumbers = {1, 5};
    good.drc = 3;
    good.fcsGood = true;
    good.data = {0.999999, 0.1, 3200};
    q::PacketResult bad = good;
    bad.slotNumbers = {2, 6};
    bad.fcsGood = false;
    q::PacketResult poor = good;
    poor.slotNumbers = {3, 7};
    poor.data = {0.5, 100, 3200};
    r.packets = {good, bad, poor};
    const std::vector<ui::QualityRow> rows = ui::qualityRows(r);
    ASSERT_GE(rows.size(), 4u);
    using V = ui::QualityRow::Verdict;
    const std::size_t first = rows.size() - 4;
    EXPECT_EQ(rows[first].figure, "Packets with a good FCS");
    EXPECT_EQ(rows[first].measured, "2 of 3");
    EXPECT_EQ(rows[first].withinLimit, V::Fails);
    EXPECT_EQ(rows[first + 1].figure, "Packet 1 (DRC 3, slots 1 5)");
    EXPECT_EQ(rows[first + 1].measured, "FCS good, rho 0.999999");
    EXPECT_EQ(rows[first + 1].withinLimit, V::Meets);
    EXPECT_EQ(rows[first + 2].measured, "FCS BAD, rho 0.999999");
    EXPECT_EQ(rows[first + 2].withinLimit, V::Fails);
    EXPECT_EQ(rows[first + 3].withinLimit, V::Fails);  // a good FCS under the rho limit
}
