#include "OneX/signal_quality.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "OneX/packet_receiver.h"
#include "OneX/parameters.h"
#include "OneX/phase_equaliser.h"
#include "OneX/pn_spreading.h"
#include "OneX/traffic_source.h"
#include "OneX/slot_layout.h"
#include "host/error.h"
#include "host/fft.h"
#include "host/sample_allocator.h"

namespace onex::quality {

namespace {

using host::Complex;
using host::ComplexVector;
using host::fft::Direction;
using host::fft::FftBuffer;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kOff = -std::numeric_limits<double>::infinity();

// Where a chip of a slot sits, by the frame builder's own slot layout.
using Region = slot::Part;
constexpr Region regionOf(std::size_t chipInSlot) { return slot::partAt(chipInSlot); }
using slot::dataChipPosition;
using slot::kMacBurstStart;
using slot::kPilotBurstStart;
constexpr std::size_t kMacBurst = slot::kMacBurst, kPilotBurst = slot::kPilotChips;

// Sylvester-order Walsh function `row` at `column`.
double walsh(std::size_t row, std::size_t column) { return (std::popcount(row & column) & 1) ? -1.0 : 1.0; }

double dB(double power) { return power > 0 ? 10 * std::log10(power) : kOff; }

struct Sums {
    double ss = 0, zz = 0;
    Complex sz = 0;
    std::size_t chips = 0;
    void add(Complex s, Complex z) {
        ss += std::norm(s);
        zz += std::norm(z);
        sz += std::conj(s) * z;
        ++chips;
    }
    Fidelity fidelity() const {
        if (ss <= 0 || zz <= 0) return {};
        const double rho = std::norm(sz) / (ss * zz);
        return {rho, 100 * std::sqrt(std::max(0.0, 1 / rho - 1)), chips};
    }
};


// Power in the band [low, high] Hz of a periodogram whose bin M is at frequency(M).
template <class Powers, class Frequency>
double bandPower(const Powers& power, Frequency frequency, double low, double high) {
    double sum = 0;
    for (std::size_t m = 0; m < power.size(); ++m) {
        const double f = frequency(m);
        if (f >= low && f <= high) sum += power[m];
    }
    return sum;
}

}  // namespace

std::size_t Report::goodPackets() const {
    return static_cast<std::size_t>(std::count_if(packets.begin(), packets.end(), [](const PacketResult& p) { return p.fcsGood; }));
}

ComplexVector chipResponse(const FrameInputs& in) {
    ComplexVector impulse(in.frameCount * kFrameChips, Complex(0, 0));
    impulse[0] = 1;
    ComplexVector p = basebandFilterChips(impulse, in.oversampling, in.filter);
    if (in.phaseEqActive) fwdPhaseEqInPlace(p, in.oversampling);
    return p;
}

std::vector<std::uint8_t> deterministicChips(const FrameInputs& in) {
    std::vector<std::uint8_t> known(in.frameCount * kFrameChips, 1);
    if (in.mode != FrameMode::FullChannel || in.idleSlotGainActive == 0) return known;
    const std::vector<SlotUse> uses = slotUses(in, packetPlanOf(in));
    for (std::size_t slot = 0; slot < uses.size(); ++slot)
        for (std::size_t c = 0; c < kSlotChips; ++c) {
            const Region r = regionOf(c);
            if ((r == Region::Mac && uses[slot].macIdle) || (r == Region::Data && uses[slot].dataIdle)) known[slot * kSlotChips + c] = 0;
        }
    return known;
}

namespace {

using PowerVector = std::vector<double, host::SampleAllocator<double>>;

void checkLengths(const ComplexVector& waveform, const ChipFrame& reference, const FrameInputs& in, const std::vector<std::uint8_t>& known) {
    if (in.oversampling < 1) throw host::Error("analyze: the oversampling must be at least 1.");
    const auto os = static_cast<std::size_t>(in.oversampling);
    const std::size_t frames = in.frameCount, chips = frames * kFrameChips, n = chips * os;
    if (waveform.size() != n)
        throw host::Error("analyze: the waveform holds " + std::to_string(waveform.size()) + " samples; " +
                          (frames == 1 ? std::string("a frame") : std::to_string(frames) + " frames") + " at oversampling " +
                          std::to_string(os) + " hold" + (frames == 1 ? "s " : " ") + std::to_string(n) + ".");
    if (reference.chips.size() != chips) throw host::Error("analyze: the reference chips are not as long as the waveform's frames.");
    if (!known.empty() && known.size() != chips) throw host::Error("analyze: the known-chip mask is not as long as the waveform's frames.");
}

// What the receiver takes from the samples: the chips at the chip instants, the rho a
// perfect frame would have through the matched filter alone, and the power of each bin of
// the received spectrum.
struct Received {
    explicit Received(std::size_t chipCount) : chips(chipCount) {}
    FftBuffer chips;  // an FFT buffer, made in place: it neither copies nor moves
    double filterIsiRho = 0;
    PowerVector binPower;
};

// The complementary receive filter and chip-instant sampling in one step. Folding a spectrum
// to the chip rate gives the spectrum of every OS-th sample; dividing the folded
// matched-filter output by the folded |P|^2 makes the cascade free of ISI at the chip
// instants (P never vanishes there: its folded power stays well above zero for every filter
// choice). The chips then come out as they were sent.
void matchedFilterChips(const ComplexVector& waveform, const FrameInputs& in, bool conjugated, Received& got) {
    const std::size_t n = waveform.size(), chips = in.frameCount * kFrameChips;
    // The received spectrum (the conjugation undone) and the transmit chain's response.
    FftBuffer r(n), rSpectrum(n), pSpectrum(n);
    for (std::size_t k = 0; k < n; ++k) r.data()[k] = conjugated ? std::conj(waveform[k]) : waveform[k];
    const auto forward = host::fft::plan(n, Direction::Forward);
    forward->run(r.data(), rSpectrum.data());
    {
        const ComplexVector p = chipResponse(in);
        std::copy(p.begin(), p.end(), r.begin());
        forward->run(r.data(), pSpectrum.data());
    }

    FftBuffer zFolded(chips), cFolded(chips), c(chips);
    std::fill(zFolded.begin(), zFolded.end(), Complex(0, 0));
    std::fill(cFolded.begin(), cFolded.end(), Complex(0, 0));
    // Written whole below, then reused for the samples' powers: no clearing, no fresh pages.
    {
        const host::SkipZeroFill unwritten;
        got.binPower.resize(n);
    }
    for (std::size_t m = 0; m < n; ++m) {
        const Complex pm = pSpectrum[m];
        zFolded.data()[m % chips] += rSpectrum[m] * std::conj(pm);
        cFolded.data()[m % chips] += std::norm(pm);
        got.binPower[m] = std::norm(rSpectrum[m]);
    }
    for (std::size_t m = 0; m < chips; ++m) zFolded.data()[m] /= cFolded[m].real() > 0 ? cFolded[m].real() : 1.0;
    const auto backward = host::fft::plan(chips, Direction::Backward);
    backward->run(zFolded.data(), got.chips.data());
    backward->run(cFolded.data(), c.data());
    for (Complex& v : got.chips) v /= static_cast<double>(chips);

    // The filter's own ISI: rho of a perfect frame of independent chips through a plain
    // matched filter.
    double isi = 0;
    for (std::size_t j = 0; j < chips; ++j) isi += std::norm(c[j]);
    got.filterIsiRho = isi > 0 ? std::norm(c[0]) / isi : 0;
}

// The ideal chips and what came: the reference spread with the frame's PN, beside the
// received chips; `known` leaves out the chips of noise drawn elsewhere.
struct Chips {
    const ChipFrame& reference;
    const ComplexVector& pn;
    const FftBuffer& received;
    const std::vector<std::uint8_t>& known;
    bool usable(std::size_t k) const { return known.empty() || known[k]; }
    Complex ideal(std::size_t k) const { return reference.chips[k] * pn[k]; }
};

// rho and EVM, overall, per slot and per burst kind; the sums over every pilot chip are the
// code domain's reference.
Sums measureFidelity(Report& report, const Chips& c, std::size_t slotCount) {
    Sums overall, pilotAll;
    report.perSlot.resize(slotCount);
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        Sums all, pilot, mac;
        for (std::size_t ch = 0; ch < kSlotChips; ++ch) {
            const std::size_t k = slot * kSlotChips + ch;
            if (!c.usable(k)) continue;
            const Complex s = c.ideal(k), zk = c.received[k];
            all.add(s, zk);
            overall.add(s, zk);
            const Region region = regionOf(ch);
            if (region == Region::Pilot) {
                pilot.add(s, zk);
                pilotAll.add(s, zk);
            } else if (region == Region::Mac) {
                mac.add(s, zk);
            }
        }
        report.perSlot[slot] = {all.fidelity(), pilot.fidelity(), mac.fidelity()};
    }
    report.overall = overall.fidelity();
    return pilotAll;
}

// The frequencies of the bins of an n-point spectrum, as transmitted (a conjugated frame has
// its spectrum mirrored).
struct SpectrumAxis {
    std::size_t n;
    double binHz;
    bool conjugated;
    double operator()(std::size_t m) const {
        const double f = (m < (n + 1) / 2 ? static_cast<double>(m) : static_cast<double>(m) - static_cast<double>(n)) * binHz;
        return conjugated ? -f : f;
    }
};

// The in-channel power and the leakage into 30 kHz at each offset, lower and upper.
void measureLeakage(Report& report, const PowerVector& power, const SpectrumAxis& frequency) {
    const double inChannel = bandPower(power, frequency, -kInChannelHz / 2, kInChannelHz / 2);
    for (const auto& [offset, limit] : {std::pair{885e3, kAclr885LimitDbc}, std::pair{1.98e6, kAclr198LimitDbc}}) {
        AdjacentChannel a{offset, kNaN, kNaN, limit};
        if (offset + kAclrBandHz / 2 < report.sampleRate / 2 && inChannel > 0) {
            a.lowerDbc = 10 * std::log10(bandPower(power, frequency, -offset - kAclrBandHz / 2, -offset + kAclrBandHz / 2) / inChannel);
            a.upperDbc = 10 * std::log10(bandPower(power, frequency, offset - kAclrBandHz / 2, offset + kAclrBandHz / 2) / inChannel);
        }
        report.adjacent.push_back(a);
    }
}

// 99 % of the power between the 0.5 % points from either end, walked in frequency order.
double occupiedBandwidth(const PowerVector& power, const SpectrumAxis& frequency) {
    const std::size_t n = frequency.n;
    double total = 0;
    for (double p : power) total += p;
    // Bins in rising frequency: the negative half, then zero and the positive half; a
    // conjugated frame runs the other way.
    const std::size_t firstNegative = (n + 1) / 2;
    auto binAt = [&](std::size_t i) {
        const std::size_t rising = i < n - firstNegative ? firstNegative + i : i - (n - firstNegative);
        return frequency.conjugated ? (n - rising) % n : rising;
    };
    double low = 0, high = 0, run = 0;
    bool lowFound = false;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t m = binAt(i);
        run += power[m];
        if (!lowFound && run >= 0.005 * total) {
            low = frequency(m);
            lowFound = true;
        }
        if (run >= 0.995 * total) {
            high = frequency(m);
            break;
        }
    }
    return total > 0 ? high - low + frequency.binHz : 0;
}

