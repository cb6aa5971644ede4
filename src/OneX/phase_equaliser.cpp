#include "OneX/phase_equaliser.h"

#include <Eigen/Dense>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <numeric>
#include <string>

#include "OneX/baseband_filter.h"
#include "OneX/parameters.h"
#include "host/console.h"
#include "host/records.h"
#include "host/text.h"

namespace onex {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kChipRateHz = 1228800.0;

// Taps of the equaliser table, designed for 4 samples per chip.
const RealVector kTable85 = {
    2.550817464495411e-07,   -4.0268200077603687e-08, -3.7439679691592818e-06, -1.096148913972741e-05,
    -1.286263354919319e-05,  9.3980732971788873e-06,  0.00044434122067296651,  0.00042968404083427981,
    -0.0056521457405064174,  -0.01011267822315272,    -0.0023870979729854092,  0.01049885001429858,
    0.021088740098536521,    0.02258264731782763,     0.007203335746581838,    -0.02245734748306959,
    -0.052433816942696242,   -0.062952776402076333,   -0.040340621829287507,   0.011930008692517421,
    0.070698891495541191,    0.1032680270670497,      0.086365660509296158,    0.023348558594537591,
    -0.052245484535901943,   -0.091881341323171814,   -0.0599127823197554,     0.041174582288542143,
    0.16454609093308159,     0.2389893092558833,      0.20716668799859719,     0.062085345099549057,
    -0.13972748660664791,    -0.2987179140265297,     -0.31864021950934529,    -0.1557686098544884,
    0.15504046284382081,     0.51209084345152445,     0.79127198201230631,     0.90088264525398831,
    0.81953536065277477,     0.59941112294411714,     0.33567331160768732,     0.1199549804585785,
    0.0022062846164861028,   -0.02171626424669602,    0.0053271890552910811,   0.032529310677827737,
    0.028929285942254839,    -0.0054805299964419156,  -0.04782752972876473,    -0.071169312040724797,
    -0.06165883064672683,    -0.024689488315090411,   0.020342446615936031,    0.053223013014796733,
    0.066183366177471364,    0.056213350785227233,    0.030546846052469202,    0.0095713238422320528,
    -0.0017166037171409171,  -0.0083362495000040959,  -0.01131623141830786,    -0.011780582260551941,
    -0.010612611513755289,   -0.0086117702792885172,  -0.0063411538515540976,  -0.0041972279120026839,
    -0.0023949352935382401,  -0.00103608022715168,    -0.0001154792820293092,  0.0004186507759204851,
    0.00065650714924981853,  0.00069887770080775231,  0.00063458129673249822,  0.00052702840104834007,
    0.00041187037285403432,  0.00030408438445339819,  0.00016990935044859339,  -1.719758499837834e-05,
    1.0180407381875761e-06,  1.1083699554484639e-06,  3.7770753402686282e-07,  1.1147671950557251e-08,
    -5.1129917007746909e-08};

RealVector every(const RealVector& v, std::size_t step) {
    RealVector out;
    for (std::size_t i = 0; i < v.size(); i += step) out.push_back(v[i]);
    return out;
}

double sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

void requirePreRoll(std::size_t frame, std::size_t preRoll) {
    if (frame < preRoll)
        throw host::Error("OneX_FwdPhaseEq: the input holds " + std::to_string(frame) + " samples; the equaliser needs " +
                          std::to_string(preRoll) + " of them as pre-roll.");
}

}  // namespace

