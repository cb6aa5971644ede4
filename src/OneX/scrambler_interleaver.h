#pragma once
// The two optional stages after the turbo encoder: the 17-stage scrambler seeded from the
// MAC index and the DRC index, and the channel interleaver, which splits the code symbols
// into the systematic and parity streams and reorders each with the block permuter.

#include <cstddef>
#include <string_view>

#include "OneX/digits.h"
#include "host/array.h"
#include "host/convert.h"

namespace onex {

inline constexpr std::size_t kScramblerStages = 17;

// The first `length` values of the scrambling sequence: the 17 seed bits (seven ones, the
// 6-bit MAC index and the 4-bit DRC index, most significant bits first), then
// s(j + 17) = s(j) xor s(j + 3).
RealVector scramblingSequence(std::size_t length, double drcValue, double macIndex);

// Code symbols xor the scrambling sequence; a nonzero symbol counts as 1, NaN is refused.
RealVector OneX_FwdScrambler(const RealVector& input, double drcValue, double macIndex);

// Systematic stream permuted with k x m, then each pair of parity streams as one block
// permuted with k x 2m. Code rate 1 passes the input through; otherwise only rates 1/3
// and 0.2 and packet sizes 1024, 2048, 3072 and 4096 are known, and the input must hold
// exactly bits / codeRate symbols.
RealVector OneX_FwdChannelInterleaver(const RealVector& input, double codeRate, double bits);

// The block written row by row into k rows of m columns, each column rotated down
// (type 'U' by c mod k, type 'V' by floor(c / 4) mod k), column c moved to the bit
// reversal of c, and the result read column by column. `type` is 'U' or 'V' in either
// case; m must be a power of two of at least 2; the block must hold k x m symbols.
RealVector OneX_FwdSymbolPermuter(const RealVector& inputBlock, std::size_t k, std::size_t m, char type);

// One number of the modulation-parameter record, for the host forms that take it whole;
// a missing or non-scalar field is refused naming `where.function`.
double modParamsField(const host::Array& modParams, std::string_view field, host::ArgName where);

}  // namespace onex
