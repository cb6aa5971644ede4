#include "OneX/turbo_encoder.h"

#include <array>
#include <cmath>
#include <string>
#include <tuple>

#include "OneX/common_channels.h"
#include "OneX/scrambler_interleaver.h"
#include "host/error.h"
#include "host/text.h"

namespace onex {

namespace {

// Multipliers of the interleaver, by the counter's five low bits (row) and n - 3 (column).
constexpr std::array<std::array<int, 5>, 32> kTurboInterleaverTable = {{
    {1, 5, 27, 3, 15},   {1, 15, 3, 27, 127}, {3, 5, 1, 15, 89},   {5, 15, 15, 13, 1},  {1, 1, 13, 29, 31},
    {5, 9, 17, 5, 15},   {1, 9, 23, 1, 61},   {5, 15, 13, 31, 47}, {3, 13, 9, 3, 127},  {5, 15, 3, 9, 17},
    {3, 7, 15, 15, 119}, {5, 11, 3, 31, 15},  {3, 15, 13, 17, 57}, {5, 3, 1, 5, 123},   {5, 15, 13, 39, 95},
    {1, 5, 29, 1, 5},    {3, 13, 21, 19, 85}, {5, 15, 19, 27, 17}, {3, 9, 1, 15, 55},   {5, 3, 3, 13, 57},
    {3, 1, 29, 45, 15},  {5, 3, 17, 5, 41},   {5, 15, 25, 33, 93}, {5, 1, 29, 15, 87},  {1, 13, 9, 13, 63},
    {5, 1, 13, 9, 15},   {1, 9, 23, 15, 13},  {5, 15, 13, 31, 15}, {3, 11, 13, 17, 81}, {5, 3, 1, 5, 57},
    {5, 15, 13, 15, 31}, {3, 5, 13, 33, 69},
}};

constexpr std::size_t kCounterLowBits = 5;


// Code symbols per data bit of a puncturing rate, 0 for a rate the coder does not know.
std::size_t symbolsPerBit(double rate) {
    if (rate == 0.2) return 5;
    if (rate == 0.25) return 4;
    if (rate == 1.0 / 3) return 3;
    if (rate == 0.5) return 2;
    return 0;
}

}  // namespace

ConstituentOutput OneX_ConstituentEncoder(const RealVector& input) {
    const std::size_t n = input.size();
    ConstituentOutput out{RealVector(n + 3), RealVector(n + 3), RealVector(n + 3)};
    double s1 = 0, s2 = 0, s3 = 0;  // s1 the most recent feedback bit
    for (std::size_t i = 0; i < n; ++i) {
        const double u = input[i];
        out.x[i] = u;
        out.y0[i] = mod2(u + s1 + s2);
        out.y1[i] = mod2(u + s1);
        const double feedback = mod2(u + s2 + s3);
        s3 = s2;
        s2 = s1;
        s1 = feedback;
    }
    // Each tail input cancels the feedback, so three periods flush the register.
    for (std::size_t i = n; i < n + 3; ++i) {
        out.x[i] = mod2(s3 + s2);
        out.y0[i] = mod2(s3 + s1);
        out.y1[i] = mod2(s3 + s2 + s1);
        s3 = s2;
        s2 = s1;
        s1 = 0;
    }
    return out;
}

std::vector<std::size_t> turboInterleaverAddresses(std::size_t n) {
    if (n < kMinTurboBlock || n > kMaxTurboBlock)
        throw host::Error("OneX_TurboInterleaver: the block holds " + std::to_string(n) +
                          " bits; the interleaver is defined for " + std::to_string(kMinTurboBlock) + " to " +
                          std::to_string(kMaxTurboBlock) + " bits.");
    // n = ceil(log2 N) - 5: the counter's high part has `width` bits.
    std::size_t width = 0;
    while ((std::size_t{1} << (width + kCounterLowBits)) < n) ++width;
    const std::size_t highSize = std::size_t{1} << width;
    const std::size_t column = width - 3;

    std::vector<std::size_t> addresses;
    addresses.reserve(n);
    // For each low part the high part runs through a permutation (an odd multiplier mod 2^n),
    // so the counter's 2^(n + 5) values hit every address below 2^(n + 5) once: the loop ends.
    for (std::size_t counter = 0; addresses.size() < n; ++counter) {
        const std::size_t msb = ((counter >> kCounterLowBits) + 1) % highSize;
        const std::size_t lsb = counter & ((std::size_t{1} << kCounterLowBits) - 1);
        const auto lookup = static_cast<std::size_t>(kTurboInterleaverTable[lsb][column]);
        const std::size_t newLsb = (lookup * msb) % highSize;
        const auto newAddr = static_cast<std::size_t>(reverseBits(lsb, kCounterLowBits)) * highSize + newLsb;
        if (newAddr < n) addresses.push_back(newAddr);
    }
    return addresses;
}

RealVector OneX_TurboInterleaver(const RealVector& input) {
    const std::vector<std::size_t> addresses = turboInterleaverAddresses(input.size());
    RealVector out(input.size());
    for (std::size_t k = 0; k < addresses.size(); ++k) out[k] = input[addresses[k]];
    return out;
}

RealVector OneX_TurboPuncturing(const RealVector& x, const RealVector& y0, const RealVector& y1, const RealVector& xp,
                                const RealVector& y0p, const RealVector& y1p, double rate) {
    const std::size_t per = symbolsPerBit(rate);
    if (per == 0) return {};
    if (x.size() < 3)
        throw host::Error("OneX_TurboPuncturing: x holds " + std::to_string(x.size()) +
                          " values; it needs at least the three tail bits.");
    const std::array<const RealVector*, 5> others = {&y0, &y1, &xp, &y0p, &y1p};
    const std::array<const char*, 5> names = {"y0", "y1", "xp", "y0p", "y1p"};
    for (std::size_t s = 0; s < others.size(); ++s)
        if (others[s]->size() != x.size())
            throw host::Error("OneX_TurboPuncturing: " + std::string(names[s]) + " holds " +
                              std::to_string(others[s]->size()) + " values; x holds " + std::to_string(x.size()) +
                              " and every stream must be as long.");

    const std::size_t n = x.size() - 3;
    RealVector out((n + 6) * per, 0.0);
    // Position p is 1-based, as are the bit indices i and c below.
    auto put = [&](std::size_t p, double v) { out[p - 1] = v; };
    auto bit = [](const RealVector& v, std::size_t i) { return v[i - 1]; };

    for (std::size_t i = 1; i <= n; ++i) {
        const bool odd = i % 2 == 1;
        switch (per) {
        case 5:
            put(5 * i - 4, bit(x, i));
            put(5 * i - 3, bit(y0, i));
            put(5 * i - 2, bit(y1, i));
            put(5 * i - 1, bit(y0p, i));
            put(5 * i, bit(y1p, i));
            break;
        case 3:
            put(3 * i - 2, bit(x, i));
            put(3 * i - 1, bit(y0, i));
            put(3 * i, bit(y0p, i));
            break;
        case 4:
            put(4 * i - 3, bit(x, i));
            put(4 * i - 2, bit(y0, i));
            put(4 * i - 1, odd ? bit(y1, i) : bit(y0p, i));
            put(4 * i, bit(y1p, i));
            break;
        default:
            put(2 * i - 1, bit(x, i));
            put(2 * i, odd ? bit(y0, i) : bit(y0p, i));
            break;
        }
    }

    // Each encoder's three tail periods fill 3 x per positions, the second encoder's right
    // after the first's, so that the block ends exactly at (N + 6) / rate.
    const std::size_t second = 3 * per;
    for (std::size_t c = n + 1; c <= n + 3; ++c) {
        for (const auto& [shift, sx, sy0, sy1] :
             {std::tuple{std::size_t{0}, &x, &y0, &y1}, std::tuple{second, &xp, &y0p, &y1p}}) {
            const std::size_t b = per * c - per + shift;  // the period's first position, less one
            switch (per) {
            case 5:
                put(b + 1, bit(*sx, c));
                put(b + 2, bit(*sx, c));
                put(b + 3, bit(*sy0, c));
                put(b + 4, bit(*sy1, c));
                put(b + 5, bit(*sy1, c));
                break;
            case 3:
                put(b + 1, bit(*sx, c));
                put(b + 2, bit(*sx, c));
                put(b + 3, bit(*sy0, c));
                break;
            case 4:
                put(b + 1, bit(*sx, c));
                put(b + 2, bit(*sx, c));
                put(b + 3, bit(*sy0, c));
                put(b + 4, bit(*sy1, c));
                break;
            default:
                put(b + 1, bit(*sx, c));
                put(b + 2, bit(*sy0, c));
                break;
            }
        }
    }
    return out;
}

RealVector OneX_TurboCoder(const RealVector& input, double rate) {
    if (rate == 1) return input;
    const RealVector interleaved = OneX_TurboInterleaver(input);
    const ConstituentOutput a = OneX_ConstituentEncoder(input);
    const ConstituentOutput b = OneX_ConstituentEncoder(interleaved);
    return OneX_TurboPuncturing(a.x, a.y0, a.y1, b.x, b.y0, b.y1, rate);
}

RealVector OneX_FwdEncoder(const RealVector& packet, double codeRate) {
    if (packet.size() < kPacketTailBits)
        throw host::Error("OneX_FwdEncoder: the packet holds " + std::to_string(packet.size()) +
                          " bits; it needs at least the " + std::to_string(kPacketTailBits) +
                          " bits that make room for the tails.");
    const RealVector input(packet.begin(), packet.end() - static_cast<std::ptrdiff_t>(kPacketTailBits));
    return OneX_TurboCoder(input, codeRate);
}

}  // namespace onex
