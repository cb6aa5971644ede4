#pragma once
// The I/Q file a download must leave on the simulated generator, worked out here from the
// waveform alone: each part over the largest |I| or |Q|, times 32767, rounded half away from
// zero, as big-endian 16-bit words in the order I, Q.

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/array.h"

inline std::vector<std::uint8_t> expectedCorvaneIq(const host::Array& waveform) {
    const std::size_t n = waveform.numel();
    double peak = 0;
    for (std::size_t k = 0; k < n; ++k) peak = std::max({peak, std::abs(waveform.pr()[k]), std::abs(waveform.pi()[k])});
    std::vector<std::uint8_t> bytes;
    bytes.reserve(4 * n);
    auto put = [&](double v) {
        const double scaled = peak > 0 ? v / peak * 32767 : v;
        const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::trunc(scaled + (scaled >= 0 ? 0.5 : -0.5))));
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    };
    for (std::size_t k = 0; k < n; ++k) {
        put(waveform.pr()[k]);
        put(waveform.pi()[k]);
    }
    return bytes;
}
