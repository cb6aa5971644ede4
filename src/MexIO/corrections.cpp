#include "MexIO/corrections.h"

#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "MexIO/instrument_wrappers.h"
#include "OneX/baseband_filter.h"
#include "OneX/inverse_fir.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/mat_file.h"
#include "host/records.h"

namespace mexio {

std::vector<std::size_t> strfindpt(std::string_view text, std::string_view pattern) {
    std::vector<std::size_t> at;
    if (pattern.empty() || pattern.size() > text.size()) return at;
    for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i)
        if (text.compare(i, pattern.size(), pattern) == 0) at.push_back(i + 1);
    return at;
}

std::string GetSerialNumber(std::string_view id) {
    const auto us = strfindpt(id, "US");
    if (us.empty()) return {};
    const std::size_t start = us.front() - 1;
    const std::size_t comma = id.find(',', start);
    if (comma == std::string_view::npos) return {};
    return std::string(id.substr(start, comma - start));
}

std::string FormatFreq(double freq) {
    const double f = freq / 1e9;
    const double whole = std::floor(f);
    const double tenths = std::round((f - whole) * 10);  // halves away from zero; 9.9 becomes 10
    return std::to_string(static_cast<long long>(whole)) + "." + std::to_string(static_cast<long long>(tenths)) + " GHz";
}

std::string correctionsDirectory() {
    if (const char* dir = std::getenv("BREVIA_CORRECTIONS_DIR"); dir && *dir) return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/brevia/corrections";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/brevia/corrections";
}

std::string CreateFileName(std::string_view id, double freq) {
    return correctionsDirectory() + "/" + GetSerialNumber(id) + " " + FormatFreq(freq) + ".mat";
}

host::ComplexVector circfilt(const host::ComplexVector& x, const host::RealVector& h) {
    if (h.empty()) throw host::Error("circfilt: the filter has no taps.");
    if (x.size() + 1 < h.size())
        throw host::Error("circfilt: the signal holds " + std::to_string(x.size()) + " samples; a filter of " +
                          std::to_string(h.size()) + " taps needs at least " + std::to_string(h.size() - 1) + ".");
    return onex::circularFir(x, h, h.size() / 2);
}

host::ComplexVector circfilt(const host::ComplexVector& x, const host::ComplexVector& h) {
    host::RealVector re(h.size()), im(h.size());
    bool complexTaps = false;
    for (std::size_t i = 0; i < h.size(); ++i) {
        re[i] = h[i].real();
        im[i] = h[i].imag();
        complexTaps = complexTaps || im[i] != 0;
    }
    host::ComplexVector y = circfilt(x, re);
    if (!complexTaps) return y;
    const host::ComplexVector yIm = circfilt(x, im);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] += host::Complex(0, 1) * yIm[i];
    return y;
}

namespace {

constexpr double kCorrectionTaps = 31;

const char* const kRequiredFields[] = {"rev", "F", "H", "ID", "date", "fltr", "modAttn", "cf", "bw", "pwr"};
const char* const kRevision3Fields[] = {"t1", "t2", "t3", "fbc", "bc", "cbc", "image", "rfChannel"};

// The fields each record must have for its revision, then those every record has.
bool validRecords(const host::Array& x) {
    if (!x.isStruct()) return false;
    for (std::size_t e = 0; e < x.numel(); ++e) {
        const host::Array* rev = x.findField("rev", e);
        if (!rev || rev->numel() != 1 || !(rev->isNumeric() || rev->isLogical())) return false;
        const double r = rev->realAt(0);
        if (r == 3) {
            for (const char* n : kRevision3Fields)
                if (!x.hasField(n)) return false;
        } else if (r == 2) {
            if (!x.hasField("rfChannel")) return false;
        } else if (r != 1) {
            return false;
        }
    }
    for (const char* n : kRequiredFields)
        if (!x.hasField(n)) return false;
    return true;
}

// Element `e` of a struct array as a record of its own.
host::Array recordAt(const host::Array& records, std::size_t e) {
    host::Array r = host::Array::structure();
    for (const auto& name : records.fieldNames()) r.setField(name, records.field(name, e));
    return r;
}

host::ComplexVector inverseResponse(const host::Array& c, const char* responseField, double sampleRate, const char* fn) {
    return onex::createRealFIR(kCorrectionTaps, host::realVector(c.field("F"), {fn, "F"}),
                               host::complexVector(c.field(responseField), {fn, responseField}), sampleRate);
}

void requireRecord(const host::Array& c, const char* fn) {
    if (!c.isStruct() || c.numel() != 1) throw host::Error(std::string(fn) + ": c must be one correction record.");
}

}  // namespace

