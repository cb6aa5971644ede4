#include "OneX/traffic_modulation.h"

#include <array>
#include <cmath>
#include <numbers>

#include "host/text.h"

namespace onex {

namespace {
constexpr double kQpskScale = 0.7071067811865475;    // 1 / sqrt(2)
constexpr double kQamScale = 0.31622776601683794;    // 1 / sqrt(10)
const double kCos8 = std::cos(std::numbers::pi / 8);  // 0.9238795325112867
const double kSin8 = std::sin(std::numbers::pi / 8);  // 0.3826834323650898
}  // namespace

int bitsPerSymbol(double format, const char* function) {
    if (format == kQpsk || format == kPsk8 || format == kQam16) return static_cast<int>(format) + 1;
    throw host::Error(std::string(function) + ": unknown modulation code " + host::num2str(format) +
                      " (1 QPSK, 2 8-PSK, 3 16-QAM).");
}

Complex OneX_IQmap(const double* d, std::size_t count, double format) {
    const int b = bitsPerSymbol(format, "OneX_IQmap");
    if (count < static_cast<std::size_t>(b))
        throw host::Error("OneX_IQmap: a symbol of modulation code " + host::num2str(format) + " needs " +
                          std::to_string(b) + " bits, got " + std::to_string(count) + ".");
    switch (b) {
    case 2:
        return {(1.0 - 2.0 * d[0]) * kQpskScale, (1.0 - 2.0 * d[1]) * kQpskScale};
    case 3: {
        // d1 picks the octant pair (near the I axis or near the Q axis), d2 and d3 the signs.
        const double i = d[0] == 0 ? kCos8 : kSin8;
        const double q = d[0] == 0 ? kSin8 : kCos8;
        return {d[1] == 0 ? i : -i, d[2] == 0 ? q : -q};
    }
    default:
        // Each axis: magnitude bit then sign bit, Gray-coded levels +3 +1 -1 -3.
        return {(3.0 - 2.0 * d[0]) * (1.0 - 2.0 * d[1]) * kQamScale, (3.0 - 2.0 * d[2]) * (1.0 - 2.0 * d[3]) * kQamScale};
    }
}

ComplexVector OneX_FwdTrfModulator(const RealVector& bits, double format) {
    const auto b = static_cast<std::size_t>(bitsPerSymbol(format, "OneX_FwdTrfModulator"));
    const std::size_t symbols = (bits.size() + b - 1) / b;
    ComplexVector out(symbols);
    double group[4];
    for (std::size_t s = 0; s < symbols; ++s) {
        for (std::size_t k = 0; k < b; ++k) {
            const std::size_t i = s * b + k;
            group[k] = i < bits.size() ? bits[i] : 0.0;  // zero bits pad the last symbol
        }
        out[s] = OneX_IQmap(group, b, format);
    }
    return out;
}

ComplexMatrix OneX_FwdTrfDemux(const ComplexVector& symbols) {
    const std::size_t cols = (symbols.size() + kTrafficWalshChannels - 1) / kTrafficWalshChannels;
    ComplexMatrix out(kTrafficWalshChannels, cols);
    // Column-major 16 x cols is exactly the symbol order, zero-padded at the end.
    std::copy(symbols.begin(), symbols.end(), out.data().begin());
    return out;
}

ComplexMatrix OneX_FwdTrfWalshCover(const ComplexMatrix& input) {
    if (input.rows() != kTrafficWalshChannels)
        throw host::Error("OneX_FwdTrfWalshCover: input must have 16 rows (one per Walsh channel), got " +
                          std::to_string(input.rows()) + ".");
    static const RealMatrix w = OneX_WalshMatrix(16);
    const std::size_t n = kTrafficWalshChannels;
    ComplexMatrix out(n, n * input.cols());
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t s = 0; s < input.cols(); ++s) {
            const Complex symbol = input(i, s);
            for (std::size_t c = 0; c < n; ++c) out(i, s * n + c) = symbol * w(i, c);
        }
    return out;
}

ComplexMatrix OneX_FwdTrfChnGain(const ComplexMatrix& input) {
    ComplexMatrix out = input;
    for (Complex& c : out.data()) c /= 4.0;
    return out;
}

ComplexVector OneX_FwdTrfSummer(const ComplexMatrix& input) {
    ComplexVector out(input.cols());
    for (std::size_t c = 0; c < input.cols(); ++c) {
        Complex sum = 0.0;
        for (std::size_t r = 0; r < input.rows(); ++r) sum += input(r, c);
        out[c] = sum;
    }
    return out;
}

void coverAndSumGroup(const Complex* symbols, Complex* chips) {
    constexpr std::size_t n = kTrafficWalshChannels;
    // Each output chip is the same products, quartered and added in the same order as
    // through the three steps, so the result is the same to the last bit: a product with a
    // Walsh chip of +-1 and the quartering are exact, so each term is +-(symbol / 4), and
    // the terms of a chip are added for channels 0, 1, ..., 15 in turn.
    static const auto sign = [] {
        const RealMatrix w = OneX_WalshMatrix(16);
        std::array<std::array<double, n>, n> table{};
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t c = 0; c < n; ++c) table[i][c] = w(i, c);
        return table;
    }();
    double re[n] = {}, im[n] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const double qr = symbols[i].real() / 4.0, qi = symbols[i].imag() / 4.0;
        for (std::size_t c = 0; c < n; ++c) {
            re[c] += sign[i][c] * qr;
            im[c] += sign[i][c] * qi;
        }
    }
    for (std::size_t c = 0; c < n; ++c) chips[c] = Complex(re[c], im[c]);
}

ComplexVector OneX_FwdTrfCoverAndSum(const ComplexMatrix& input) {
    if (input.rows() != kTrafficWalshChannels)
        throw host::Error("OneX_FwdTrfWalshCover: input must have 16 rows (one per Walsh channel), got " +
                          std::to_string(input.rows()) + ".");
    constexpr std::size_t n = kTrafficWalshChannels;
    ComplexVector out(n * input.cols());
    for (std::size_t s = 0; s < input.cols(); ++s) coverAndSumGroup(input.data().data() + s * n, out.data() + s * n);
    return out;
}

}  // namespace onex
