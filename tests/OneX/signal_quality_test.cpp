// The signal-quality report on frames whose answers are known: the pilot alone reaches the
// filter's own ISI figure, channels come back at the gains they were set to, a frame off
// in time loses rho as its filter predicts, and the spectrum figures rank the filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "OneX/signal_quality.h"
#include "OneX/traffic_source.h"
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

// The cascade of the transmit chain and its matched filter at chip spacing, `offset` samples
// late: a[j] = sum over k of p[k + j OS + offset] conj(p[k]), worked out in time over the
// response's support, for j = -40 ... 40.
std::vector<Complex> cascadeAtChips(const onex::FrameInputs& in, std::size_t offset) {
    const host::ComplexVector p = q::chipResponse(in);
    const std::size_t n = p.size(), os = static_cast<std::size_t>(in.oversampling);
    std::vector<std::size_t> support;
    for (std::size_t k = 0; k < n; ++k)
        if (std::abs(p[k]) > 1e-9) support.push_back(k);
    std::vector<Complex> a;
    for (long j = -40; j <= 40; ++j) {
        const std::size_t lag = static_cast<std::size_t>((static_cast<long>(n) + j * static_cast<long>(os) + static_cast<long>(offset)) % static_cast<long>(n));
        Complex sum = 0;
        for (std::size_t k : support) sum += p[(k + lag) % n] * std::conj(p[k]);
        a.push_back(sum);
    }
    return a;
}

// rho of independent chips through a plain matched filter: the main tap's share.
double matchedFilterRho(const onex::FrameInputs& in) {
    const std::vector<Complex> a = cascadeAtChips(in, 0);
    double all = 0;
    for (Complex v : a) all += std::norm(v);
    return std::norm(a[40]) / all;
}

// rho of independent chips through the complementary receiver sampled `offset` samples
// late: the chip-rate response H = A_offset / A_0, and rho = |mean H|^2 / mean |H|^2.
double complementaryRho(const onex::FrameInputs& in, std::size_t offset) {
    const std::vector<Complex> late = cascadeAtChips(in, offset), aligned = cascadeAtChips(in, 0);
    const std::size_t m = onex::kFrameChips;
    Complex sum = 0;
    double energy = 0;
    for (std::size_t bin = 0; bin < m; bin += 4) {  // every fourth bin is plenty for a smooth response
        Complex num = 0, den = 0;
        for (long j = -40; j <= 40; ++j) {
            const Complex w = std::polar(1.0, -2 * M_PI * static_cast<double>(j) * static_cast<double>(bin) / static_cast<double>(m));
            num += late[static_cast<std::size_t>(j + 40)] * w;
            den += aligned[static_cast<std::size_t>(j + 40)] * w;
        }
        const Complex h = num / den;
        sum += h;
        energy += std::norm(h);
    }
    const double bins = static_cast<double>(m / 4);
    return std::norm(sum / bins) / (energy / bins);
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
        // The complementary receiver undoes the filter's ISI, which a matched filter alone
        // would leave.
        EXPECT_NEAR(m.report.filterIsiRho, matchedFilterRho(in), 1e-6);
        EXPECT_LT(m.report.filterIsiRho, 0.99);
        EXPECT_NEAR(m.report.overall.rho, 1, 1e-9) << static_cast<int>(filter);
        EXPECT_LT(m.report.overall.evmPercent, 1e-3);
        EXPECT_NEAR(channelDb(m.report, "pilot", 7, 0), 0, 0.05);
        EXPECT_EQ(m.report.overall.chips, onex::kFrameChips);
        EXPECT_EQ(m.report.perSlot[0].mac.chips, 0u);  // idle MAC of zeros: nothing to measure
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
    EXPECT_NEAR(channelDb(m.report, "MAC", 1, 4), -6, 0.01);
    EXPECT_NEAR(channelDb(m.report, "MAC", 3, 20), -12, 0.01);
    EXPECT_NEAR(channelDb(m.report, "MAC", 3, 21), -9, 0.01);
    for (int w : {0, 7, 15}) EXPECT_NEAR(channelDb(m.report, "traffic", 6, w), -12.04, 0.6) << w;
    for (const auto& c : m.report.codeDomain) EXPECT_NE(c.slot == 2 && c.kind == std::string("MAC"), true);
    EXPECT_GT(m.report.overall.rho, 0.95);
}

