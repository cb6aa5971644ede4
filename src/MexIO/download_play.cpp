#include "MexIO/download_play.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "host/convert.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/interrupt.h"
#include "host/text.h"

namespace mexio {

namespace {

constexpr double kChipRate = 1228800.0;

double settingNumber(const host::Array& setting, const char* name, const char* function) {
    const host::Array* f = setting.isStruct() ? setting.findField(name) : nullptr;
    if (!f) throw host::Error(std::string(function) + ": setting has no field '" + name + "'.");
    return host::realScalar(*f, {function, name});
}

// A setting the application never sets has a default here.
double settingOr(const host::Array& setting, const char* name, double fallback, const char* function) {
    return setting.isStruct() && setting.hasField(name) ? settingNumber(setting, name, function) : fallback;
}

std::string reconFilterText(double v) {
    if (v == 1) return "250.0khz";
    if (v == 2) return "2.5Mhz";
    if (v == 3) return "8Mhz";
    return "through";
}

std::string bbFilterText(double v) {
    if (v == 1) return "2.1MHz";
    if (v == 2) return "40MHz";
    return "Through";
}

// The steps of an instrument sequence all run, in order, whatever each gives: an instrument
// left half set up is worse than one set up as far as it would go. The result is the first
// failure, with the step it happened on, so that a later success cannot hide it; without
// one it is the last step's.
class StepResults {
public:
    void add(Reply reply, const std::string& step) {
        if (reply.status != 0 && !failed_) {
            const std::string message = reply.response.isChar() && !reply.response.isEmpty()
                                            ? reply.response.text()
                                            : "the instrument gave no message";
            first_ = {reply.status, host::Array::string(message + " (at " + step + ")")};
            failed_ = true;
        }
        last_ = std::move(reply);
    }
    Reply result() const { return failed_ ? first_ : last_; }

private:
    bool failed_ = false;
    Reply first_, last_;
};

// How a command is named in a message: without the blanks around it that some carry.
std::string commandStep(const std::string& command) {
    const std::size_t from = command.find_first_not_of(' ');
    const std::size_t to = command.find_last_not_of(' ');
    return from == std::string::npos ? std::string("an empty command")
                                     : "the command \"" + command.substr(from, to - from + 1) + "\"";
}

// Over the raw socket a command the instrument refused is accepted as sent: only its error
// queue tells. These sequences empty it first (*CLS) and read it to its end afterwards.
bool rawSocket(const host::Array& config) {
    const host::Array* type = config.isStruct() ? config.findField("type") : nullptr;
    return type && type->isChar() && host::lowerCase(type->text()) == "lan";
}

constexpr const char* kErrorQueueStep = "the check of the instrument's error queue";

// The error queue read to its end ("+0,..."), at most 32 entries: a failure naming every
// error it held, or success.
Reply instrumentErrors(const host::Array& config) {
    std::vector<std::string> errors;
    for (int i = 0; i < 32; ++i) {
        Reply r = hwQuery(config, ":SYST:ERR?");
        if (r.status != 0) return r;
        std::string text = r.response.isChar() ? r.response.text() : std::string();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        const std::vector<double> code = host::parseNumbers(text.substr(0, text.find(',')));
        if (code.size() == 1 && code[0] == 0) break;
        errors.push_back(text);
    }
    if (errors.empty()) return {0, host::Array::string("No error")};
    std::string message = "the instrument reported ";
    for (std::size_t i = 0; i < errors.size(); ++i) message += (i ? "; " : "") + errors[i];
    return {-1, host::Array::string(message)};
}

Reply sendAll(const host::Array& config, const std::vector<std::string>& commands) {
    host::setProgressStep("Setting up playback");
    StepResults results;
    const bool socket = rawSocket(config);
    if (socket) results.add(hwSend(config, "*CLS"), commandStep("*CLS"));
    for (const auto& c : commands) results.add(hwSend(config, c), commandStep(c));
    if (socket) results.add(instrumentErrors(config), kErrorQueueStep);
    results.add(hwReturnLocal(config), "the return to local control");
    if (host::interruptRequested()) return {-1, host::Array::string(kSetupCancelled)};
    return results.result();
}

std::vector<std::string> commonHead(const std::string& fileName, const host::Array& s, const char* fn) {
    return {" :source:rad:arb:state off",
            " :source:rad:arb:wav \"arbi:" + fileName + "\" ",
            " :source:freq:fix " + host::num2str(settingNumber(s, "Frequency", fn)) + "Hz",
            " :source:power:level:immediate:amplitude " + host::num2str(settingNumber(s, "Amplitude", fn)) + "dbm",
            " :source:rad:arb:clock:srate " + host::num2str(settingNumber(s, "SamplingRate", fn)) + "Hz"};
}

std::vector<std::string> commonTail(const host::Array& s, const char* fn) {
    return {" :source:rad:arb:marker:rfblank " + std::string(settingNumber(s, "RFblanking", fn) == 1 ? "on" : "off"),
            " :source:rad:arb:marker:polarity " + std::string(settingNumber(s, "MarkerPolarity", fn) == 0 ? "Pos" : "Neg"),
            " :source:rad:arb:clock:ref " + std::string(settingNumber(s, "ArbRefSource", fn) == 0 ? "int" : "ext"),
            " :source:rad:arb:state on", " :output:state on"};
}

}  // namespace

host::Array initialSigGenSettings(double overSampling) {
    host::Array s = host::Array::structure();
    s.setField("Title", host::Array::string("OneX-Fwd"));
    s.setField("Frequency", host::Array::scalar(2200000000));
    s.setField("Amplitude", host::Array::scalar(-30));
    s.setField("SamplingRate", host::Array::scalar(kChipRate * overSampling));
    s.setField("ReconFilter", host::Array::scalar(2));
    s.setField("RFblanking", host::Array::scalar(0));
    s.setField("ArbRefSource", host::Array::scalar(0));
    s.setField("MarkerPolarity", host::Array::scalar(0));
    return s;
}

Reply OrvexDownLoadWrap(const host::Array& iqData, const host::Array& markers, const std::string& filename,
                        const host::Array& config, double segments) {
    if (segments == 0 || std::isnan(segments)) segments = 1;
    host::setProgressStep("Opening the connection");
    const Reply timeout = hwSetTimeout(config, 10000);
    const host::Array* type = config.isStruct() ? config.findField("type") : nullptr;
    if (type && type->isChar() && host::lowerCase(type->text()) == "rs232" && segments > 0) {
        const host::Array* rs232 = config.findField("RS232");
        const host::Array* baud = rs232 && rs232->isStruct() ? rs232->findField("baudrate") : nullptr;
        const double rate = baud && baud->numel() >= 1 && !baud->isStruct() && !baud->isCell() ? baud->realAt(0) : 0;
        if (rate > 0) {
            const double minutes = 32.0 * static_cast<double>(iqData.numel()) * 1.125 / rate / 60.0 * segments;
            if (minutes > 0.75) {
                char text[160];
                std::snprintf(text, sizeof text, "This download will take approximately %0.1f minutes. Do you want to continue?",
                              minutes);
                if (host::dialogs().question(text, "RS-232 Download", {"OK", "Cancel"}, "Cancel") != "OK")
                    return {-1, host::Array::string(kDownloadCancelled)};
            }
        }
    }
    StepResults results;
    // The first command of a session opens it: its failure is nearly always the connection's.
    results.add(timeout, "opening the connection with a 10 s time-out");
    host::setProgressStep("Asking the instrument what it plays");
    const bool socket = rawSocket(config);
    if (socket) results.add(hwSend(config, "*CLS"), commandStep("*CLS"));
    const Reply state = hwQuery(config, ":SOUR:RAD:ARB:STATe?");
    results.add(state, "the query \":SOUR:RAD:ARB:STATe?\"");
    results.add(hwSend(config, ":SOUR:RAD:ARB:STATe OFF"), commandStep(":SOUR:RAD:ARB:STATe OFF"));
    host::setProgressStep("Sending waveform");
    results.add(hwDownload(config, iqData, markers, filename), "the transfer of \"" + filename + "\"");
    host::setProgressStep("Starting the waveform");
    results.add(hwSend(config, "\n"), "the line feed that closes the transfer");
    if (state.status == 0 && state.response.isChar() && host::parseNumbers(state.response.text()) == std::vector<double>{1})
        results.add(hwSend(config, ":SOUR:RAD:ARB:STATe ON"), commandStep(":SOUR:RAD:ARB:STATe ON"));
    results.add(hwSend(config, ":OUTPUT:MOD ON"), commandStep(":OUTPUT:MOD ON"));
    if (socket) results.add(instrumentErrors(config), kErrorQueueStep);
    if (host::interruptRequested()) return {-1, host::Array::string(kDownloadCancelled)};
    return results.result();
}

Reply OrvexPlay(const std::string& fileName, const host::Array& s, const host::Array& config) {
    constexpr const char* fn = "OrvexPlay";
    std::vector<std::string> commands = commonHead(fileName, s, fn);
    commands.push_back(" :source:rad:arb:rfilter " + reconFilterText(settingNumber(s, "ReconFilter", fn)));
    for (auto& c : commonTail(s, fn)) commands.push_back(std::move(c));
    return sendAll(config, commands);
}

Reply OrvexPlay_c(const std::string& fileName, const host::Array& s, const host::Array& config) {
    constexpr const char* fn = "OrvexPlay_c";
    // Defaults for what the application never sets: baseband filter through, full run-time
    // scaling, no modulator attenuation, ALC off.
    std::vector<std::string> commands = commonHead(fileName, s, fn);
    commands.push_back(" :source:dm:bbfilter " + bbFilterText(settingOr(s, "BBfilter", 3, fn)));
    commands.push_back(" :source:rad:ARB:rscaling " + host::num2str(settingOr(s, "Scaling", 100, fn)));
    commands.push_back(":source:DM:IQAT:AUTO off");
    commands.push_back(":source:DM:IQAT " + host::num2str(settingOr(s, "ModAtten", 0, fn)));
    commands.push_back(" :pow:alc:state " + std::string(settingOr(s, "ALC", 0, fn) == 0 ? "off" : "on"));
    for (auto& c : commonTail(s, fn)) commands.push_back(std::move(c));
    commands.push_back(" :OUTPUT:MOD ON");
    return sendAll(config, commands);
}

host::ComplexVector applyDacRes(const host::ComplexVector& wave, double numBits) {
    if (!(numBits > 2)) return wave;
    numBits = std::min(32.0, numBits);
    double peak = 0;
    for (const auto& s : wave) peak = std::max({peak, std::fabs(s.real()), std::fabs(s.imag())});
    if (!(peak > 0) || !std::isfinite(peak)) return wave;
    const double scale = (std::pow(2.0, numBits - 1) - 1) / peak;
    host::ComplexVector out(wave.size());
    for (std::size_t i = 0; i < wave.size(); ++i)
        out[i] = {std::round(wave[i].real() * scale) / scale, std::round(wave[i].imag() * scale) / scale};
    return out;
}

}  // namespace mexio

