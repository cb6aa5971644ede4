#pragma once
// The equiripple designs of the baseband filters. They depend on the oversampling ratio
// alone, so the build runs them once for every ratio a frame can have (filter_tables_gen)
// and compiles the taps into the library: a frame starts filtering at once instead of
// spending up to 17 ms in the Remez exchange. Other ratios are designed when asked for.

#include <span>
#include <vector>

namespace onex::design {

// The standard filter, 12 x OS taps.
std::vector<double> standardFilter(int os);
// The second factor of the ACP filter, 14 x OS + 1 taps of unit DC gain whose stopband
// falls from 0.005 to 0.001.
std::vector<double> acpShapingFactor(int os);
// The ACP filter: the standard filter convolved with its shaping factor.
std::vector<double> acpFilter(int os);

// The taps the build computed, for the ratios of a frame (2 to 30).
inline constexpr int kTabledMin = 2;
inline constexpr int kTabledMax = 30;
struct Tabled {
    std::span<const double> standard, acpFactor, acp;
};
// nullptr outside kTabledMin ... kTabledMax.
const Tabled* tabled(int os);

}  // namespace onex::design
