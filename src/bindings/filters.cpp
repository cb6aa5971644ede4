// The host forms of oversampling, the baseband filters, the phase equaliser and inverse FIR
// fits: each unpacks and checks its arrays, calls the typed function and packs the result
// (argument counts are checked from functions.def before it runs).
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <numeric>
#include <string>

#include "OneX/baseband_filter.h"
#include "OneX/filter_design.h"
#include "OneX/inverse_fir.h"
#include "OneX/parameters.h"
#include "OneX/phase_equaliser.h"
#include "host/console.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/parallel.h"
#include "host/records.h"
#include "host/text.h"

// ---- baseband filter

namespace brevia::bind {

using host::Arguments;
using host::Array;

namespace {
int oversamplingArgument(const Array& a, const char* fn, const char* name, long long low) {
    return static_cast<int>(host::integerScalar(a, {fn, name}, low, 1024));
}
}  // namespace

std::vector<Array> upsample(int, Arguments args) {
    constexpr const char* fn = "upsample";
    const Array& x = *args[0];
    if (!x.isVector() && !x.isEmpty())
        throw host::Error(std::string(fn) + ": x must be a row or column vector, not a " + std::to_string(x.rows()) +
                          " x " + std::to_string(x.cols()) + " matrix.");
    const auto n = static_cast<std::size_t>(host::integerScalar(*args[1], {fn, "n"}, 1, host::kMaxElements));
    if (x.numel() > static_cast<std::size_t>(host::kMaxElements) / n)
        throw host::Error(std::string(fn) + ": the result would exceed " + host::num2str(host::kMaxElements) + " samples.");
    Array out = host::applyToElements(x, {fn, "x"}, [&](const auto& v) { return onex::upsample(v, n); });
    if (x.cols() == 1 && x.rows() > 1) out.reshape(out.numel(), 1);  // a column stays a column
    return {std::move(out)};
}

std::vector<Array> upsampleMarker(int, Arguments args) {
    constexpr const char* fn = "upsampleMarker";
    const auto ratio = static_cast<std::size_t>(host::integerScalar(*args[1], {fn, "ratio"}, 1, 1024));
    return {host::toRow(onex::upsampleMarker(host::realVector(*args[0], {fn, "in"}), ratio))};
}

std::vector<Array> FilterCoeff_IS95_Std(int, Arguments args) {
    return {host::toRow(onex::FilterCoeff_IS95_Std(oversamplingArgument(*args[0], "FilterCoeff_IS95_Std", "oversmpl", 2)))};
}

std::vector<Array> FilterCoeff_IS95_Acp(int, Arguments args) {
    return {host::toRow(onex::FilterCoeff_IS95_Acp(oversamplingArgument(*args[0], "FilterCoeff_IS95_Acp", "oversmpl", 2)))};
}

std::vector<Array> OneX_BasebandFilter(int, Arguments args) {
    constexpr const char* fn = "OneX_BasebandFilter";
    const Array& frame = *args[0];
    const int os = oversamplingArgument(*args[1], fn, "oversamplingRate", 1);
    const Array& type = *args[2];
    const onex::BasebandFilterChoice choice = type.isChar()
                                                  ? onex::basebandFilterChoice(type.text())
                                                  : onex::basebandFilterChoice(host::realScalar(type, {fn, "filterType"}));
    Array out = host::toRow(onex::OneX_BasebandFilter(host::complexVector(frame, {fn, "frame"}), os, choice));
    if (frame.isVector()) out.reshape(frame.rows(), frame.cols());
    return {std::move(out)};
}

// ---- phase equaliser

std::vector<Array> OneX_FwdPhaseEq(int, Arguments args) {
    constexpr const char* fn = "OneX_FwdPhaseEq";
    const Array& input = *args[0];
    const int os = static_cast<int>(host::integerScalar(*args[1], {fn, "oversamplingRate"}, 1, 1024));
    Array out = host::toRow(onex::OneX_FwdPhaseEq(host::complexVector(input, {fn, "input"}), os));
    if (input.isVector()) out.reshape(input.rows(), input.cols());
    return {std::move(out)};
}

std::vector<Array> eqlrfilt(int, Arguments args) {
    const onex::Biquad q = onex::eqlrfilt(host::realScalar(*args[0], {"eqlrfilt", "Fs"}));
    return {host::toRow(host::RealVector(q.b.begin(), q.b.end())), host::toRow(host::RealVector(q.a.begin(), q.a.end()))};
}

std::vector<Array> circularShift(int, Arguments args) {
    constexpr const char* fn = "circularShift";
    if (args.empty()) throw host::Error("Usage: circularShift(matrix, [amount], [position], [ 'r' | 'c' ] ");
    const Array& matrix = *args[0];
    auto whole = [&](std::size_t i, const char* name) {
        const double v = host::realScalar(*args[i], {fn, name});
        if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 1e15)
            throw host::Error(std::string(fn) + ": " + name + " must be a whole number.");
        return static_cast<long long>(v);
    };
    const long long amount = args.size() > 1 ? whole(1, "amount") : 1;
    const long long position = args.size() > 2 ? whole(2, "position") : 1;
    const bool rows = args.size() <= 3 || (args[3]->isChar() && args[3]->text() == "r");
    Array out;
    if (matrix.isComplex())
        out = host::toArray(onex::circularShift(host::complexMatrix(matrix, {fn, "matrix"}), amount, position, rows));
    else
        out = host::toArray(onex::circularShift(host::realMatrix(matrix, {fn, "matrix"}), amount, position, rows));
    return {std::move(out)};
}

// ---- inverse fir

namespace {

std::size_t hostLength(const Array& a) { return a.isEmpty() ? 0 : std::max(a.rows(), a.cols()); }
bool isVector(const Array& a) { return a.rows() <= 1 || a.cols() <= 1; }

}  // namespace

std::vector<Array> freq2fir(int, Arguments args) {
    constexpr const char* fn = "freq2fir";
    if (args.size() != 4) throw host::Error("You must have 4 inputs.");
    const Array &n = *args[0], &f = *args[1], &h = *args[2], &sr = *args[3];
    if (hostLength(f) != hostLength(h)) throw host::Error("F must be the same size as H");
    if (!isVector(f)) throw host::Error("F must be either a 1xN or a Nx1 matrix.");
    if (!isVector(h)) throw host::Error("H must be either a 1xN or a Nx1 matrix.");
    return {host::toRow(onex::freq2fir(host::realScalar(n, {fn, "N"}), host::realVector(f, {fn, "F"}),
                                       host::complexVector(h, {fn, "H"}), host::realScalar(sr, {fn, "SR"})))};
}

std::vector<Array> createRealFIR(int, Arguments args) {
    constexpr const char* fn = "createRealFIR";
    if (args.size() != 4) throw host::Error("You must have 4 inputs to createRealFIR.");
    const Array &n = *args[0], &f = *args[1], &h = *args[2], &sr = *args[3];
    const double taps = host::realScalar(n, {fn, "n"});
    if (hostLength(f) != hostLength(h)) throw host::Error("F must be the same size as H");
    if (!isVector(f) || !isVector(h)) throw host::Error("F and H must be either a 1xN or a Nx1 matrix.");
    return {host::toRow(onex::createRealFIR(taps, host::realVector(f, {fn, "F"}), host::complexVector(h, {fn, "H"}),
                                            host::realScalar(sr, {fn, "SR"})))};
}

}  // namespace brevia::bind
