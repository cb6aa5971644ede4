#include "host/run_deflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace host {

namespace {

constexpr std::uint32_t kAdlerModulus = 65521;
constexpr std::size_t kLongestMatch = 258, kShortestMatch = 3;

// Lengths 3 ... 258 and distances 1 ... 32768 as the fixed codes spell them: the base of each
// code and its count of extra bits.
constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                                         193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

template <std::size_t N>
std::size_t codeIndex(const std::array<std::uint16_t, N>& base, std::size_t value) {
    return static_cast<std::size_t>(std::upper_bound(base.begin(), base.end(), value) - base.begin()) - 1;
}

std::uint64_t mod(std::uint64_t v) { return v % kAdlerModulus; }

}  // namespace

RunDeflater::RunDeflater() {
    out_ = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary, fastest: (0x7801 % 31 == 0)
    bits(1, 1);           // the last block
    bits(1, 2);           // of fixed codes
}

void RunDeflater::bits(std::uint32_t value, unsigned count) {
    pending_ |= static_cast<std::uint64_t>(value & ((1u << count) - 1)) << pendingBits_;
    pendingBits_ += count;
    while (pendingBits_ >= 8) {
        out_.push_back(static_cast<std::uint8_t>(pending_));
        pending_ >>= 8;
        pendingBits_ -= 8;
    }
}

void RunDeflater::huffman(std::uint32_t code, unsigned length) {
    std::uint32_t reversed = 0;
    for (unsigned i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
    bits(reversed, length);
}

void RunDeflater::literal(std::uint8_t byte) {
    if (byte < 144)
        huffman(0x30u + byte, 8);
    else
        huffman(0x190u + (byte - 144u), 9);
}

void RunDeflater::match(std::size_t length, std::size_t distance) {
    const std::size_t l = codeIndex(kLengthBase, length);
    const std::uint32_t symbol = 257 + static_cast<std::uint32_t>(l);
    if (symbol < 280)
        huffman(symbol - 256, 7);
    else
        huffman(0xC0u + (symbol - 280), 8);
    bits(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
    const std::size_t d = codeIndex(kDistanceBase, distance);
    huffman(static_cast<std::uint32_t>(d), 5);
    bits(static_cast<std::uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

void RunDeflater::literals(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        literal(bytes[i]);
        a_ = static_cast<std::uint32_t>(mod(a_ + bytes[i]));
        b_ = static_cast<std::uint32_t>(mod(b_ + a_));
    }
    total_ += n;
    const std::size_t keep = std::min<std::size_t>(n, sizeof recent_);
    std::memmove(recent_, recent_ + keep, sizeof recent_ - keep);
    std::memcpy(recent_ + sizeof recent_ - keep, bytes + n - keep, keep);
}

void RunDeflater::repeat(std::size_t period, std::size_t copies) {
    if (period == 0 || period > sizeof recent_ || period > total_) throw std::logic_error("RunDeflater: no such bytes to repeat");
    if (copies == 0) return;
    const std::uint8_t* block = recent_ + sizeof recent_ - period;
    std::size_t left = period * copies;
    if (left < kShortestMatch) {
        const std::vector<std::uint8_t> bytes(block, block + period);
        for (std::size_t c = 0; c < copies; ++c) literals(bytes.data(), bytes.size());
        return;
    }
    // Matches at the block's distance; none shorter than three bytes.
    while (left > kLongestMatch) {
        const std::size_t take = left - kLongestMatch < kShortestMatch ? left - kShortestMatch : kLongestMatch;
        match(take, period);
        left -= take;
    }
    match(left, period);

    // Adler-32 over the copies: each adds the block's sum S to a, and to b the running a
    // times the block's length plus the block's own weighted sum W.
    std::uint64_t s = 0, w = 0;
    for (std::size_t i = 0; i < period; ++i) {
        s += block[i];
        w += (period - i) * block[i];
    }
    const std::uint64_t c = mod(copies), n = mod(period), triangle = mod(copies % 2 == 0 ? mod(copies / 2) * mod(copies - 1) : mod(copies) * mod((copies - 1) / 2));
    const std::uint64_t a0 = a_;
    b_ = static_cast<std::uint32_t>(mod(b_ + mod(c * n % kAdlerModulus * a0) + mod(c * mod(w)) + mod(mod(n * mod(s)) * triangle)));
    a_ = static_cast<std::uint32_t>(mod(a0 + mod(c * mod(s))));
    total_ += period * copies;
    // The recent bytes: the last of the copies.
    const std::vector<std::uint8_t> pattern(block, block + period);
    const std::size_t tail = std::min<std::size_t>(sizeof recent_, period * copies);
    std::memmove(recent_, recent_ + tail, sizeof recent_ - tail);
    for (std::size_t i = 0; i < tail; ++i) recent_[sizeof recent_ - tail + i] = pattern[(period * copies - tail + i) % period];
}

std::vector<std::uint8_t> RunDeflater::finish() {
    huffman(0, 7);  // end of block
    if (pendingBits_ > 0) bits(0, 8 - pendingBits_);
    const std::uint32_t adler = (b_ << 16) | a_;
    for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(static_cast<std::uint8_t>(adler >> shift));
    return std::move(out_);
}

}  // namespace host
