#pragma once
// The traffic channel's payload and configuration: the data sources of a frame, the
// general maximal-length PN generator behind two of them, the modulation parameters of
// each DRC index and the traffic chain that turns a burst of bits into chips.

#include <cstddef>
#include <optional>
#include <string>

#include "host/array.h"
#include "host/matrix.h"

namespace onex {

using host::ComplexVector;
using host::RealVector;

// PN generator settings; a value left out takes the generator's default.
struct PnSettings {
    std::optional<double> n;           // register length, clamped to 3 ... 31 (default 9)
    std::optional<double> dataLength;  // bits wanted, at least 1 (default 2^n - 1)
    std::optional<double> userInvert;  // exactly 1 inverts (default 0)
    std::optional<RealVector> seed;    // scalar or vector seed (default n ones)
    std::optional<double> zeroSuppression;  // exactly 1 caps zero runs at 14 for n = 20
};
RealVector PNgenerator(const PnSettings& settings);

// Data sources: 1 zeros, 2 ones, 3 0101..., 4 1010..., 5 PN9, 6 PN15, 7 and 8 the pattern
// repeated cyclically. Exactly `length` bits.
RealVector GenerateBitStream(double type, std::size_t length, const RealVector& pattern = {});

// The modulation-parameter record of a DRC index, in the order the record keeps its fields.
struct ModParams {
    double drcValue = 0;
    bool known = false;  // false for a DRC index outside 1 ... 12: only drcValue is set
    double dataRate = 0, slots = 0, bits = 0, codeRate = 0, modulationType = 0;
    double preambleTDMChips = 0, pilotTDMChips = 0, macTDMChips = 0, dataTDMChips = 0;
    double modulationSymbolsProvided = 0, modulationSymbolsRequired = 0;
};
ModParams OneX_FwdTrfChnModParams(double drcValue);
host::Array toArray(const ModParams& p);
// Reads the record a caller passes (which may have changed or dropped fields); a field the
// chain needs and the record lacks is an error naming it.
ModParams modParamsFromArray(const host::Array& record, const char* function);

// One traffic burst: optional turbo encoder, scrambler and channel interleaver (in that
// order), then modulation, repetition to modulationSymbolsRequired symbols, 16-way Walsh
// channelisation, gain and summation.
ComplexVector OneX_FwdTrfChn(const RealVector& data, const ModParams& modParams, double macIndex, bool encoderActive,
                             bool scramblerActive, bool interleaverActive);

}  // namespace onex
