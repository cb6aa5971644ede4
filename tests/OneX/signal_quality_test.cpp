// The signal-quality report on frames whose answers are known: the pilot alone reaches the
// filter's own ISI figure, channels come back at the gains they were set to, a frame off
// in time loses rho as its filter predicts, and the spectrum figures rank the filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "OneX/signal_quality.h"
#include "host/random.h"
#include "host/records.h"

namespace q = onex::quality;
using host::Complex;

namespace {

onex::FrameInputs pilotOnly(int os, onex::BasebandFilterChoice filter) {
    onex::FrameInputs in;
    in.idleSlotGainActive = 0;
    in.oversampling = os;
    in.filter = filter;
    return in;
}

struct Measured {
    onex::ChipFrame chips;
    host::ComplexVector waveform;
    q::Report report;
};

Measured measure(const onex::FrameInputs& in, std::size_t rotateBy = 0) {
    host::record("parameters") = onex::defaultParameters();  // the equaliser's filter choice
    Measured m{onex::buildChipFrame(in), {}, {}};
    m.waveform = onex::finishFrame(m.chips, in).waveform;
    std::rotate(m.waveform.begin(), m.waveform.begin() + static_cast<std::ptrdiff_t>(rotateBy), m.waveform.end());
    m.report = q::analyzeFrame(m.waveform, m.chips, in);
    return m;
}

// rho of independent chips through the chain and its matched filter sampled `offset`
// samples late, from the cascade's response at those instants, worked out in time.
double predictedRho(const onex::FrameInputs& in, std::size_t offset) {
    const host::ComplexVector p = q::chipResponse(in);
    const std::size_t n = p.size(), os = static_cast<std::size_t>(in.oversampling);
    std::vector<std::size_t> support;
    for (std::size_t k = 0; k < n; ++k)
        if (std::abs(p[k]) > 1e-9) support.push_back(k);
    // The cascade at lag l: sum over k of p[k + l] conj(p[k]), circularly.
    auto cascade = [&](std::size_t lag) {
        Complex sum = 0;
        for (std::size_t k : support) sum += p[(k + lag) % n] * std::conj(p[k]);
        return sum;
    };
    double main = 0, all = 0;
    for (std::size_t j = 0; j < onex::kFrameChips; ++j) {
        const std::size_t lag = (j * os + offset) % n;
        // only lags the response can reach are worth the sum
        const bool near = lag < 40 * os || lag > n - 40 * os;
        if (!near) continue;
        const double c = std::norm(cascade(lag));
        all += c;
        if (j == 0) main = c;
    }
    return main / all;
}

double channelDb(const q::Report& r, const char* kind, int slot, int index) {
    for (const auto& c : r.codeDomain)
        if (c.kind == kind && c.slot == slot && c.index == index) return c.measuredDb;
    ADD_FAILURE() << "no " << kind << " " << index << " in slot " << slot;
    return 0;
}

}  // namespace

TEST(SignalQuality, ThePilotAloneReachesTheFiltersOwnIsi) {
    for (const auto filter : {onex::BasebandFilterChoice::Acp, onex::BasebandFilterChoice::Standard}) {
        const onex::FrameInputs in = pilotOnly(5, filter);
        const Measured m = measure(in);
        const double predicted = predictedRho(in, 0);
        EXPECT_NEAR(m.report.idealRho, predicted, 1e-6);
        EXPECT_GT(m.report.idealRho, 0.95);
        // The pilot bursts stand among zeros: their ISI is that of random chips to within
        // the edges of the bursts.
        EXPECT_NEAR(m.report.overall.rho, predicted, 0.01) << static_cast<int>(filter);
        EXPECT_NEAR(channelDb(m.report, "pilot", 7, 0), 0, 0.05);
        EXPECT_EQ(m.report.overall.chips, onex::kFrameChips);
        EXPECT_EQ(m.report.slots[0].mac.chips, 0u);  // idle MAC of zeros: nothing to measure
    }
    // The EVM choice passes the chips untouched: the ideal frame is exact.
    const Measured evm = measure(pilotOnly(4, onex::BasebandFilterChoice::Evm));
    EXPECT_NEAR(evm.report.overall.rho, 1, 1e-9);
}