// ---- host forms ------------------------------------------------------------------------

namespace brevia::bind {

using host::Arguments;
using host::Array;

namespace {

std::string textArgument(const Array& a, const char* fn, const char* name) {
    if (!a.isChar()) throw host::Error(std::string(fn) + ": " + name + " must be text.");
    return a.text();
}

std::vector<Array> reply(const mexio::Reply& r) { return {Array::scalar(r.status), r.response}; }

}  // namespace

std::vector<Array> OrvexDownLoadWrap(int, Arguments args) {
    constexpr const char* fn = "OrvexDownLoadWrap";
    const double segments = args.size() > 4 ? host::realScalar(*args[4], {fn, "num_wfm_segments"}) : 1;
    return reply(mexio::OrvexDownLoadWrap(*args[0], *args[1], textArgument(*args[2], fn, "Filename"), *args[3], segments));
}

std::vector<Array> OrvexPlay(int, Arguments args) {
    return reply(mexio::OrvexPlay(textArgument(*args[0], "OrvexPlay", "FileName"), *args[1], *args[2]));
}

std::vector<Array> OrvexPlay_c(int, Arguments args) {
    return reply(mexio::OrvexPlay_c(textArgument(*args[0], "OrvexPlay_c", "FileName"), *args[1], *args[2]));
}

std::vector<Array> applyDacRes(int, Arguments args) {
    constexpr const char* fn = "applyDacRes";
    const Array& wave = *args[0];
    Array out = host::toRow(mexio::applyDacRes(host::complexVector(wave, {fn, "wave"}), host::realScalar(*args[1], {fn, "numBits"})));
    if (wave.isComplex()) out.makeComplex();
    out.reshape(wave.rows(), wave.cols());
    return {std::move(out)};
}

}  // namespace brevia::bind
