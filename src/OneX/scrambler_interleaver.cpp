#include "OneX/scrambler_interleaver.h"

#include <array>
#include <cctype>
#include <cmath>
#include <string>

#include "host/error.h"
#include "host/text.h"

namespace onex {

namespace {

constexpr std::size_t kMacIndexBits = 6;
constexpr std::size_t kDrcBits = 4;

// Negative or fractional indices would otherwise reach the digit conversion, whose message
// does not say which argument was wrong; values too large for their field are left to it,
// so that its own message reports them.
void requireIndex(double v, const char* name) {
    if (!std::isfinite(v) || v < 0 || v != std::floor(v))
        throw host::Error(std::string("OneX_FwdScrambler: ") + name + " must be a non-negative whole number, got " +
                          host::num2str(v) + ".");
}

struct InterleaverShape {
    std::size_t k;
    std::size_t m;
};

InterleaverShape interleaverShape(double bits) {
    if (bits == 1024) return {2, 512};
    if (bits == 2048) return {2, 1024};
    if (bits == 3072) return {3, 1024};
    if (bits == 4096) return {4, 1024};
    throw host::Error("OneX_FwdChannelInterleaver: unknown packet size bits = " + host::num2str(bits) +
                      "; the interleaver knows 1024, 2048, 3072 and 4096.");
}

// Elements first, first + step, ... of `input` (0-based `first`).
RealVector everyNth(const RealVector& input, std::size_t first, std::size_t step) {
    RealVector out;
    out.reserve(input.size() / step + 1);
    for (std::size_t i = first; i < input.size(); i += step) out.push_back(input[i]);
    return out;
}

RealVector concat(RealVector a, const RealVector& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

RealVector scramblingSequence(std::size_t length, double drcValue, double macIndex) {
    requireIndex(macIndex, "macIndex");
    requireIndex(drcValue, "drcValue");
    // Element 0 is the output end, element 16 the input end.
    std::array<double, kScramblerStages> reg;
    reg.fill(1.0);
    const RealVector mac = digitsOf(macIndex, kMacIndexBits, DigitOrder::LeftMsb);
    const RealVector drc = digitsOf(drcValue, kDrcBits, DigitOrder::LeftMsb);
    std::copy(mac.begin(), mac.end(), reg.begin() + 7);
    std::copy(drc.begin(), drc.end(), reg.begin() + 13);
    RealVector s(length);
    for (std::size_t i = 0; i < length; ++i) {
        s[i] = reg[0];
        const double shiftIn = reg[3] != reg[0] ? 1.0 : 0.0;
        std::copy(reg.begin() + 1, reg.end(), reg.begin());
        reg[kScramblerStages - 1] = shiftIn;
    }
    return s;
}

RealVector OneX_FwdScrambler(const RealVector& input, double drcValue, double macIndex) {
    const RealVector s = scramblingSequence(input.size(), drcValue, macIndex);
    RealVector out(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (std::isnan(input[i]))
            throw host::Error("OneX_FwdScrambler: input element " + std::to_string(i + 1) +
                              " is NaN; code symbols must be bits.");
        out[i] = (input[i] != 0) != (s[i] != 0) ? 1.0 : 0.0;
    }
    return out;
}

RealVector OneX_FwdChannelInterleaver(const RealVector& input, double codeRate, double bits) {
    if (codeRate == 1) return input;
    std::size_t streams = 0;
    if (codeRate == 1.0 / 3)
        streams = 3;
    else if (codeRate == 0.2)
        streams = 5;
    else
        throw host::Error("OneX_FwdChannelInterleaver: unknown codeRate " + host::num2str(codeRate) +
                          "; the interleaver knows 1, 1/3 and 0.2.");
    const InterleaverShape shape = interleaverShape(bits);
    const std::size_t expected = shape.k * shape.m * streams;
    if (input.size() != expected)
        throw host::Error("OneX_FwdChannelInterleaver: input holds " + std::to_string(input.size()) +
                          " code symbols; " + host::num2str(bits) + " bits at code rate " + host::num2str(codeRate) +
                          " make " + std::to_string(expected) + ".");

    // The streams in the order the puncturing emits them: X Y0 Y0' at 1/3, X Y0 Y1 Y0' Y1' at 1/5.
    const RealVector u = everyNth(input, 0, streams);
    const RealVector v0 = everyNth(input, 1, streams);
    RealVector out = OneX_FwdSymbolPermuter(u, shape.k, shape.m, 'U');
    if (streams == 3) {
        const RealVector v0p = everyNth(input, 2, streams);
        return concat(std::move(out), OneX_FwdSymbolPermuter(concat(v0, v0p), shape.k, 2 * shape.m, 'V'));
    }
    const RealVector v1 = everyNth(input, 2, streams);
    const RealVector v0p = everyNth(input, 3, streams);
    const RealVector v1p = everyNth(input, 4, streams);
    out = concat(std::move(out), OneX_FwdSymbolPermuter(concat(v0, v0p), shape.k, 2 * shape.m, 'V'));
    return concat(std::move(out), OneX_FwdSymbolPermuter(concat(v1, v1p), shape.k, 2 * shape.m, 'V'));
}

RealVector OneX_FwdSymbolPermuter(const RealVector& inputBlock, std::size_t k, std::size_t m, char type) {
    const char t = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
    if (t != 'U' && t != 'V')
        throw host::Error(std::string("OneX_FwdSymbolPermuter: type must be 'U' or 'V', got '") + type + "'.");
    if (k == 0) throw host::Error("OneX_FwdSymbolPermuter: k must be at least 1.");
    if (m < 2 || (m & (m - 1)) != 0)
        throw host::Error("OneX_FwdSymbolPermuter: m must be a power of two of at least 2, got " + std::to_string(m) +
                          ".");
    if (inputBlock.size() / k != m || inputBlock.size() % k != 0)
        throw host::Error("OneX_FwdSymbolPermuter: inputBlock holds " + std::to_string(inputBlock.size()) +
                          " symbols; k x m = " + std::to_string(k) + " x " + std::to_string(m) + " needs exactly " +
                          std::to_string(k * m) + ".");
    std::size_t len = 0;
    while ((std::size_t{1} << len) < m) ++len;

    RealVector out(k * m);
    for (std::size_t c = 0; c < m; ++c) {
        const std::size_t shift = (t == 'U' ? c : c / 4) % k;
        const std::size_t dest = static_cast<std::size_t>(reverseBits(c, len));
        // Row r of the rotated column is row (r - shift) mod k of the written matrix, whose
        // row r holds input symbols r*m ... r*m + m - 1.
        for (std::size_t r = 0; r < k; ++r) out[dest * k + r] = inputBlock[((r + k - shift) % k) * m + c];
    }
    return out;
}

double modParamsField(const host::Array& modParams, std::string_view field, host::ArgName where) {
    const std::string fn(where.function);
    const std::string arg(where.argument);
    if (!modParams.isStruct())
        throw host::Error(fn + ": " + arg + " must be the modulation-parameter record (a struct), not " +
                          std::string(modParams.className()) + ".");
    if (modParams.numel() != 1)
        throw host::Error(fn + ": " + arg + " must be a single record, not " + std::to_string(modParams.rows()) +
                          " x " + std::to_string(modParams.cols()) + ".");
    const host::Array* value = modParams.findField(field);
    if (!value) throw host::Error(fn + ": " + arg + " has no field '" + std::string(field) + "'.");
    const std::string name = arg + "." + std::string(field);
    return host::realScalar(*value, {where.function, name});
}

}  // namespace onex
