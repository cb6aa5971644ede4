#include "OneX/remez.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "host/error.h"

namespace onex {

namespace {

constexpr double kPi = std::numbers::pi;

[[noreturn]] void fail(const std::string& what) { throw host::Error("Equiripple design: " + what); }

// Barycentric weights 1 / prod_{j != k} (x_k - x_j), scaled by a common factor (which the
// barycentric formula ignores) so that a few hundred points neither overflow nor vanish.
std::vector<double> barycentricWeights(const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<double> logMagnitude(n, 0.0), sign(n, 1.0);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t j = 0; j < n; ++j) {
            if (j == k) continue;
            const double d = x[k] - x[j];
            if (d == 0.0) fail("two grid frequencies coincide.");
            logMagnitude[k] -= std::log(std::fabs(d));
            if (d < 0) sign[k] = -sign[k];
        }
    const double largest = *std::max_element(logMagnitude.begin(), logMagnitude.end());
    std::vector<double> w(n);
    for (std::size_t k = 0; k < n; ++k) w[k] = sign[k] * std::exp(logMagnitude[k] - largest);
    return w;
}

// The polynomial through (xe_k, c_k), evaluated at x by the barycentric formula.
double interpolate(double x, const std::vector<double>& xe, const std::vector<double>& w, const std::vector<double>& c) {
    double num = 0, den = 0;
    for (std::size_t k = 0; k < xe.size(); ++k) {
        const double d = x - xe[k];
        if (d == 0.0) return c[k];
        const double t = w[k] / d;
        num += t * c[k];
        den += t;
    }
    return num / den;
}

// Local extrema of the error with |E| >= |delta|, reduced to an alternating set of r + 1.
std::vector<std::size_t> findExtremals(const std::vector<double>& e, double delta, std::size_t wanted) {
    const std::size_t n = e.size();
    const double floor = std::fabs(delta) * (1.0 - 1e-10);
    std::vector<std::size_t> cand;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = e[i];
        if (std::fabs(v) < floor || v == 0.0) continue;
        const bool leftOk = i == 0 || (v > 0 ? v >= e[i - 1] : v <= e[i - 1]);
        const bool rightOk = i + 1 == n || (v > 0 ? v > e[i + 1] : v < e[i + 1]);
        if (!leftOk || !rightOk) continue;
        if (!cand.empty() && (e[cand.back()] > 0) == (v > 0)) {
            // Same sign as the previous extremum: keep the larger of the two.
            if (std::fabs(v) > std::fabs(e[cand.back()])) cand.back() = i;
        } else {
            cand.push_back(i);
        }
    }
    while (cand.size() > wanted) {
        if (cand.size() == wanted + 1) {
            // One too many: drop whichever end has the smaller error.
            if (std::fabs(e[cand.front()]) < std::fabs(e[cand.back()]))
                cand.erase(cand.begin());
            else
                cand.pop_back();
            continue;
        }
        // Drop the smallest; its neighbours then share a sign and the smaller of them goes too.
        std::size_t smallest = 0;
        for (std::size_t k = 1; k < cand.size(); ++k)
            if (std::fabs(e[cand[k]]) < std::fabs(e[cand[smallest]])) smallest = k;
        cand.erase(cand.begin() + static_cast<std::ptrdiff_t>(smallest));
        if (smallest > 0 && smallest < cand.size()) {
            const std::size_t left = smallest - 1, right = smallest;
            cand.erase(cand.begin() + static_cast<std::ptrdiff_t>(std::fabs(e[cand[left]]) < std::fabs(e[cand[right]]) ? left : right));
        }
    }
    return cand;
}

}  // namespace

std::size_t remezFunctionCount(std::size_t numtaps) { return numtaps % 2 ? (numtaps + 1) / 2 : numtaps / 2; }

RemezGrid remezClassicGrid(std::size_t numtaps, std::span<const double> edges, std::span<const double> amplitudes,
                           std::span<const double> weights, int density) {
    if (numtaps < 2) fail("a filter needs at least 2 taps.");
    if (edges.empty() || edges.size() % 2 != 0) fail("band edges must come in pairs.");
    if (amplitudes.size() != edges.size()) fail("one desired amplitude is needed per band edge.");
    if (weights.size() != edges.size() / 2) fail("one weight is needed per band.");
    for (std::size_t i = 0; i < edges.size(); ++i) {
        if (!(edges[i] >= 0.0 && edges[i] <= 1.0)) fail("band edges must lie between 0 and 1 (Nyquist).");
        if (i > 0 && edges[i] < edges[i - 1]) fail("band edges must ascend.");
    }
    for (double w : weights)
        if (!(w > 0.0) || !std::isfinite(w)) fail("weights must be positive.");
    const std::size_t r = remezFunctionCount(numtaps);
    const double step = 0.5 / (density * static_cast<double>(r));
    RemezGrid g;
    for (std::size_t b = 0; b < edges.size() / 2; ++b) {
        const double lo = edges[2 * b] / 2, hi = edges[2 * b + 1] / 2;
        const double alo = amplitudes[2 * b], ahi = amplitudes[2 * b + 1];
        auto desiredAt = [&](double f) { return hi > lo ? alo + (ahi - alo) * (f - lo) / (hi - lo) : alo; };
        // Step up from the lower edge while within the band; the last point moves onto the edge.
        double f = lo;
        for (;;) {
            g.frequency.push_back(f);
            g.desired.push_back(desiredAt(f));
            g.weight.push_back(weights[b]);
            f += step;
            if (f > hi) break;
        }
        g.frequency.back() = hi;
        g.desired.back() = ahi;
    }
    // An even-length symmetric filter has a zero at Nyquist that no weight can move.
    if (numtaps % 2 == 0 && g.frequency.back() > 0.5 - step) {
        g.frequency.pop_back();
        g.desired.pop_back();
        g.weight.pop_back();
    }
    return g;
}