// Peak to average and the CCDF points, on the samples' instantaneous power (in `p`, whose
// spectrum powers are no longer needed). The rarer levels lie above the commoner ones, so
// each search narrows to the part above the last.
void measureCcdf(Report& report, const ComplexVector& waveform, PowerVector& p) {
    const std::size_t n = waveform.size();
    double mean = 0, peak = 0;
    for (std::size_t k = 0; k < n; ++k) {
        p[k] = std::norm(waveform[k]);
        mean += p[k];
        peak = std::max(peak, p[k]);
    }
    mean /= static_cast<double>(n);
    auto from = p.begin();
    auto exceededBy = [&](double fraction) {
        const auto at = p.begin() + static_cast<std::ptrdiff_t>(std::min<double>(std::floor((1 - fraction) * static_cast<double>(n)),
                                                                                  static_cast<double>(n - 1)));
        std::nth_element(from, at, p.end());
        from = at;
        return dB(*at / mean);
    };
    if (mean > 0) {
        report.peakToAverageDb = dB(peak / mean);
        report.ccdf1 = exceededBy(0.01);
        report.ccdf01 = exceededBy(0.001);
        report.ccdf001 = exceededBy(0.0001);
    }
}

// A received chip despread and scaled so that the pilot chips come out as 1.
struct Despreader {
    const Chips& c;
    Complex gain;
    Complex operator()(std::size_t k) const { return c.received[k] / gain * std::conj(c.pn[k]) / 2.0; }
};

