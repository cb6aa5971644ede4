#include "OneX/inverse_fir.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <string>

#include "host/error.h"

namespace onex {

namespace {

constexpr std::size_t kResampledPoints = 5000;

// Linear interpolation of y(x) at t; x ascending and distinct, t within [x.front(), x.back()].
template <class V>
V interpolateLinear(const RealVector& x, const V& y, const RealVector& t) {
    V out(t.size());
    std::size_t seg = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        while (seg + 2 < x.size() && t[i] > x[seg + 1]) ++seg;
        const double u = (t[i] - x[seg]) / (x[seg + 1] - x[seg]);
        out[i] = y[seg] + (y[seg + 1] - y[seg]) * u;
    }
    return out;
}

}  // namespace

ComplexVector freq2fir(double n, const RealVector& f, const ComplexVector& h, double sr) {
    if (f.size() != h.size()) throw host::Error("F must be the same size as H");
    if (!(n >= 1)) throw host::Error("N must be greater than 1.");
    if (std::fmod(n, 2.0) != 1.0) throw host::Error("N must be an odd integer");
    const double fMax = f.empty() ? 0.0 : *std::max_element(f.begin(), f.end());
    if (2 * fMax > sr) throw host::Error("SR must be greater than 2*max{F}.");
    if (n > kMaxInverseFirTaps)
        throw host::Error("freq2fir: at most " + std::to_string(static_cast<int>(kMaxInverseFirTaps)) + " taps, got " +
                          std::to_string(static_cast<long long>(n)) + ".");
    if (f.empty()) throw host::Error("freq2fir: F and H must not be empty.");
    const auto taps = static_cast<Eigen::Index>(n);
    const Eigen::Index half = (taps - 1) / 2;
    const auto rows = static_cast<Eigen::Index>(f.size());
    // One row per frequency, one column per tap position -m .. m. The 5000 x 31 matrix of a
    // correction filter is 2.5 MB: it lives in the sample cache and is factored in place, so a
    // download does not pay fresh pages for it twice.
    ComplexVector storage(static_cast<std::size_t>(rows * taps));
    Eigen::Map<Eigen::MatrixXcd> z(storage.data(), rows, taps);
    for (Eigen::Index r = 0; r < rows; ++r)
        for (Eigen::Index c = 0; c < taps; ++c) {
            const double phase = -2 * std::numbers::pi * f[static_cast<std::size_t>(r)] * static_cast<double>(c - half) / sr;
            z(r, c) = std::polar(1.0, phase);
        }
    Eigen::VectorXcd rhs(rows);
    for (Eigen::Index r = 0; r < rows; ++r) rhs(r) = std::conj(h[static_cast<std::size_t>(r)]);
    const Eigen::ColPivHouseholderQR<Eigen::Ref<Eigen::MatrixXcd>> qr(z);
    const Eigen::VectorXcd solution = qr.solve(rhs);
    return ComplexVector(solution.data(), solution.data() + solution.size());
}

ComplexVector createRealFIR(double n, const RealVector& fIn, const ComplexVector& hIn, double sr) {
    n = std::max(3.0, n);
    if (std::fmod(n, 2.0) == 0.0) n += 1;
    if (fIn.size() != hIn.size()) throw host::Error("F must be the same size as H");
    if (!(sr > 0)) throw host::Error("SR > 0 The sample rate must be greater than zero.");
    if (fIn.size() < 2) throw host::Error("createRealFIR: the response needs at least two frequencies.");
    RealVector f = fIn;
    ComplexVector h = hIn;
    const auto [lo, hi] = std::minmax_element(f.begin(), f.end());
    const double centre = (*lo + *hi) / 2;
    for (double& v : f) v -= centre;
    const double fMax = std::max(std::fabs(*std::min_element(f.begin(), f.end())), std::fabs(*std::max_element(f.begin(), f.end())));
    if (fMax > sr / 2) {
        // Keep the span from the first to the last point within the Nyquist band.
        std::size_t first = f.size(), last = 0;
        for (std::size_t i = 0; i < f.size(); ++i)
            if (std::fabs(f[i]) <= sr / 2) {
                first = std::min(first, i);
                last = i;
            }
        if (first == f.size()) throw host::Error("createRealFIR: no frequency lies within half the sample rate.");
        f = RealVector(f.begin() + static_cast<std::ptrdiff_t>(first), f.begin() + static_cast<std::ptrdiff_t>(last + 1));
        h = ComplexVector(h.begin() + static_cast<std::ptrdiff_t>(first), h.begin() + static_cast<std::ptrdiff_t>(last + 1));
    }
    const double fMin = *std::min_element(f.begin(), f.end());
    RealVector c(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) c[i] = f[i] - fMin;
    const double span = *std::max_element(c.begin(), c.end());
    if (!(span > 0)) throw host::Error("createRealFIR: F must span more than one frequency.");
    for (double& v : c) v /= span;
    // Resample on an even grid of 5000 points; the abscissa must ascend without repeats.
    std::vector<std::size_t> order(c.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return c[a] < c[b]; });
    RealVector cs(c.size()), fs(c.size());
    ComplexVector hs(c.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        cs[i] = c[order[i]];
        fs[i] = f[order[i]];
        hs[i] = h[order[i]];
        if (i > 0 && cs[i] == cs[i - 1]) throw host::Error("createRealFIR: F holds the same frequency twice.");
    }
    RealVector t(kResampledPoints);
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<double>(i) / static_cast<double>(kResampledPoints - 1);
    ComplexVector hl = interpolateLinear(cs, hs, t);
    for (auto& v : hl) {
        if (v == host::Complex(0, 0)) throw host::Error("createRealFIR: the response is zero somewhere; it has no inverse.");
        v = 1.0 / v;
    }
    const RealVector fl = interpolateLinear(cs, fs, t);
    return freq2fir(n, fl, hl, sr);
}

}  // namespace onex