TEST(SignalQuality, AFrameOffInTimeLosesRhoAsItsFilterPredicts) {
    // Every chip busy, so that the chips are close to independent.
    onex::FrameInputs in = pilotOnly(5, onex::BasebandFilterChoice::Acp);
    for (std::size_t slot = 0; slot < onex::kFrameSlots; ++slot) {
        in.dataActive[slot] = 1;
        in.raActive[slot] = 1;
    }
    host::seedRandom(4);
    in.dataBits = host::RealVector(2 * 1600 * 16);
    for (double& b : in.dataBits) b = host::rand() < 0.5 ? 0 : 1;
    const double aligned = measure(in).report.overall.rho;
    for (std::size_t late : {1u, 2u}) {
        const double rho = measure(in, late).report.overall.rho;
        EXPECT_LT(rho, aligned - 0.01) << late;
        EXPECT_NEAR(rho, complementaryRho(in, late), 0.01) << late;
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

// The receiver reads back every packet of every DRC from the samples; one chip hit by a
// large error spoils that packet's FCS alone.
TEST(SignalQuality, EveryPacketOfEveryDrcDecodes) {
    for (int drc = 1; drc <= 12; ++drc) {
        onex::FrameInputs in = pilotOnly(2, onex::BasebandFilterChoice::Acp);
        const int mac = 5 + (11 * drc) % 59;
        const onex::Interlaces interlaces{true, drc % 2 == 0, true, drc % 3 != 0};
        const onex::ModParams mp = onex::OneX_FwdTrfChnModParams(drc);
        in.frameCount = onex::packetFrameCount(1, static_cast<std::size_t>(mp.slots));
        in.packets = onex::PacketSettings{drc, mac, interlaces};
        in.rpcChnActive.assign(16, 1);  // MAC busy beside the packets
        const onex::PacketPlan plan = onex::packetPlan(drc, in.frameCount, interlaces);
        in.dataBits = onex::GenerateBitStream(6, plan.payloadBits());
        Measured m = measure(in);
        ASSERT_EQ(m.report.packets.size(), plan.firstSlots.size()) << "DRC " << drc;
        EXPECT_EQ(m.report.goodPackets(), plan.firstSlots.size()) << "DRC " << drc;
        EXPECT_EQ(m.report.perSlot.size(), 16 * in.frameCount);
        EXPECT_NEAR(m.report.overall.rho, 1, 1e-9) << "DRC " << drc;
        for (const q::PacketResult& p : m.report.packets) {
            EXPECT_TRUE(p.preambleFound && p.repeatsMatch) << "DRC " << drc;
            EXPECT_EQ(p.macIndex, mac);
            EXPECT_EQ(p.slotNumbers.size(), plan.slotsPerPacket);
            EXPECT_NEAR(p.data.rho, 1, 1e-9) << "DRC " << drc;
            EXPECT_EQ(p.data.chips, plan.slotsPerPacket * onex::kSlotDataChips);
        }
        EXPECT_EQ(m.report.packets[1].slotNumbers[0], static_cast<int>(plan.firstSlots[1]) + 1);

        // The first traffic chip of the second packet.
        const std::size_t slot = plan.firstSlots[1];
        const std::size_t chip = slot * onex::kSlotChips + onex::slot::dataChipPosition(static_cast<std::size_t>(mp.preambleTDMChips));
        const onex::ChipFrame sent = m.chips;
        m.chips.chips[chip] += Complex(4, 4);
        const host::ComplexVector hit = onex::finishFrame(m.chips, in).waveform;
        const q::Report report = q::analyzeFrame(hit, m.chips, in);
        EXPECT_EQ(report.goodPackets(), plan.firstSlots.size() - 1) << "DRC " << drc;
        EXPECT_FALSE(report.packets[1].fcsGood) << "DRC " << drc;
        // Measured against the chips meant, its rho shows the error; the others' do not.
        const q::Report against = q::analyzeFrame(hit, sent, in);
        EXPECT_LT(against.packets[1].data.rho, 0.9999) << "DRC " << drc;
        EXPECT_NEAR(against.packets[0].data.rho, 1, 1e-9) << "DRC " << drc;
    }
}
