#pragma once
// The forward traffic channel's turbo coder: two 8-state recursive systematic constituent
// encoders joined by the block interleaver, with tail termination and puncturing to code
// rate 1/5, 1/4, 1/3 or 1/2.

#include <cstddef>
#include <vector>

#include "OneX/digits.h"

namespace onex {

// Smallest and largest block the turbo interleaver is defined for (table columns n = 3 ... 7).
inline constexpr std::size_t kMinTurboBlock = 129;
inline constexpr std::size_t kMaxTurboBlock = 4096;
// Bits the encoder drops from the end of the physical-layer packet (room for the tails).
inline constexpr std::size_t kPacketTailBits = 6;

struct ConstituentOutput {
    RealVector x;   // systematic bits, then the three tail input bits
    RealVector y0;  // parity 1 + D + D^3
    RealVector y1;  // parity 1 + D + D^2 + D^3
};

// The packet without its last six bits, turbo coded at `codeRate`.
RealVector OneX_FwdEncoder(const RealVector& packet, double codeRate);

// Rate 1 returns the input as it is; other rates interleave, encode twice and puncture
// (an unknown rate gives an empty result).
RealVector OneX_TurboCoder(const RealVector& input, double rate);

// Feedback 1 + D^2 + D^3; N + 3 outputs each, the last three driving the register to zero.
ConstituentOutput OneX_ConstituentEncoder(const RealVector& input);

// The input read at the interleaver's addresses; N must be 129 ... 4096.
RealVector OneX_TurboInterleaver(const RealVector& input);
// The addresses themselves, 0-based: output k is input element turboInterleaverAddresses(N)[k].
std::vector<std::size_t> turboInterleaverAddresses(std::size_t n);

// (N + 6) / rate symbols for N = length(x) - 3, or none for a rate other than 0.5, 0.25,
// 1/3 and 0.2. All six streams must be equally long and hold at least the three tail bits.
RealVector OneX_TurboPuncturing(const RealVector& x, const RealVector& y0, const RealVector& y1, const RealVector& xp,
                                const RealVector& y0p, const RealVector& y1p, double rate);

}  // namespace onex
