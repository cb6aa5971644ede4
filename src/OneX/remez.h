#pragma once
// Equiripple (Parks-McClellan) design of linear-phase symmetric FIR filters by the Remez
// exchange, with the conventions the baseband filter designs are defined by: band edges as
// fractions of the Nyquist frequency, a desired response that runs linearly between the
// values given at each band's edges, one weight per band, and a dense grid of about 16
// points per extremal frequency built band by band as in the classic program.

#include <cstddef>
#include <span>
#include <vector>

namespace onex {

// The dense grid in cycles per sample (0 ... 0.5), with desired response and weight.
struct RemezGrid {
    std::vector<double> frequency;
    std::vector<double> desired;
    std::vector<double> weight;
};

inline constexpr int kRemezGridDensity = 16;

// Number of cosine functions of a symmetric filter of `numtaps` taps.
std::size_t remezFunctionCount(std::size_t numtaps);

// The classic dense grid: from each lower band edge in steps of 0.5 / (density x r),
// the last point of each band moved onto its upper edge. For an even number of taps the
// response is zero at Nyquist, so a point within one step of it is left out.
// `edges` are pairs of band edges (fractions of Nyquist, ascending), `amplitudes` the
// desired value at each edge, `weights` one per band.
RemezGrid remezClassicGrid(std::size_t numtaps, std::span<const double> edges, std::span<const double> amplitudes,
                           std::span<const double> weights, int density = kRemezGridDensity);

// What an exchange found: the extremal frequencies (cycles per sample), the weighted
// deviation and the number of iterations it took.
struct RemezReport {
    std::vector<double> extremalFrequencies;
    double deviation = 0;
    int iterations = 0;
};

// The optimum symmetric filter of `numtaps` taps on the given grid (minimax weighted
// error), stopping when the extremal set no longer changes. For an even number of taps
// the grid's desired response and weight are those of the full filter; the exchange works
// on them divided and multiplied by cos(pi f). Throws host::Error when it cannot proceed.
std::vector<double> remezExchange(std::size_t numtaps, const RemezGrid& grid, RemezReport* report = nullptr,
                                  int maxIterations = 250);

// firpm(order, edges, amplitudes, weights) with grid density 16: order + 1 taps.
std::vector<double> firpm(std::size_t order, std::span<const double> edges, std::span<const double> amplitudes,
                          std::span<const double> weights);

}  // namespace onex
