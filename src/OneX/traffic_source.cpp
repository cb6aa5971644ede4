#include "OneX/traffic_source.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "OneX/common_channels.h"
#include "OneX/pn_spreading.h"
#include "OneX/scrambler_interleaver.h"
#include "OneX/traffic_modulation.h"
#include "OneX/turbo_encoder.h"
#include "host/error.h"
#include "host/text.h"

namespace onex {

namespace {

struct Polynomial {
    std::vector<int> exponents;  // the terms of x^n + ... + 1 other than 1
    bool inverted;
};

// Feedback polynomials of the maximal-length generator, by register length 3 ... 31.
Polynomial polynomialFor(int n, bool zeroSuppression) {
    switch (n) {
    case 3: return {{3, 1}, false};
    case 4: return {{4, 1}, false};
    case 5: return {{5, 2}, false};
    case 6: return {{6, 1}, false};
    case 7: return {{7, 1}, false};
    case 8: return {{8, 4, 3, 2}, false};
    case 9: return {{9, 5}, false};
    case 10: return {{10, 3}, false};
    case 11: return {{11, 9}, false};
    case 12: return {{12, 6, 4, 1}, false};
    case 13: return {{13, 4, 3, 1}, false};
    case 14: return {{14, 12, 2, 1}, false};
    case 15: return {{15, 14}, true};
    case 16: return {{16, 12, 3, 1}, false};
    case 17: return {{17, 3}, false};
    case 18: return {{18, 7}, false};
    case 19: return {{19, 5, 2, 1}, false};
    case 20: return zeroSuppression ? Polynomial{{20, 17}, false} : Polynomial{{20, 3}, false};
    case 21: return {{21, 2}, false};
    case 22: return {{22, 1}, false};
    case 23: return {{23, 18}, true};
    case 24: return {{24, 7, 2}, false};
    case 25: return {{25, 3}, false};
    case 26: return {{26, 6, 2, 1}, false};
    case 27: return {{27, 5, 2, 1}, false};
    case 28: return {{28, 3}, false};
    case 29: return {{29, 27}, true};
    case 30: return {{30, 23, 2, 1}, false};
    case 31: return {{31, 28}, true};
    default: return {{9, 5}, false};
    }
}

// The host's max and min ignore NaN: max(NaN, 3) is 3.
double atLeast(double v, double low) { return std::isnan(v) || v < low ? low : v; }
double atMost(double v, double high) { return v > high ? high : v; }

struct DrcRow {
    double dataRate, slots, bits, codeRate, modulationType, preamble, pilot, mac, data, provided, required;
};

// Stored as constants, as the record holds them; the derived columns are not recomputed.
constexpr double kThird = 1.0 / 3;
constexpr std::array<DrcRow, 12> kDrcTable = {{
    {38.4, 16, 1024, 0.2, 1, 1024, 3072, 4096, 24576, 2560, 24576},
    {76.8, 8, 1024, 0.2, 1, 512, 1536, 2048, 12288, 2560, 12288},
    {153.6, 4, 1024, 0.2, 1, 256, 768, 1024, 6144, 2560, 6144},
    {307.2, 2, 1024, 0.2, 1, 128, 384, 512, 3072, 2560, 3072},
    {307.2, 4, 2048, kThird, 1, 128, 768, 1024, 6272, 3072, 6272},
    {614.4, 1, 1024, kThird, 1, 64, 192, 256, 1536, 1536, 1536},
    {614.4, 2, 2048, kThird, 1, 64, 384, 512, 3136, 3072, 3136},
    {921.6, 2, 3072, kThird, 2, 64, 384, 512, 3136, 3072, 3136},
    {1228.8, 1, 2048, kThird, 1, 64, 192, 256, 1536, 3072, 1536},
    {1228.8, 2, 4096, kThird, 3, 64, 384, 512, 3136, 3072, 3136},
    {1843.2, 1, 3072, kThird, 2, 64, 192, 256, 1536, 3072, 1536},
    {2457.6, 1, 4096, kThird, 3, 64, 192, 256, 1536, 3072, 1536},
}};

// Field names in record order, with the member each maps to.
struct FieldRef {
    const char* name;
    double ModParams::*member;
};
constexpr std::array<FieldRef, 11> kFields = {{
    {"dataRate", &ModParams::dataRate},
    {"slots", &ModParams::slots},
    {"bits", &ModParams::bits},
    {"codeRate", &ModParams::codeRate},
    {"modulationType", &ModParams::modulationType},
    {"preambleTDMChips", &ModParams::preambleTDMChips},
    {"pilotTDMChips", &ModParams::pilotTDMChips},
    {"macTDMChips", &ModParams::macTDMChips},
    {"dataTDMChips", &ModParams::dataTDMChips},
    {"modulationSymbolsProvided", &ModParams::modulationSymbolsProvided},
    {"modulationSymbolsRequired", &ModParams::modulationSymbolsRequired},
}};

}  // namespace

RealVector PNgenerator(const PnSettings& s) {
    double n = s.n.value_or(9);
    n = atMost(atLeast(n, 3), 31);
    const bool zeroSuppression = s.zeroSuppression.value_or(0) == 1;
    double wanted = s.dataLength.value_or(std::pow(2.0, n) - 1);
    // A length that is not a whole number names no register of the table: PN9 stands in.
    const int reg = n == std::floor(n) ? static_cast<int>(n) : 9;
    const Polynomial poly = polynomialFor(reg, zeroSuppression);

    wanted = atLeast(wanted, 1);
    if (wanted > static_cast<double>(host::kMaxElements))
        throw host::Error("PNgenerator: dataLength " + host::num2str(wanted) + " is more than " +
                          host::num2str(host::kMaxElements) + " bits.");
    const auto length = static_cast<std::size_t>(std::floor(wanted));
    const bool userInvert = s.userInvert.value_or(0) == 1;

    const auto len = static_cast<std::size_t>(reg);
    RealVector seed(len, 1.0);
    if (s.seed) {
        const RealVector& given = *s.seed;
        if (given.size() == 1) {
            if (given[0] != 0) {
                std::fill(seed.begin(), seed.end(), 0.0);
                seed.back() = 1.0;
            }
        } else if (given.size() >= len) {
            seed.assign(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(len));
            if (std::all_of(seed.begin(), seed.end(), [](double b) { return b == 0; })) seed.back() = 1.0;
        }
    }

    // Coefficients from x^n down to x^0: positions of the exponents set, reversed, then the 1.
    RealVector taps(len, 0.0);
    for (int e : poly.exponents) taps[static_cast<std::size_t>(e - 1)] = 1.0;
    std::reverse(taps.begin(), taps.end());
    taps.push_back(1.0);
    RealVector sequence = lfsr(reg, taps, length, seed);

    if (reg == 20 && zeroSuppression) {
        // Left to right, so a bit set here already breaks the next window.
        for (std::size_t i = 0; i + 15 <= sequence.size(); ++i) {
            bool allZero = true;
            for (std::size_t k = i; k < i + 15 && allZero; ++k) allZero = sequence[k] == 0;
            if (allZero) sequence[i + 14] = 1.0;
        }
    }
    if (poly.inverted != userInvert)
        for (double& b : sequence) b = 1.0 - b;
    if (sequence.size() > length) sequence.resize(length);
    return sequence;
}

RealVector GenerateBitStream(double type, std::size_t length, const RealVector& pattern) {
    if (type == 1) return RealVector(length, 0.0);
    if (type == 2) return RealVector(length, 1.0);
    if (type == 3 || type == 4) {
        RealVector bits(length);
        for (std::size_t i = 0; i < length; ++i) bits[i] = (i % 2 == 0) == (type == 4) ? 1.0 : 0.0;
        return bits;
    }
    if (type == 5 || type == 6) {
        RealVector bits = PNgenerator({type == 5 ? 9.0 : 15.0, static_cast<double>(length), {}, {}, {}});
        bits.resize(length);  // the generator never returns fewer than one bit; a frame wants exactly `length`
        return bits;
    }
    if (type == 7 || type == 8) {
        if (pattern.empty())
            throw host::Error("GenerateBitStream: the user bit stream is empty; load a user data file first.");
        return extendVector(pattern, length);
    }
    throw host::Error("GenerateBitStream: unknown data source type " + host::num2str(type) + " (1 to 8).");
}

ModParams OneX_FwdTrfChnModParams(double drcValue) {
    ModParams p;
    p.drcValue = drcValue;
    if (drcValue >= 1 && drcValue <= 12 && drcValue == std::floor(drcValue)) {
        const DrcRow& r = kDrcTable[static_cast<std::size_t>(drcValue) - 1];
        p.known = true;
        p.dataRate = r.dataRate, p.slots = r.slots, p.bits = r.bits, p.codeRate = r.codeRate;
        p.modulationType = r.modulationType, p.preambleTDMChips = r.preamble, p.pilotTDMChips = r.pilot;
        p.macTDMChips = r.mac, p.dataTDMChips = r.data, p.modulationSymbolsProvided = r.provided;
        p.modulationSymbolsRequired = r.required;
    }
    return p;
}

host::Array toArray(const ModParams& p) {
    host::Array a = host::Array::structure();
    a.setField("drcValue", host::Array::scalar(p.drcValue));
    if (!p.known) return a;
    for (const FieldRef& f : kFields) a.setField(f.name, host::Array::scalar(p.*f.member));
    return a;
}

ModParams modParamsFromArray(const host::Array& record, const char* function) {
    if (!record.isStruct() || record.numel() != 1)
        throw host::Error(std::string(function) + ": modParams must be a modulation-parameter record (a struct).");
    ModParams p;
    p.known = true;
    if (record.hasField("drcValue")) p.drcValue = modParamsField(record, "drcValue", {function, "modParams"});
    for (const FieldRef& f : kFields)
        if (record.hasField(f.name)) p.*f.member = modParamsField(record, f.name, {function, "modParams"});
    // The chain itself needs these two; a record for an unknown DRC index lacks them.
    for (const char* needed : {"modulationType", "modulationSymbolsRequired"})
        if (!record.hasField(needed))
            throw host::Error(std::string(function) + ": modParams has no field '" + needed + "'.");
    return p;
}

ComplexVector OneX_FwdTrfChn(const RealVector& data, const ModParams& mp, double macIndex, bool encoderActive,
                             bool scramblerActive, bool interleaverActive) {
    RealVector out = data;
    if (encoderActive) out = OneX_FwdEncoder(out, mp.codeRate);
    if (scramblerActive) out = OneX_FwdScrambler(out, mp.drcValue, macIndex);
    if (interleaverActive) out = OneX_FwdChannelInterleaver(out, mp.codeRate, mp.bits);
    const double required = mp.modulationSymbolsRequired;
    if (!(required >= 0) || required > static_cast<double>(host::kMaxElements))
        throw host::Error("OneX_FwdTrfChn: modulationSymbolsRequired must be a count, got " + host::num2str(required) + ".");
    const ComplexVector symbols =
        OneX_FwdTrfRepSeq(OneX_FwdTrfModulator(out, mp.modulationType), static_cast<std::size_t>(std::floor(required)));
    return OneX_FwdTrfCoverAndSum(OneX_FwdTrfDemux(symbols));
}

}  // namespace onex
