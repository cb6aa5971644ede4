#include "error_message.h"
#include "OneX/inverse_fir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "OneX/common_channels.h"
#include "host/error.h"
#include "host/function_table.h"

using namespace onex;
using host::Array;
using host::Complex;

namespace {

// Response whose least-squares fit is exactly the centred taps h0: H = conj(sum h0(i) e^{-j2 pi F i / SR}).
ComplexVector responseOf(const ComplexVector& h0, const RealVector& f, double sr) {
    const long long m = static_cast<long long>(h0.size() - 1) / 2;
    ComplexVector h(f.size());
    for (std::size_t r = 0; r < f.size(); ++r) {
        Complex s = 0;
        for (std::size_t k = 0; k < h0.size(); ++k)
            s += h0[k] * std::polar(1.0, -2 * std::numbers::pi * f[r] * static_cast<double>(static_cast<long long>(k) - m) / sr);
        h[r] = std::conj(s);
    }
    return h;
}

std::string messageOf(const char* fn, std::vector<Array> args) {
    return errorMessageOf([&] { host::callFunction(fn, 1, args); });
}

}  // namespace

TEST(Freq2fir, RecoversTheTapsThatMadeTheResponse) {
    const ComplexVector h0{Complex(0.1, -0.05), Complex(-0.2, 0.1), Complex(1, 0.3), Complex(0.3, 0), Complex(-0.05, 0.02)};
    RealVector f;
    for (int i = 0; i < 40; ++i) f.push_back(-4e6 + 2e5 * i);
    const ComplexVector h = freq2fir(5, f, responseOf(h0, f, 10e6), 10e6);
    ASSERT_EQ(h.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_NEAR(h[k].real(), h0[k].real(), 1e-12);
        EXPECT_NEAR(h[k].imag(), h0[k].imag(), 1e-12);
    }
}

TEST(Freq2fir, MessagesWordForWord) {
    const Array f = Array::row(RealVector{0, 1, 2}), h = Array::row(RealVector{1, 1, 1});
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(3), f, h}), "You must have 4 inputs.");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(3), f, Array::row(RealVector{1, 1}), Array::scalar(10)}),
              "F must be the same size as H");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(3), Array::zeros(3, 3), Array::zeros(3, 3), Array::scalar(10)}),
              "F must be either a 1xN or a Nx1 matrix.");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(3), f, Array::zeros(3, 2), Array::scalar(10)}),
              "H must be either a 1xN or a Nx1 matrix.");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(0), f, h, Array::scalar(10)}), "N must be greater than 1.");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(4), f, h, Array::scalar(10)}), "N must be an odd integer");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(3), f, h, Array::scalar(3)}), "SR must be greater than 2*max{F}.");
    EXPECT_EQ(messageOf("freq2fir", {Array::scalar(1001), f, h, Array::scalar(10)}), "freq2fir: at most 511 taps, got 1001.");
}

TEST(CreateRealFIR, InvertsAFlatResponse) {
    RealVector f;
    ComplexVector h;
    for (int i = 0; i <= 20; ++i) {
        f.push_back(1e9 + 1e6 * i);  // an RF span; it is centred before the fit
        h.push_back(2.0);
    }
    for (double n : {1.0, 3.0, 4.0}) {
        const ComplexVector taps = createRealFIR(n, f, h, 30e6);
        ASSERT_EQ(taps.size(), n < 4 ? 3u : 5u);
        const std::size_t mid = taps.size() / 2;
        for (std::size_t k = 0; k < taps.size(); ++k) EXPECT_NEAR(std::abs(taps[k]), k == mid ? 0.5 : 0.0, 1e-9) << n;
    }
}

TEST(CreateRealFIR, InvertsATiltAndKeepsOnlyTheNyquistBand) {
    // A gentle magnitude tilt: the fitted inverse times the response is close to 1.
    RealVector f;
    ComplexVector h;
    for (int i = 0; i <= 50; ++i) {
        const double x = -5e6 + 2e5 * i;
        f.push_back(x);
        h.push_back(1.0 + 0.05 * x / 5e6);
    }
    const ComplexVector taps = createRealFIR(31, f, h, 20e6);
    ASSERT_EQ(taps.size(), 31u);
    for (std::size_t r = 5; r + 5 < f.size(); ++r) {
        Complex g = 0;
        for (std::size_t k = 0; k < taps.size(); ++k)
            g += taps[k] * std::polar(1.0, -2 * std::numbers::pi * f[r] * (static_cast<double>(k) - 15) / 20e6);
        EXPECT_NEAR(std::abs(std::conj(g) * h[r]), 1.0, 2e-3) << f[r];
    }
    // Points beyond half the sample rate are dropped, not fitted.
    RealVector wide{-20e6, -1e6, 0, 1e6, 20e6};
    ComplexVector flat(5, Complex(4, 0));
    const ComplexVector t = createRealFIR(3, wide, flat, 10e6);
    EXPECT_NEAR(std::abs(t[1]), 0.25, 1e-9);
}

TEST(CreateRealFIR, MessagesWordForWord) {
    const Array f = Array::row(RealVector{0, 1, 2}), h = Array::row(RealVector{1, 1, 1});
    EXPECT_EQ(messageOf("createRealFIR", {Array::scalar(3), f, h}), "You must have 4 inputs to createRealFIR.");
    EXPECT_EQ(messageOf("createRealFIR", {Array::scalar(3), f, Array::row(RealVector{1}), Array::scalar(10)}),
              "F must be the same size as H");
    EXPECT_EQ(messageOf("createRealFIR", {Array::scalar(3), Array::zeros(3, 3), Array::zeros(3, 3), Array::scalar(10)}),
              "F and H must be either a 1xN or a Nx1 matrix.");
    EXPECT_EQ(messageOf("createRealFIR", {Array::scalar(3), f, h, Array::scalar(0)}),
              "SR > 0 The sample rate must be greater than zero.");
    EXPECT_NE(messageOf("createRealFIR", {Array::scalar(3), f, Array::row(RealVector{0, 0, 0}), Array::scalar(10)}).find("no inverse"),
              std::string::npos);
    EXPECT_NE(messageOf("createRealFIR", {Array::scalar(3), Array::row(RealVector{1, 1}), Array::row(RealVector{1, 1}), Array::scalar(10)})
                  .find("more than one frequency"),
              std::string::npos);
}

TEST(ExtendVector, RepeatsFromTheStartAndCuts) {
    EXPECT_EQ(extendVector(RealVector{1, 0, 1}, 7), (RealVector{1, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(extendVector(RealVector{1, 0, 1}, 2), (RealVector{1, 0}));
    EXPECT_THROW(extendVector(RealVector{}, 2), host::Error);
    auto out = host::callFunction("extendVector", 1, {Array::row(RealVector{1, 0}), Array::scalar(5)});
    EXPECT_EQ(out[0], Array::row(RealVector{1, 0, 1, 0, 1}));
    EXPECT_THROW(host::callFunction("extendVector", 1, {Array(), Array::scalar(5)}), host::Error);
}