// The code-domain power of the pilot, every MAC index the parameters set and the traffic
// Walsh channels of every slot, relative to the pilot, beside what was set.
void measureCodeDomain(Report& report, const FrameInputs& in, const Despreader& despread, const std::vector<SlotUse>& uses,
                       const ModParams& packetParams) {
    for (std::size_t slot = 0; slot < uses.size(); ++slot) {
        const std::size_t base = slot * kSlotChips;
        const std::size_t k = slot % kFrameSlots;  // the row of the slot pattern
        const int slotNumber = static_cast<int>(slot) + 1;
        Complex pilotSum = 0;
        for (std::size_t start : kPilotBurstStart)
            for (std::size_t ch = 0; ch < kPilotBurst; ++ch) pilotSum += despread(base + start + ch);
        report.codeDomain.push_back({"pilot", slotNumber, 0, dB(std::norm(pilotSum / double(2 * kPilotBurst))), 0});
        if (!uses[slot].macIdle) {
            for (int index = 4; index < 64; ++index) {
                const double expected = index == 4 ? (in.raActive[k] != 0 ? in.raGain[k] : kOff)
                                        : (in.rpcChnActive[k] != 0 && in.rpcActive(k, static_cast<std::size_t>(index - 5)) != 0)
                                            ? in.rpcGains(k, static_cast<std::size_t>(index - 5))
                                            : kOff;
                if (expected == kOff) continue;
                const std::size_t code = 32 * static_cast<std::size_t>(index % 2) + static_cast<std::size_t>(index / 2);
                double burstPower = 0;
                for (std::size_t start : kMacBurstStart) {
                    double amplitude = 0;
                    for (std::size_t ch = 0; ch < kMacBurst; ++ch) {
                        const Complex d = despread(base + start + ch);
                        amplitude += walsh(code, ch) * (index % 2 == 0 ? d.real() : d.imag());
                    }
                    burstPower += std::pow(amplitude / double(kMacBurst), 2);
                }
                report.codeDomain.push_back({"MAC", slotNumber, index, dB(burstPower / 4), expected});
            }
        }
        if (!uses[slot].dataIdle) {
            // A packet's first slot opens with the preamble, which no traffic Walsh channel carries.
            const std::size_t first =
                uses[slot].packet != kNoPacket && uses[slot].packetSlot == 0 ? static_cast<std::size_t>(packetParams.preambleTDMChips) : 0;
            double channelPower[16] = {};
            const std::size_t groups = (kSlotDataChips - first) / 16;
            for (std::size_t g = 0; g < groups; ++g)
                for (std::size_t w = 0; w < 16; ++w) {
                    Complex s = 0;
                    for (std::size_t ch = 0; ch < 16; ++ch) s += walsh(w, ch) * despread(base + dataChipPosition(first + 16 * g + ch));
                    channelPower[w] += std::norm(s / 4.0) / 16;
                }
            for (std::size_t w = 0; w < 16; ++w)
                report.codeDomain.push_back({"traffic", slotNumber, static_cast<int>(w), dB(channelPower[w] / double(groups)), dB(1.0 / 16)});
        }
    }
}