Biquad bilinearPrewarped(const std::array<double, 3>& n, const std::array<double, 3>& d, double fs, double fp) {
    if (!(fs > 0) || !(fp > 0) || !(fp < fs / 2))
        throw host::Error("bilinear: the match frequency must lie between 0 and half the sample rate.");
    const double k = 2 * kPi * fp / std::tan(kPi * fp / fs);
    const double k2 = k * k;
    // Multiplying through by (z + 1)^2 gives the coefficients of 1, 1/z, 1/z^2.
    auto map = [&](const std::array<double, 3>& c) {
        return std::array<double, 3>{c[0] * k2 + c[1] * k + c[2], 2 * (c[2] - c[0] * k2), c[0] * k2 - c[1] * k + c[2]};
    };
    Biquad q{map(n), map(d)};
    const double a0 = q.a[0];
    for (double& v : q.b) v /= a0;
    for (double& v : q.a) v /= a0;
    return q;
}

Biquad eqlrfilt(double fs) {
    const double w = kEqualiserOmega0, aw = kEqualiserAlpha * kEqualiserOmega0;
    return bilinearPrewarped({1, -aw, w * w}, {1, aw, w * w}, fs, kEqualiserMatchHz);
}

const RealVector& equaliserTable85() { return kTable85; }

RealVector bandLimitedInterpolator(std::size_t r, std::size_t l, double cutoff) {
    if (r < 1 || l < 1 || !(cutoff > 0 && cutoff <= 1))
        throw host::Error("interp: the factor and half-length must be at least 1 and the cutoff in (0, 1].");
    const std::size_t taps = 2 * l;
    RealVector b(2 * l * r + 1, 0.0);
    b[l * r] = 1.0;  // the original samples pass unchanged
    // For a signal whose spectrum is flat up to cutoff x Nyquist the autocorrelation is
    // sinc(cutoff tau); the mean-square optimal weights of the 2l neighbours m = -l+1 .. l
    // for the value at fractional position d solve R c = p.
    Eigen::MatrixXd rm(taps, taps);
    for (std::size_t i = 0; i < taps; ++i)
        for (std::size_t j = 0; j < taps; ++j)
            rm(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
                sinc(cutoff * (static_cast<double>(i) - static_cast<double>(j)));
    const Eigen::LDLT<Eigen::MatrixXd> solver(rm);
    // Phase r - k is phase k mirrored; solving only up to r / 2 keeps the filter exactly
    // symmetric (linear phase) instead of symmetric to rounding.
    for (std::size_t k = 1; 2 * k <= r; ++k) {
        const double d = static_cast<double>(k) / static_cast<double>(r);
        Eigen::VectorXd p(taps);
        for (std::size_t i = 0; i < taps; ++i) {
            const double m = static_cast<double>(i) - static_cast<double>(l) + 1;
            p(static_cast<Eigen::Index>(i)) = sinc(cutoff * (m - d));
        }
        const Eigen::VectorXd c = solver.solve(p);
        // Output phase k takes neighbour m with tap k + l r - m r.
        for (std::size_t i = 0; i < taps; ++i) {
            const long long m = static_cast<long long>(i) - static_cast<long long>(l) + 1;
            const long long j = static_cast<long long>(k + l * r) - m * static_cast<long long>(r);
            b[static_cast<std::size_t>(j)] = c(static_cast<Eigen::Index>(i));
            b[2 * l * r - static_cast<std::size_t>(j)] = c(static_cast<Eigen::Index>(i));
        }
    }
    return b;
}

RealVector interpolateBandLimited(const RealVector& x, std::size_t r, std::size_t l, double cutoff) {
    const std::size_t len = x.size();
    if (len < 2 * l + 1)
        throw host::Error("interp: the data must hold at least " + std::to_string(2 * l + 1) + " samples, got " +
                          std::to_string(len) + ".");
    if (r == 1) return x;
    const RealVector b = bandLimitedInterpolator(r, l, cutoff);
    // Extend by point reflection about the end samples, 2l samples at each end.
    RealVector s;
    s.reserve(len + 4 * l);
    for (std::size_t i = 2 * l; i >= 1; --i) s.push_back(2 * x[0] - x[i]);
    s.insert(s.end(), x.begin(), x.end());
    for (std::size_t i = 1; i <= 2 * l; ++i) s.push_back(2 * x[len - 1] - x[len - 1 - i]);
    // Zero-stuff, filter causally, and drop the reflected head and the filter delay.
    const std::size_t total = s.size() * r;
    const std::size_t skip = 3 * l * r;
    RealVector out(len * r, 0.0);
    for (std::size_t m = 0; m < out.size(); ++m) {
        const std::size_t t = m + skip;
        double acc = 0;
        for (std::size_t j = 0; j < b.size() && j <= t; ++j) {
            const std::size_t u = t - j;
            if (u % r == 0 && u < total) acc += b[j] * s[u / r];
        }
        out[m] = acc;
    }
    return out;
}

EqualiserTableDesign equaliserTableDesign(int os) {
    if (os < 1) throw host::Error("OneX_FwdPhaseEq: oversamplingRate must be at least 1, got " + std::to_string(os) + ".");
    EqualiserTableDesign d;
    d.forcedOversampling = std::min(os, kEqualiserTableMaxOversampling);
    switch (os) {
    case 1: d.b = every(kTable85, 4); d.filterLength = 22; return d;
    case 2: d.b = every(kTable85, 2); d.filterLength = 43; return d;
    case 4: d.b = kTable85; d.filterLength = 85; return d;
    default: break;
    }
    static std::map<int, EqualiserTableDesign> cache;
    static std::mutex m;
    std::lock_guard lock(m);
    auto it = cache.find(d.forcedOversampling);
    if (it != cache.end()) return it->second;
    const auto ratio = static_cast<std::size_t>(d.forcedOversampling);
    const std::size_t lcm = std::lcm(std::size_t{4}, ratio);
    const std::size_t rate = lcm / 4;
    const RealVector fine = interpolateBandLimited(kTable85, rate);
    const std::size_t length = 85 * rate;
    const std::size_t step = lcm / ratio;
    d.b = every(fine, step);
    d.filterLength = length / step + 1;
    return cache.emplace(d.forcedOversampling, d).first->second;
}

namespace {

// The frame as the equaliser reads and writes it: interleaved complex samples or the parts
// apart; the arithmetic is the same for both.
struct InterleavedFrame {
    ComplexVector& x;
    std::size_t size() const { return x.size(); }
    Complex get(std::size_t k) const { return x[k]; }
    void set(std::size_t k, Complex v) { x[k] = v; }
};

struct SplitFrame {
    SplitSamples x;
    std::size_t size() const { return x.size; }
    Complex get(std::size_t k) const { return {x.re[k], x.im[k]}; }
    void set(std::size_t k, Complex v) {
        x.re[k] = v.real();
        x.im[k] = v.imag();
    }
};

void checkEqualiserOversampling(int os) {
    if (os < 1) throw host::Error("OneX_FwdPhaseEq: oversamplingRate must be at least 1, got " + std::to_string(os) + ".");
}

// The table equaliser's design, with the warning for ratios it does not cover.
EqualiserTableDesign tableDesign(std::size_t n, int os) {
    if (os > kEqualiserTableMaxOversampling)
        host::warning("Oversampling Ratio should be in [2, 15]. Oversampling Ratio was forced to 15.");
    EqualiserTableDesign d = equaliserTableDesign(os);
    requirePreRoll(n, d.filterLength - 1);
    return d;
}

// The all-pass section over the frame in place, optionally writing conjugates.
template <class Frame>
void allPassInPlace(Frame x, int os, bool conjugate) {
    const std::size_t n = x.size();
    const Biquad q = eqlrfilt(os * kChipRateHz);
    const std::size_t preRoll = 25 * static_cast<std::size_t>(os) - 1;  // stands in for the infinite transient
    requirePreRoll(n, preRoll);
    const std::size_t advance = (2 * static_cast<std::size_t>(os) - 1) % n;
    // Direct form from zero state over the pre-roll (the last samples of the frame), then
    // the frame, real and imaginary parts side by side. Output k belongs at k - advance:
    // behind the sample being read, so it can overwrite the input, except for the first
    // `advance` outputs, which wrap to the end and wait in `head` until all is read.
    double xr1 = 0, xr2 = 0, yr1 = 0, yr2 = 0, xi1 = 0, xi2 = 0, yi1 = 0, yi2 = 0;
    const double b0 = q.b[0], b1 = q.b[1], b2 = q.b[2], a1 = q.a[1], a2 = q.a[2];
    auto step = [&](Complex in) {
        const double yr = b0 * in.real() + b1 * xr1 + b2 * xr2 - a1 * yr1 - a2 * yr2;
        const double yi = b0 * in.imag() + b1 * xi1 + b2 * xi2 - a1 * yi1 - a2 * yi2;
        xr2 = xr1, xr1 = in.real(), yr2 = yr1, yr1 = yr;
        xi2 = xi1, xi1 = in.imag(), yi2 = yi1, yi1 = yi;
        return Complex(yr, yi);
    };
    for (std::size_t t = n - preRoll; t < n; ++t) step(x.get(t));
    ComplexVector head(advance);
    const double sign = conjugate ? -1.0 : 1.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Complex s = step(x.get(k));
        const Complex y(s.real(), sign * s.imag());
        if (k < advance)
            head[k] = y;
        else
            x.set(k - advance, y);
    }
    for (std::size_t k = 0; k < advance; ++k) x.set(n - advance + k, head[k]);
}

}  // namespace

