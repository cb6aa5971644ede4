#include "OneX/packet_receiver.h"

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "OneX/packets.h"
#include "OneX/scrambler_interleaver.h"
#include "OneX/traffic_modulation.h"
#include "OneX/traffic_source.h"
#include "OneX/turbo_encoder.h"
#include "host/error.h"

namespace onex {

namespace {

constexpr std::size_t kWalsh = 16;

double walsh(std::size_t row, std::size_t column) { return (std::popcount(row & column) & 1) ? -1.0 : 1.0; }

// The MAC index of the preamble the chips match best, and whether they match it clearly
// (the correlation at least half of what an undisturbed preamble gives).
std::pair<int, bool> preambleIndex(std::span<const Complex> chips) {
    constexpr std::size_t kLength = 64;
    std::array<double, kLength> correlation{};
    for (std::size_t row = 0; row < kLength; ++row)
        for (std::size_t c = 0; c < chips.size(); ++c) correlation[row] += walsh(row, c % kLength) * chips[c].real();
    std::size_t best = 0;
    for (std::size_t row = 1; row < kLength; ++row)
        if (std::abs(correlation[row]) > std::abs(correlation[best])) best = row;
    const int index = static_cast<int>(2 * best) + (correlation[best] < 0 ? 1 : 0);
    return {index, std::abs(correlation[best]) >= 0.5 * static_cast<double>(chips.size())};
}

// The symbols under the 16 Walsh covers, group by group (the inverse of cover and sum).
std::vector<Complex> uncover(std::span<const Complex> chips) {
    std::vector<Complex> symbols(chips.size() / kWalsh * kWalsh);
    for (std::size_t g = 0; g < chips.size() / kWalsh; ++g)
        for (std::size_t w = 0; w < kWalsh; ++w) {
            Complex s = 0;
            for (std::size_t c = 0; c < kWalsh; ++c) s += walsh(w, c) * chips[g * kWalsh + c];
            symbols[g * kWalsh + w] = s / 4.0;
        }
    return symbols;
}

// Nearest-point decisions against the modulator's own constellation.
class Slicer {
public:
    explicit Slicer(double format) : bits_(static_cast<std::size_t>(onex::bitsPerSymbol(format, "checkPacket"))) {
        for (unsigned pattern = 0; pattern < (1u << bits_); ++pattern) {
            double group[4];
            for (std::size_t k = 0; k < bits_; ++k) group[k] = (pattern >> (bits_ - 1 - k)) & 1;
            points_.push_back(OneX_IQmap(group, bits_, format));
        }
    }
    std::size_t symbolBits() const { return bits_; }
    // The bit pattern (first bit highest) of the nearest point.
    unsigned decide(Complex s) const {
        unsigned best = 0;
        double nearest = std::numeric_limits<double>::infinity();
        for (unsigned p = 0; p < points_.size(); ++p)
            if (const double d = std::norm(s - points_[p]); d < nearest) {
                nearest = d;
                best = p;
            }
        return best;
    }

private:
    std::size_t bits_;
    std::vector<Complex> points_;
};

}  // namespace

PacketCheck checkPacket(std::span<const Complex> dataChips, const ModParams& mp, int macIndex) {
    const auto preamble = static_cast<std::size_t>(mp.preambleTDMChips);
    const auto traffic = static_cast<std::size_t>(mp.dataTDMChips);
    if (dataChips.size() != preamble + traffic)
        throw host::Error("checkPacket: a packet at DRC " + std::to_string(static_cast<int>(mp.drcValue)) + " has " +
                          std::to_string(preamble + traffic) + " data chips, not " + std::to_string(dataChips.size()) + ".");
    PacketCheck check;
    std::tie(check.preambleMacIndex, check.preambleFound) = preambleIndex(dataChips.first(preamble));
    check.preambleFound = check.preambleFound && check.preambleMacIndex == macIndex;

    const std::vector<Complex> symbols = uncover(dataChips.subspan(preamble));
    const Slicer slicer(mp.modulationType);
    const auto provided = static_cast<std::size_t>(mp.modulationSymbolsProvided);
    std::vector<unsigned> decided(symbols.size());
    for (std::size_t k = 0; k < symbols.size(); ++k) decided[k] = slicer.decide(symbols[k]);
    check.repeatsMatch = true;
    for (std::size_t k = provided; k < decided.size(); ++k) check.repeatsMatch = check.repeatsMatch && decided[k] == decided[k % provided];

    // The systematic block: the first `bits` interleaved code bits. Where each came from in
    // the encoder's output follows from sending the positions themselves through the
    // block's permutation; the encoder's output interleaves the streams symbol by symbol.
    const auto bits = static_cast<std::size_t>(mp.bits);
    const std::size_t streams = mp.codeRate == 0.2 ? 5 : 3;
    const std::size_t k = bits == 1024 || bits == 2048 ? 2 : bits / 1024, m = bits / k;
    RealVector positions(bits);
    std::iota(positions.begin(), positions.end(), 0.0);
    const RealVector origin = OneX_FwdSymbolPermuter(positions, k, m, 'U');
    const std::size_t b = slicer.symbolBits();
    if (bits > decided.size() * b) return check;  // not sent whole: cannot be read
    const RealVector scrambling = scramblingSequence(bits * streams, mp.drcValue, macIndex);
    const std::size_t dataBits = bits - kPacketTailBits;
    RealVector packet(dataBits);
    for (std::size_t j = 0; j < bits; ++j) {
        const auto i = static_cast<std::size_t>(origin[j]);  // systematic bit i of the packet
        if (i >= dataBits) continue;                          // a tail symbol
        const unsigned bit = (decided[j / b] >> (b - 1 - j % b)) & 1;
        packet[i] = bit ^ static_cast<unsigned>(scrambling[i * streams]);
    }
    std::uint16_t sent = 0;
    for (std::size_t i = dataBits - kFcsBits; i < dataBits; ++i) sent = static_cast<std::uint16_t>(sent << 1 | static_cast<unsigned>(packet[i]));
    check.fcsGood = packetFcs(packet.data(), dataBits - kFcsBits) == sent;
    return check;
}

}  // namespace onex