std::vector<double> remezExchange(std::size_t numtaps, const RemezGrid& grid, RemezReport* report, int maxIterations) {
    const std::size_t r = remezFunctionCount(numtaps);
    const std::size_t n = grid.frequency.size();
    if (grid.desired.size() != n || grid.weight.size() != n) fail("grid arrays differ in length.");
    if (n < r + 1)
        fail("the grid has " + std::to_string(n) + " points; " + std::to_string(numtaps) + " taps need at least " +
             std::to_string(r + 1) + ".");
    const bool even = numtaps % 2 == 0;

    // The exchange approximates D / cos(pi f) with a cosine polynomial of r terms when the
    // filter length is even; the factor cos(pi f) is put back when the taps are formed.
    std::vector<double> x(n), d(n), w(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double f = grid.frequency[i];
        x[i] = std::cos(2 * kPi * f);
        d[i] = grid.desired[i];
        w[i] = grid.weight[i];
        if (even) {
            const double c = std::cos(kPi * f);
            if (c <= 0.0) fail("an even-length filter cannot be designed up to the Nyquist frequency.");
            d[i] /= c;
            w[i] *= c;
        }
    }

    std::vector<std::size_t> ext(r + 1);
    for (std::size_t k = 0; k < r; ++k)
        ext[k] = static_cast<std::size_t>(static_cast<double>(k) * static_cast<double>(n - 1) / static_cast<double>(r));
    ext[r] = n - 1;

    std::vector<double> xe(r + 1), c(r + 1), bw, err(n);
    double delta = 0;
    int iteration = 0;
    for (;; ++iteration) {
        if (iteration >= maxIterations) fail("the exchange did not converge in " + std::to_string(maxIterations) + " iterations.");
        for (std::size_t k = 0; k <= r; ++k) xe[k] = x[ext[k]];
        bw = barycentricWeights(xe);
        double num = 0, den = 0;
        for (std::size_t k = 0; k <= r; ++k) {
            const double s = k % 2 ? -1.0 : 1.0;
            num += bw[k] * d[ext[k]];
            den += bw[k] * s / w[ext[k]];
        }
        delta = num / den;
        for (std::size_t k = 0; k <= r; ++k) c[k] = d[ext[k]] - (k % 2 ? -1.0 : 1.0) * delta / w[ext[k]];
        for (std::size_t i = 0; i < n; ++i) err[i] = w[i] * (d[i] - interpolate(x[i], xe, bw, c));
        std::vector<std::size_t> next = findExtremals(err, delta, r + 1);
        if (next.size() < r + 1)
            fail("too few extremal frequencies (" + std::to_string(next.size()) + " of " + std::to_string(r + 1) +
                 "); the bands or the length cannot be met.");
        if (next == ext) break;
        ext = std::move(next);
    }

    // Cosine coefficients from 2r - 1 equally spaced samples of the polynomial.
    const std::size_t len = 2 * r - 1;
    std::vector<double> p(r);
    for (std::size_t m = 0; m < r; ++m) p[m] = interpolate(std::cos(2 * kPi * static_cast<double>(m) / static_cast<double>(len)), xe, bw, c);
    std::vector<double> alpha(r);
    for (std::size_t k = 0; k < r; ++k) {
        double s = p[0];
        for (std::size_t m = 1; m < r; ++m)
            s += 2 * p[m] * std::cos(2 * kPi * static_cast<double>(k * m % len) / static_cast<double>(len));
        alpha[k] = (k == 0 ? 1.0 : 2.0) * s / static_cast<double>(len);
    }

    std::vector<double> h(numtaps, 0.0);
    if (!even) {
        h[r - 1] = alpha[0];
        for (std::size_t k = 1; k < r; ++k) h[r - 1 - k] = h[r - 1 + k] = alpha[k] / 2;
    } else {
        // cos(w/2) cos(kw) = (cos((k + 1/2) w) + cos((k - 1/2) w)) / 2.
        std::vector<double> b(r + 1, 0.0);  // b[m]: coefficient of cos((m - 1/2) w), m = 1..r
        b[1] += alpha[0];
        for (std::size_t k = 1; k < r; ++k) {
            b[k + 1] += alpha[k] / 2;
            b[k] += alpha[k] / 2;
        }
        for (std::size_t m = 1; m <= r; ++m) h[r - m] = h[r - 1 + m] = b[m] / 2;
    }

    if (report) {
        report->extremalFrequencies.clear();
        for (std::size_t k : ext) report->extremalFrequencies.push_back(grid.frequency[k]);
        report->deviation = std::fabs(delta);
        report->iterations = iteration + 1;
    }
    return h;
}

std::vector<double> firpm(std::size_t order, std::span<const double> edges, std::span<const double> amplitudes,
                          std::span<const double> weights) {
    const std::size_t numtaps = order + 1;
    return remezExchange(numtaps, remezClassicGrid(numtaps, edges, amplitudes, weights));
}

}  // namespace onex
