#include "OneX/filter_design.h"

#include <numeric>

#include "OneX/remez.h"

namespace onex::design {

namespace {

constexpr double kChipRateHz = 1228800.0;
constexpr double kPassbandEdgeHz = 590000.0;
constexpr double kStopbandEdgeHz = 740000.0;

// Band edges as fractions of the Nyquist frequency at `os` samples per chip.
std::vector<double> bandEdges(int os) {
    const double nyquist = kChipRateHz * os / 2;
    return {0.0, kPassbandEdgeHz / nyquist, kStopbandEdgeHz / nyquist, 1.0};
}

std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> out(a.size() + b.size() - 1, 0.0);
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
    return out;
}

}  // namespace

std::vector<double> standardFilter(int os) {
    const auto edges = bandEdges(os);
    const double amplitudes[] = {1, 1, 0, 0};
    const double weights[] = {1, 20};
    return firpm(static_cast<std::size_t>(12 * os - 1), edges, amplitudes, weights);
}

std::vector<double> acpShapingFactor(int os) {
    const auto edges = bandEdges(os);
    const double amplitudes[] = {1, 1, 0.005, 0.001};
    const double weights[] = {1, 2};
    std::vector<double> h = firpm(static_cast<std::size_t>(14 * os), edges, amplitudes, weights);
    const double dc = std::accumulate(h.begin(), h.end(), 0.0);
    for (double& v : h) v /= dc;
    return h;
}

std::vector<double> acpFilter(int os) { return convolve(standardFilter(os), acpShapingFactor(os)); }

}  // namespace onex::design