CorrectionFile LoadOrvexIqCorrectionData(const std::string& fileName) {
    CorrectionFile r;
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec) || (std::filesystem::is_regular_file(fileName, ec) &&
                                                   std::filesystem::file_size(fileName, ec) == 0)) {
        r.status = kFileEmptyOrNotFound;
        return r;
    }
    host::Array contents;
    try {
        contents = host::loadMatFile(fileName);
    } catch (const std::exception& e) {
        r.status = e.what();
        return r;
    }
    if (contents.fieldCount() == 0) {
        r.status = kFileEmptyOrNotFound;
        return r;
    }
    if (const host::Array* v = contents.findField(kCorrectionVariable)) r.x = *v;
    if (!validRecords(r.x)) r.status = kInvalidDataStructure;
    return r;
}

Reply sgQuery(const host::Array& config, const std::string& query) { return hwQuery(config, query); }
Reply sgGetID(const host::Array& config) { return sgQuery(config, "*IDN?"); }

CorrectionLookup GetCorrectionData(double freq, const host::Array& config) {
    CorrectionLookup r;
    const Reply id = sgGetID(config);
    if (id.status != 0) {
        r.status = host::Array::scalar(id.status);
        r.message = id.response.isChar() && !id.response.isEmpty() ? id.response.text() : "The instrument did not answer *IDN?.";
        return r;
    }
    r.fileName = CreateFileName(id.response.isChar() ? id.response.text() : "", freq);
    CorrectionFile file = LoadOrvexIqCorrectionData(r.fileName);
    r.x = std::move(file.x);
    r.status = host::Array::string(file.status);
    r.message = std::move(file.status);
    return r;
}

bool hasResponse(const host::Array& c, std::size_t element, const char* field) {
    const host::Array* v = c.isStruct() ? c.findField(field, element) : nullptr;
    if (!v || v->isEmpty() || !(v->isNumeric() || v->isLogical())) return false;
    for (std::size_t i = 0; i < v->numel(); ++i)
        if (std::isnan(v->realAt(i)) || std::isnan(v->imagAt(i))) return false;
    return true;
}

Corrected ApplyRfChannelCorrection(const host::ComplexVector& s, const host::Array& c, double sampleRate) {
    constexpr const char* fn = "ApplyRfChannelCorrection";
    try {
        requireRecord(c, fn);
        if (host::realScalar(c.field("rev"), {fn, "rev"}) > 1 && hasResponse(c, 0, "rfChannel"))
            return {circfilt(s, inverseResponse(c, "rfChannel", sampleRate, fn)), {}};
        return {s, {}};
    } catch (const std::exception& e) {
        return {s, e.what()};
    }
}

Corrected ApplyIqCorrection(const host::ComplexVector& s, const host::Array& c, double sampleRate) {
    constexpr const char* fn = "ApplyIqCorrection";
    try {
        requireRecord(c, fn);
        const host::ComplexVector taps = inverseResponse(c, "H", sampleRate, fn);
        host::RealVector h(taps.size());
        for (std::size_t i = 0; i < taps.size(); ++i) h[i] = taps[i].real();
        // Real taps filter I and Q apart: keep the filtered Q and put the I branch back.
        host::ComplexVector x = circfilt(s, h);
        for (std::size_t i = 0; i < s.size(); ++i) x[i].real(s[i].real());
        return {std::move(x), {}};
    } catch (const std::exception& e) {
        return {s, e.what()};
    }
}

