#pragma once
// Straightforward implementations of the circular filters, step by step as they are
// defined (pre-roll from the end of the frame, direct-form filter from zero state, keep
// the frame's samples, rotate the delay away). The fast paths must agree with these.

#include <algorithm>
#include <complex>
#include <vector>

#include "host/matrix.h"

namespace literal {

using Complex = std::complex<double>;
using ComplexVector = host::ComplexVector;
using RealVector = std::vector<double>;

// y = filter(b, a, x) with zero initial state, direct form.
inline ComplexVector filter(const RealVector& b, const RealVector& a, const ComplexVector& x) {
    ComplexVector y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        Complex acc = 0;
        for (std::size_t j = 0; j < b.size() && j <= n; ++j) acc += b[j] * x[n - j];
        for (std::size_t j = 1; j < a.size() && j <= n; ++j) acc -= a[j] * y[n - j];
        y[n] = acc / a[0];
    }
    return y;
}

// The last `count` samples of x in front of x.
inline ComplexVector withPreRoll(const ComplexVector& x, std::size_t count) {
    ComplexVector s(x.end() - static_cast<std::ptrdiff_t>(count), x.end());
    s.insert(s.end(), x.begin(), x.end());
    return s;
}

// [x(d+1 ... end), x(1 ... d)]
inline ComplexVector rotateLeft(const ComplexVector& x, std::size_t d) {
    ComplexVector out(x);
    std::rotate(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(d % x.size()), out.end());
    return out;
}

// The baseband filter's circular FIR.
inline ComplexVector circularFir(const ComplexVector& frame, const RealVector& h) {
    const std::size_t len = h.size();
    ComplexVector y = filter(h, {1.0}, withPreRoll(frame, len - 1));
    y.erase(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(len - 1));
    return rotateLeft(y, len / 2);
}

// The rectangular filter: first N samples of conv(ones(1, os), frame).
inline ComplexVector rectangular(const ComplexVector& frame, std::size_t os) {
    ComplexVector out(frame.size());
    for (std::size_t k = 0; k < frame.size(); ++k)
        for (std::size_t j = 0; j < os && j <= k; ++j) out[k] += frame[k - j];
    return out;
}

// The equaliser: pre-roll of filtlen - 1, filter, keep from filtlen, advance by 2 os - 1.
inline ComplexVector equaliser(const ComplexVector& input, const RealVector& b, const RealVector& a,
                               std::size_t filtlen, std::size_t os) {
    ComplexVector y = filter(b, a, withPreRoll(input, filtlen - 1));
    y.erase(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(filtlen - 1));
    return rotateLeft(y, 2 * os - 1);
}

inline double maxRelativeDifference(const ComplexVector& a, const ComplexVector& b) {
    double scale = 0, diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        scale = std::max(scale, std::abs(b[i]));
        diff = std::max(diff, std::abs(a[i] - b[i]));
    }
    return scale > 0 ? diff / scale : diff;
}

}  // namespace literal