TEST(SignalQuality, ChannelsComeBackAtTheirGains) {
    onex::FrameInputs in = pilotOnly(8, onex::BasebandFilterChoice::Acp);
    in.raActive[0] = 1;
    in.raGain[0] = -6;
    in.rpcChnActive[2] = 1;
    in.rpcActive(2, 15) = 1;  // MAC index 20
    in.rpcGains(2, 15) = -12;
    in.rpcActive(2, 16) = 1;  // MAC index 21, quadrature
    in.rpcGains(2, 16) = -9;
    in.rpcBits(2, 16) = 0;
    in.dataActive[5] = 1;
    in.dataFormat[5] = 3;
    host::seedRandom(3);
    in.dataBits = host::RealVector(4 * 1600 * 16);
    for (double& b : in.dataBits) b = host::rand() < 0.5 ? 0 : 1;
    const Measured m = measure(in);
    EXPECT_NEAR(channelDb(m.report, "MAC", 1, 4), -6, 0.3);
    EXPECT_NEAR(channelDb(m.report, "MAC", 3, 20), -12, 0.3);
    EXPECT_NEAR(channelDb(m.report, "MAC", 3, 21), -9, 0.3);
    for (int w : {0, 7, 15}) EXPECT_NEAR(channelDb(m.report, "traffic", 6, w), -12.04, 0.6) << w;
    for (const auto& c : m.report.codeDomain) EXPECT_NE(c.slot == 2 && c.kind == std::string("MAC"), true);
    EXPECT_GT(m.report.overall.rho, 0.95);
}

TEST(SignalQuality, AFrameOffInTimeLosesRhoAsItsFilterPredicts) {
    const onex::FrameInputs in = pilotOnly(5, onex::BasebandFilterChoice::Acp);
    const double aligned = measure(in).report.overall.rho;
    for (std::size_t late : {1u, 2u}) {
        const double rho = measure(in, late).report.overall.rho;
        EXPECT_LT(rho, aligned - 0.01) << late;
        EXPECT_NEAR(rho, predictedRho(in, late), 0.01) << late;
    }
}

TEST(SignalQuality, SpectrumFiguresRankTheFilters) {
    const q::Report acp = measure(pilotOnly(8, onex::BasebandFilterChoice::Acp)).report;
    const q::Report rect = measure(pilotOnly(8, onex::BasebandFilterChoice::Rectangular)).report;
    EXPECT_LT(acp.adjacent[0].lowerDbc, q::kAclr885LimitDbc);
    EXPECT_LT(acp.adjacent[0].upperDbc, q::kAclr885LimitDbc);
    EXPECT_GT(rect.adjacent[0].upperDbc, acp.adjacent[0].upperDbc + 10);
    EXPECT_GT(acp.occupiedBandwidthHz, 1.0e6);
    EXPECT_LT(acp.occupiedBandwidthHz, 1.3e6);
    EXPECT_GT(rect.occupiedBandwidthHz, acp.occupiedBandwidthHz);
    EXPECT_LT(acp.ccdf1, acp.ccdf01);
    EXPECT_LT(acp.ccdf01, acp.ccdf001);
    EXPECT_LE(acp.ccdf001, acp.peakToAverageDb);
    // At two samples per chip the 1.98 MHz offset lies beyond the band.
    const q::Report narrow = measure(pilotOnly(2, onex::BasebandFilterChoice::Acp)).report;
    EXPECT_TRUE(std::isnan(narrow.adjacent[1].upperDbc));
    EXPECT_FALSE(std::isnan(narrow.adjacent[0].upperDbc));
}
