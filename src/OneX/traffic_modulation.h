#pragma once
// The back half of the traffic chain: bits to QPSK / 8-PSK / 16-QAM symbols, repetition
// or truncation to the wanted count, demultiplexing over 16 Walsh channels of length 16,
// Walsh covering, channel gain and the sum into one chip row.

#include <cstddef>
#include <string>

#include "OneX/common_channels.h"
#include "host/error.h"

namespace onex {

using host::ComplexMatrix;

inline constexpr std::size_t kTrafficWalshChannels = 16;

// Modulation codes: 1 QPSK, 2 8-PSK, 3 16-QAM.
inline constexpr double kQpsk = 1, kPsk8 = 2, kQam16 = 3;

// Bits per symbol of a modulation code (code + 1); refuses unknown codes, naming `function`.
int bitsPerSymbol(double format, const char* function);

// One symbol from its bits d1 d2 ... (earliest first); `bits` must hold code + 1 values.
Complex OneX_IQmap(const double* bits, std::size_t count, double format);

// ceil(L / b) symbols; a short last group is padded with zero bits.
ComplexVector OneX_FwdTrfModulator(const RealVector& bits, double format);

// The first reqLength symbols of the sequence repeated end to end (truncated when shorter).
template <class V>
V OneX_FwdTrfRepSeq(const V& data, std::size_t reqLength) {
    return repeatToLength(data, reqLength, "OneX_FwdTrfRepSeq");
}

// 16 rows; symbol n (1-based) goes to row ((n - 1) mod 16) + 1, column floor((n - 1) / 16) + 1.
// The sequence is padded with zero symbols to a multiple of 16.
ComplexMatrix OneX_FwdTrfDemux(const ComplexVector& symbols);

// Row i (one Walsh channel) spread by Walsh function i - 1 of length 16.
ComplexMatrix OneX_FwdTrfWalshCover(const ComplexMatrix& input);

// Every chip divided by 4, so 16 unit-power channels sum to unit power.
ComplexMatrix OneX_FwdTrfChnGain(const ComplexMatrix& input);

// Column sums: one chip per column.
ComplexVector OneX_FwdTrfSummer(const ComplexMatrix& input);

// Walsh cover, gain and summer in one pass, without the 16-row intermediates (two of
// 400 kB per slot): OneX_FwdTrfSummer(OneX_FwdTrfChnGain(OneX_FwdTrfWalshCover(input))).
ComplexVector OneX_FwdTrfCoverAndSum(const ComplexMatrix& input);
// The same for one group: 16 symbols (channels 0 ... 15) to their 16 chips.
void coverAndSumGroup(const Complex* symbols, Complex* chips);

}  // namespace onex