// The packets, read back from their data chips as a terminal would, each with the rho of
// its data chips.
void decodePackets(Report& report, const FrameInputs& in, const PacketPlan& plan, const ModParams& packetParams,
                   const Despreader& despread) {
    const Chips& c = despread.c;
    report.packetMode = true;
    ComplexVector dataChips(plan.slotsPerPacket * kSlotDataChips);
    for (std::size_t p = 0; p < plan.firstSlots.size(); ++p) {
        PacketResult result;
        result.drc = plan.drc;
        result.macIndex = in.packets->macIndex;
        Sums data;
        for (std::size_t t = 0; t < plan.slotsPerPacket; ++t) {
            const std::size_t slot = plan.firstSlots[p] + kInterlaces * t;
            result.slotNumbers.push_back(static_cast<int>(slot) + 1);
            for (std::size_t d = 0; d < kSlotDataChips; ++d) {
                const std::size_t k = slot * kSlotChips + dataChipPosition(d);
                dataChips[t * kSlotDataChips + d] = despread(k);
                if (c.usable(k)) data.add(c.ideal(k), c.received[k]);
            }
        }
        result.data = data.fidelity();
        const PacketCheck check = checkPacket(dataChips, packetParams, result.macIndex);
        result.preambleFound = check.preambleFound;
        result.repeatsMatch = check.repeatsMatch;
        result.fcsGood = check.fcsGood;
        report.packets.push_back(std::move(result));
    }
}

}  // namespace

