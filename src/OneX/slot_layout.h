#pragma once
// Where the parts of a forward-link slot sit: 2048 chips of data (1600 in three pieces), MAC
// (256 in four bursts of 64) and pilot (two bursts of 96), and the RF-blanking patterns
// that follow from it. The frame builder places chips by it, the signal-quality receiver
// reads them back by it, and the tests check against it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace onex::slot {

inline constexpr std::size_t kChips = 2048;
inline constexpr std::size_t kDataChips = 1600;
inline constexpr std::size_t kMacChips = 256;
inline constexpr std::size_t kPilotChips = 96;  // per burst; both bursts carry the same chips
inline constexpr std::size_t kMacBurst = 64;
inline constexpr std::size_t kBlankingMargin = 4;  // chips of each transmitted burst kept on around it

enum class Part { Data, Mac, Pilot };

// One run of chips of a part: its first chip in the slot, its length, and where it starts
// in its part's own order (data chip 400 is the first of the middle piece).
struct Segment {
    Part part;
    std::size_t start, length, partOffset;
};

// Data 1-400, MAC 1-64, pilot, MAC 65-128, data 401-1200, MAC 129-192, pilot, MAC 193-256,
// data 1201-1600.
inline constexpr std::array<Segment, 9> kSegments = {{
    {Part::Data, 0, 400, 0},
    {Part::Mac, 400, 64, 0},
    {Part::Pilot, 464, 96, 0},
    {Part::Mac, 560, 64, 64},
    {Part::Data, 624, 800, 400},
    {Part::Mac, 1424, 64, 128},
    {Part::Pilot, 1488, 96, 0},
    {Part::Mac, 1584, 64, 192},
    {Part::Data, 1648, 400, 1200},
}};

inline constexpr std::array<std::size_t, 4> kMacBurstStart = {400, 560, 1424, 1584};
inline constexpr std::array<std::size_t, 2> kPilotBurstStart = {464, 1488};

// The slot position (0-based) of data chip d (0 ... 1599) and of MAC chip m (0 ... 255).
constexpr std::size_t dataChipPosition(std::size_t d) { return d < 400 ? d : d < 1200 ? d + 224 : d + 448; }
constexpr std::size_t macChipPosition(std::size_t m) { return kMacBurstStart[m / kMacBurst] + m % kMacBurst; }

// The part a slot position belongs to.
constexpr Part partAt(std::size_t chip) {
    for (const Segment& s : kSegments)
        if (chip >= s.start && chip < s.start + s.length) return s.part;
    return Part::Data;
}

// RF-blanking patterns of a slot, 1 where the frame transmits: data idle, MAC idle, both.
// A transmitted burst keeps kBlankingMargin chips on either side.
const std::vector<std::uint8_t>& idleMacMask();
const std::vector<std::uint8_t>& idleDataMask();
const std::vector<std::uint8_t>& bothIdleMask();

}  // namespace onex::slot