void phaseEqualiseInPlace(ComplexVector& x, int os, bool useTable, bool conjugate) {
    checkEqualiserOversampling(os);
    if (useTable) {
        const EqualiserTableDesign d = tableDesign(x.size(), os);
        // A FIR over a pre-roll at least as long as the filter is an exact circular convolution.
        x = circularFir(x, d.b, static_cast<std::size_t>(2 * d.forcedOversampling - 1), static_cast<std::size_t>(os));
        if (conjugate)
            for (Complex& s : x) s = std::conj(s);
        return;
    }
    allPassInPlace(InterleavedFrame{x}, os, conjugate);
}

void phaseEqualiseInPlace(SplitSamples x, int os, bool useTable, bool conjugate) {
    checkEqualiserOversampling(os);
    if (useTable) {
        // The table equaliser (the EVM filter choice) is a FIR of its own buffers.
        ComplexVector frame(x.size);
        for (std::size_t k = 0; k < x.size; ++k) frame[k] = {x.re[k], x.im[k]};
        phaseEqualiseInPlace(frame, os, true, conjugate);
        for (std::size_t k = 0; k < x.size; ++k) {
            x.re[k] = frame[k].real();
            x.im[k] = frame[k].imag();
        }
        return;
    }
    allPassInPlace(SplitFrame{x}, os, conjugate);
}

ComplexVector phaseEqualise(const ComplexVector& input, int os, bool useTable) {
    ComplexVector x = input;
    phaseEqualiseInPlace(x, os, useTable);
    return x;
}

namespace {

// The frame builder's choice of equaliser: the table with the application's EVM filter.
bool applicationUsesTable() {
    const host::Array& type = applicationParameters().field("FilterType");
    if (!type.isNumeric() || type.numel() != 1)
        throw host::Error("OneX_FwdPhaseEq: parameters.FilterType must be a number.");
    return type.realAt(0) == 4;
}

}  // namespace

void fwdPhaseEqInPlace(ComplexVector& x, int os, bool conjugate) { phaseEqualiseInPlace(x, os, applicationUsesTable(), conjugate); }

void fwdPhaseEqInPlace(SplitSamples x, int os, bool conjugate) { phaseEqualiseInPlace(x, os, applicationUsesTable(), conjugate); }

ComplexVector OneX_FwdPhaseEq(const ComplexVector& input, int os) {
    ComplexVector x = input;
    fwdPhaseEqInPlace(x, os);
    return x;
}

}  // namespace onex