Report analyzeFrame(const ComplexVector& waveform, const ChipFrame& reference, const FrameInputs& in,
                    const std::vector<std::uint8_t>& known) {
    checkLengths(waveform, reference, in, known);
    const std::size_t chips = in.frameCount * kFrameChips, n = waveform.size();
    Report report;
    report.frames = in.frameCount;
    report.oversampling = in.oversampling;
    report.sampleRate = kChipRate * static_cast<double>(in.oversampling);
    const bool conjugated = !in.mirrorSpectrum;

    Received received(chips);
    matchedFilterChips(waveform, in, conjugated, received);
    report.filterIsiRho = received.filterIsiRho;
    ComplexVector ones(chips, Complex(1, 0)), pn;
    quadSpread(ones.data(), ones.size(), in.pilotOffsetIndex, pn);
    const Chips c{reference, pn, received.chips, known};
    const Sums pilotAll = measureFidelity(report, c, in.frameCount * kFrameSlots);

    const SpectrumAxis frequency{n, report.sampleRate / static_cast<double>(n), conjugated};
    measureLeakage(report, received.binPower, frequency);
    report.occupiedBandwidthHz = occupiedBandwidth(received.binPower, frequency);
    measureCcdf(report, waveform, received.binPower);

    if (in.mode != FrameMode::FullChannel || pilotAll.ss <= 0) return report;
    const Despreader despread{c, pilotAll.sz / pilotAll.ss};
    const std::optional<PacketPlan> plan = packetPlanOf(in);
    const ModParams packetParams = OneX_FwdTrfChnModParams(plan ? plan->drc : 1);
    measureCodeDomain(report, in, despread, slotUses(in, plan), packetParams);
    if (plan) decodePackets(report, in, *plan, packetParams, despread);
    return report;
}

}  // namespace onex::quality