CorrectedWaveform applyCorrections(host::ComplexVector waveform, const host::Array& records, double sampleRate, bool noFlatness) {
    CorrectedWaveform out{std::move(waveform), 0, 0, {}};
    if (!records.isStruct()) return out;
    auto apply = [&](const char* field, auto&& correction, std::size_t& applied) {
        for (std::size_t e = 0; e < records.numel(); ++e) {
            if (!hasResponse(records, e, field)) continue;
            Corrected c = correction(out.x, recordAt(records, e), sampleRate);
            if (c.status.empty()) {
                out.x = std::move(c.x);
                ++applied;
            } else {
                out.failures.push_back(std::move(c.status));
            }
        }
    };
    if (!noFlatness) apply("rfChannel", ApplyRfChannelCorrection, out.rfApplied);
    apply("H", ApplyIqCorrection, out.iqApplied);
    return out;
}

}  // namespace mexio

// ---- host forms ------------------------------------------------------------------------

namespace brevia::bind {

std::vector<host::Array> circfilt(int, host::Arguments args) {
    const host::Array &x = *args[0], &h = *args[1];
    const host::ComplexVector xs = host::complexVector(x, {"circfilt", "x"});
    host::Array out = host::toRow(h.isComplex() ? mexio::circfilt(xs, host::complexVector(h, {"circfilt", "h"}))
                                                : mexio::circfilt(xs, host::realVector(h, {"circfilt", "h"})));
    if (!x.isComplex() && !h.isComplex()) out.dropZeroImag();  // real in, real out
    if (x.isVector()) out.reshape(x.rows(), x.cols());
    return {std::move(out)};
}

std::vector<host::Array> LoadOrvexIqCorrectionData(int, host::Arguments args) {
    constexpr const char* fn = "LoadOrvexIqCorrectionData";
    if (!args[0]->isChar()) throw host::Error(std::string(fn) + ": fileName must be text.");
    mexio::CorrectionFile file = mexio::LoadOrvexIqCorrectionData(args[0]->text());
    return {std::move(file.x), host::Array::string(file.status)};
}

std::vector<host::Array> GetCorrectionData(int, host::Arguments args) {
    constexpr const char* fn = "GetCorrectionData";
    mexio::CorrectionLookup r = mexio::GetCorrectionData(host::realScalar(*args[0], {fn, "freq"}), host::record("configuration"));
    return {std::move(r.status), std::move(r.x), host::Array::scalar(r.noFlatness)};
}

namespace {

// [x, status]: the corrected waveform in the shape of s, or s itself with the failure.
template <typename Correction>
std::vector<host::Array> correct(const char* fn, host::Arguments args, Correction correction) {
    const host::Array& s = *args[0];
    mexio::Corrected c;
    try {
        c = correction(host::complexVector(s, {fn, "s"}), *args[1], host::realScalar(*args[2], {fn, "sR"}));
    } catch (const std::exception& e) {
        return {s, host::Array::string(e.what())};
    }
    if (!c.status.empty()) return {s, host::Array::string(c.status)};
    host::Array x = host::toRow(c.x);
    x.makeComplex();
    if (s.isVector()) x.reshape(s.rows(), s.cols());
    return {std::move(x), host::Array::string("")};
}

}  // namespace

std::vector<host::Array> ApplyRfChannelCorrection(int, host::Arguments args) {
    return correct("ApplyRfChannelCorrection", args, mexio::ApplyRfChannelCorrection);
}

std::vector<host::Array> ApplyIqCorrection(int, host::Arguments args) {
    return correct("ApplyIqCorrection", args, mexio::ApplyIqCorrection);
}

}  // namespace brevia::bind
