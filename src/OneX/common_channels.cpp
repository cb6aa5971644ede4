#include "OneX/common_channels.h"

#include <cmath>
#include <string>

#include "host/error.h"
#include "host/random.h"
#include "host/text.h"

namespace onex {

RealVector OneX_FwdPilot() { return RealVector(kPilotChips, 1.0); }

RealMatrix OneX_WalshMatrix(double index) {
    if (std::isnan(index)) throw host::Error("OneX_WalshMatrix: the order must be a number, not NaN.");
    if (index > kMaxWalshOrder)
        throw host::Error("OneX_WalshMatrix: order " + host::num2str(index) + " exceeds the largest supported order " +
                          std::to_string(static_cast<int>(kMaxWalshOrder)) + ".");
    const int doublings = index >= 2 ? static_cast<int>(std::floor(std::log2(index))) : 0;
    RealMatrix h(1, 1, 1.0);
    for (int d = 0; d < doublings; ++d) {
        const std::size_t n = h.rows();
        RealMatrix next(2 * n, 2 * n);
        for (std::size_t c = 0; c < n; ++c)
            for (std::size_t r = 0; r < n; ++r) {
                const double v = h(r, c);
                next(r, c) = v;
                next(r, c + n) = v;
                next(r + n, c) = v;
                next(r + n, c + n) = -v;
            }
        h = std::move(next);
    }
    return h;
}

ComplexVector OneX_FwdMACslot(const RealVector& rpcBits, const RealVector& rpcGains, double raBit, double raGain) {
    if (rpcBits.size() != kRpcChannels || rpcGains.size() != kRpcChannels)
        throw host::Error("OneX_FwdMACslot: RPCbits and RPCgains must each hold 59 values (MAC indices 5 to 63), got " +
                          std::to_string(rpcBits.size()) + " and " + std::to_string(rpcGains.size()) + ".");
    static const RealMatrix walsh = OneX_WalshMatrix(64);
    ComplexVector chips(kMacCodeLength);
    auto add = [&](int macIndex, double amplitude) {
        if (amplitude == 0.0) return;
        const std::size_t code = static_cast<std::size_t>(macWalshCode(macIndex));
        const bool quadrature = macOnQuadrature(macIndex);
        for (std::size_t c = 0; c < kMacCodeLength; ++c) {
            const double v = amplitude * walsh(code, c);
            chips[c] += quadrature ? Complex(0.0, v) : Complex(v, 0.0);
        }
    };
    add(kRaMacIndex, (1.0 - 2.0 * raBit) * raGain);
    for (std::size_t i = 0; i < kRpcChannels; ++i)
        add(static_cast<int>(i) + 5, (1.0 - 2.0 * rpcBits[i]) * rpcGains[i]);
    return OneX_Repeat(chips, kMacChips / kMacCodeLength);
}

ComplexVector OneX_FwdIdleSlot(bool active, double gainDb, std::size_t numberOfChips) {
    ComplexVector out(numberOfChips);
    if (!active) return out;
    const double sigma = std::sqrt(std::pow(10.0, gainDb / 10.0) / 2.0);
    for (Complex& c : out) {
        const double re = host::randn();
        c = Complex(sigma * re, sigma * host::randn());
    }
    return out;
}

RealVector OneX_SignalMap(const RealVector& bits) {
    RealVector out(bits.size());
    for (std::size_t i = 0; i < bits.size(); ++i) out[i] = 1.0 - 2.0 * bits[i];
    return out;
}

}  // namespace onex
