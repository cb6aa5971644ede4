#pragma once
// The bytes a download must leave on a signal generator, worked out here independently of
// the extension, as the models define them: Corvane, each part over the largest |I| or |Q|
// (when normalising), times gain times 32767, rounded half away from zero, limited to 16 bits,
// big-endian words in the order I, Q; Pellar, one file per part, the part over the peak times
// gain times 8191, rounded, limited to +-8191, offset by 8191, with marker bits 14 and 15.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "host/array.h"

namespace reference {

inline double peakOf(std::span<const double> i, std::span<const double> q) {
    double peak = 0;
    for (std::size_t j = 0; j < i.size(); ++j) peak = std::max({peak, std::fabs(i[j]), std::fabs(q[j])});
    return peak;
}

inline void putWord(std::vector<std::uint8_t>& out, unsigned word) {
    out.push_back(static_cast<std::uint8_t>((word >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
}

inline std::vector<std::uint8_t> corvaneIq(std::span<const double> i, std::span<const double> q, double gain = 1, bool normalize = true) {
    const double peak = normalize ? peakOf(i, q) : 0;
    std::vector<std::uint8_t> out;
    out.reserve(4 * i.size());
    for (std::size_t j = 0; j < i.size(); ++j)
        for (double v : {i[j], q[j]}) {
            if (peak > 0) v /= peak;
            const long word = std::clamp(std::lround(gain * 32767 * v), -32768L, 32767L);
            putWord(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(word)));
        }
    return out;
}

// The I/Q file of a complex row waveform (a frame as the application holds it).
inline std::vector<std::uint8_t> corvaneIq(const host::Array& waveform) {
    const std::span<const double> i(waveform.pr(), waveform.numel()), q(waveform.pi(), waveform.numel());
    return corvaneIq(i, q);
}

// One Pellar file: `part` over `peak`; `high` holds each sample's marker bits (1: bit 14,
// 2: bit 15), or is empty for the file without markers.
inline std::vector<std::uint8_t> pellarPart(std::span<const double> part, double gain, double peak, std::span<const int> high = {}) {
    std::vector<std::uint8_t> out;
    out.reserve(2 * part.size());
    for (std::size_t j = 0; j < part.size(); ++j) {
        const double v = peak > 0 ? part[j] / peak : part[j];
        unsigned word = static_cast<unsigned>(std::clamp(std::lround(v * gain * 8191), -8191L, 8191L) + 8191);
        if (!high.empty()) word |= static_cast<unsigned>(high[j]) << 14;
        putWord(out, word);
    }
    return out;
}

}  // namespace reference
