#pragma once
// What the signal-quality window shows, worked out without a display: the rows of its table
// of figures and limits, and the bars of one slot's code-domain chart.

#include <string>
#include <vector>

#include "OneX/signal_quality.h"

namespace ui {

struct QualityRow {
    enum class Verdict { NoLimit, Meets, Fails };
    std::string figure, measured, limit;
    Verdict withinLimit = Verdict::NoLimit;
};
std::vector<QualityRow> qualityRows(const onex::quality::Report& report);

// Bar positions: the pilot at 0, MAC index i at i, traffic Walsh channel w at 66 + w. Levels
// below `floorDb` (a channel measured as nothing) are drawn at the floor; `expectedDb` is
// NaN where the parameters set nothing (the pilot is the reference, 0 dB).
struct CodeDomainBars {
    std::vector<double> position, measuredDb, expectedDb;
    double floorDb = -40;
};
CodeDomainBars codeDomainBars(const onex::quality::Report& report, int slot);

}  // namespace ui
