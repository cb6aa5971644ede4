#include "UI/quality_table.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "host/text.h"

namespace ui {

namespace q = onex::quality;

namespace {

std::string fixed(double v, int decimals, const char* unit = "") {
    if (!std::isfinite(v)) return "-";
    return host::fixedText(v, decimals) + unit;
}

QualityRow::Verdict atMost(double v, double limit) {
    if (!std::isfinite(v)) return QualityRow::Verdict::NoLimit;
    return v <= limit ? QualityRow::Verdict::Meets : QualityRow::Verdict::Fails;
}

}  // namespace

std::vector<QualityRow> qualityRows(const q::Report& r) {
    std::vector<QualityRow> rows;
    rows.push_back({"Waveform quality rho", fixed(r.overall.rho, 6), ">= " + fixed(q::kMinimumRho, 3),
                    r.overall.rho >= q::kMinimumRho ? QualityRow::Verdict::Meets : QualityRow::Verdict::Fails});
    rows.push_back({"EVM", fixed(r.overall.evmPercent, 3, " %"), "", QualityRow::Verdict::NoLimit});
    rows.push_back({"rho with the filter's own ISI", fixed(r.filterIsiRho, 5), "", QualityRow::Verdict::NoLimit});
    for (const q::AdjacentChannel& a : r.adjacent) {
        const std::string offset = fixed(a.offsetHz / 1e6, 3, " MHz");
        const std::string limit = fixed(a.limitDbc, 0, " dBc");
        rows.push_back({"Leakage -" + offset + " (30 kHz)", fixed(a.lowerDbc, 1, " dBc"), limit, atMost(a.lowerDbc, a.limitDbc)});
        rows.push_back({"Leakage +" + offset + " (30 kHz)", fixed(a.upperDbc, 1, " dBc"), limit, atMost(a.upperDbc, a.limitDbc)});
    }
    rows.push_back({"Occupied bandwidth (99 %)", fixed(r.occupiedBandwidthHz / 1e6, 4, " MHz"), "", QualityRow::Verdict::NoLimit});
    rows.push_back({"Peak to average", fixed(r.peakToAverageDb, 2, " dB"), "", QualityRow::Verdict::NoLimit});
    rows.push_back({"CCDF 1 %", fixed(r.ccdf1, 2, " dB"), "", QualityRow::Verdict::NoLimit});
    rows.push_back({"CCDF 0.1 %", fixed(r.ccdf01, 2, " dB"), "", QualityRow::Verdict::NoLimit});
    rows.push_back({"CCDF 0.01 %", fixed(r.ccdf001, 2, " dB"), "", QualityRow::Verdict::NoLimit});
    if (!r.packetMode) return rows;
    // The packets as a terminal reads them: each decodes with a good FCS, and its data chips
    // meet the waveform's rho limit.
    const bool allGood = r.goodPackets() == r.packets.size();
    rows.push_back({"Packets with a good FCS", std::to_string(r.goodPackets()) + " of " + std::to_string(r.packets.size()), "all",
                    allGood ? QualityRow::Verdict::Meets : QualityRow::Verdict::Fails});
    for (std::size_t i = 0; i < r.packets.size(); ++i) {
        const q::PacketResult& p = r.packets[i];
        std::string slots;
        for (int s : p.slotNumbers) slots += (slots.empty() ? "" : " ") + std::to_string(s);
        const bool good = p.fcsGood && p.data.rho >= q::kMinimumRho;
        rows.push_back({"Packet " + std::to_string(i + 1) + " (DRC " + std::to_string(p.drc) + ", slots " + slots + ")",
                        std::string(p.fcsGood ? "FCS good" : "FCS BAD") + ", rho " + fixed(p.data.rho, 6),
                        "good FCS, rho >= " + fixed(q::kMinimumRho, 3), good ? QualityRow::Verdict::Meets : QualityRow::Verdict::Fails});
    }
    return rows;
}

CodeDomainBars codeDomainBars(const q::Report& r, int slot) {
    CodeDomainBars bars;
    for (const q::CodeChannel& c : r.codeDomain) {
        if (c.slot != slot) continue;
        const double position = c.kind == "pilot" ? 0 : c.kind == "MAC" ? c.index : 66 + c.index;
        bars.position.push_back(position);
        bars.measuredDb.push_back(std::max(c.measuredDb, bars.floorDb));
        bars.expectedDb.push_back(c.kind == "pilot" ? 0 : std::isfinite(c.expectedDb) ? c.expectedDb : std::nan(""));
    }
    return bars;
}

}  // namespace ui
