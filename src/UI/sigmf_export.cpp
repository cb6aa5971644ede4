#include "UI/sigmf_export.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "host/error.h"
#include "host/temporary_file.h"
#include "host/text.h"

#ifndef BREVIA_VERSION
#error "BREVIA_VERSION (the release, for the recorder field) is defined by the build"
#endif

namespace ui {

namespace {

constexpr const char* kRecorder = "onexfwd " BREVIA_VERSION;

bool endsWithNoCase(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && host::lowerCase(text.substr(text.size() - ending.size())) == ending;
}

// Whole numbers (every sample count, a rate of whole hertz) as integers, which every reader
// takes as such; anything else in the shortest form that reads back the same. Never the C
// library's formatting, whose decimal separator follows the locale.
std::string jsonNumber(double v) {
    char text[64];
    std::to_chars_result written{};
    if (v == std::floor(v) && std::fabs(v) < 9007199254740992.0)  // 2^53
        written = std::to_chars(text, text + sizeof text, v == 0 ? 0.0 : v, std::chars_format::fixed, 0);
    else
        written = std::to_chars(text, text + sizeof text, v);
    return std::string(text, written.ptr);
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when the bytes there are not
// one (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return n;
}

// ---- the records -----------------------------------------------------------------------

std::size_t sampleCount(const host::Array& waveform) {
    if (!waveform.isNumeric() || waveform.isEmpty()) throw host::Error("There is no waveform to save: calculate it first.");
    if (!waveform.isDouble())
        throw host::Error("The waveform must hold double samples, not " + std::string(waveform.className()) + ".");
    if (!waveform.isVector())
        throw host::Error("The waveform must be a row of samples, not a " + std::to_string(waveform.rows()) + " x " +
                          std::to_string(waveform.cols()) + " matrix.");
    return waveform.numel();
}

double centreFrequency(const host::Array& sigGen) {
    if (!sigGen.isStruct() || sigGen.numel() != 1)
        throw host::Error("SigGenSettings must be the signal generator settings record (a struct).");
    const host::Array* f = sigGen.findField("Frequency");
    if (!f) throw host::Error("SigGenSettings has no field 'Frequency'.");
    if (!f->isNumeric() || f->numel() != 1 || f->isComplex() || !std::isfinite(f->realAt(0)))
        throw host::Error("SigGenSettings.Frequency must be one finite number of hertz.");
    return f->realAt(0);
}

// A text field of a record, or "" when it has none.
std::string textField(const host::Array& record, const char* name) {
    const host::Array* t = record.isStruct() ? record.findField(name) : nullptr;
    return t && t->isChar() ? t->text() : std::string();
}

bool switchedOn(const host::Array& parameters, const char* name) {
    const host::Array* f = parameters.findField(name);
    return f && f->numel() == 1 && f->isNumeric() && f->realAt(0) == 1;
}

const char* filterName(onex::BasebandFilterChoice filter) {
    switch (filter) {
    case onex::BasebandFilterChoice::Rectangular: return "rectangular";
    case onex::BasebandFilterChoice::Standard: return "IS-95 standard";
    case onex::BasebandFilterChoice::Acp: return "IS-95 ACP";
    case onex::BasebandFilterChoice::Evm: return "IS-95 EVM";
    }
    return "unknown";
}

// The modulation codes of slot.DATAslotMod; frameInputsFromParameters refuses any other.
const char* modulationName(double code) { return code == 1 ? "QPSK" : code == 2 ? "8-PSK" : "16-QAM"; }

// What a slot carries, as a signal tool shows it over the slot: its number over the whole
// waveform from 1, then the traffic of its data part.
std::string slotLabel(std::size_t s, const onex::FrameInputs& in, const onex::SlotUse& use, const std::optional<onex::PacketPlan>& plan) {
    std::string label = "slot " + std::to_string(s + 1);
    if (in.mode != onex::FrameMode::FullChannel) return label + " all ones";
    if (use.packet != onex::kNoPacket && plan)
        return label + " packet " + std::to_string(use.packet + 1) + " DRC " + std::to_string(plan->drc);
    if (use.dataIdle) return label + " idle";
    return label + " " + modulationName(in.dataFormat[s % onex::kFrameSlots]);
}

// The settings in one line, as someone looking through a folder of recordings wants them.
std::string description(const onex::FrameInputs& in, const std::optional<onex::PacketPlan>& plan, const host::Array& parameters,
                        const host::Array& sigGen, double sampleRate) {
    std::string title = textField(sigGen, "Title");
    std::replace_if(title.begin(), title.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
    std::string d = title.empty() ? std::string() : title + ": ";
    d += "1xEV forward link, oversampling " + std::to_string(in.oversampling) + ", " + std::to_string(in.frameCount) +
         (in.frameCount == 1 ? " frame" : " frames") + ", pilot PN offset " + host::num2str(in.pilotOffsetIndex);
    if (in.mode != onex::FrameMode::FullChannel) {
        d += ", all-ones frame";
    } else {
        d += std::string(", MAC ") + (switchedOn(parameters, "MACchnActive") ? "on" : "off");
        if (plan) {
            std::string interlaces;
            for (bool on : in.packets->interlaces) interlaces += interlaces.empty() ? (on ? "1" : "0") : (on ? " 1" : " 0");
            d += ", traffic in packets of DRC " + std::to_string(plan->drc) + " to MAC index " + std::to_string(in.packets->macIndex) +
                 " on interlaces " + interlaces + " (" + std::to_string(plan->firstSlots.size()) + " packets)";
        } else {
            d += std::string(", traffic ") + (switchedOn(parameters, "DATAchnActive") ? "on" : "off");
        }
        d += in.idleSlotGainActive != 0 ? ", idle-slot noise " + host::num2str(in.idleSlotGain) + " dB" : std::string(", idle slots silent");
    }
    d += std::string(", ") + filterName(in.filter) + " filter, phase equaliser " + (in.phaseEqActive ? "on" : "off");
    if (in.mirrorSpectrum) d += ", spectrum mirrored";
    // The recording is at the waveform's own rate; an instrument told otherwise plays it
    // faster or slower, which whoever reads the recording should know.
    const host::Array* clock = sigGen.findField("SamplingRate");
    if (clock && clock->numel() == 1 && clock->isNumeric() && clock->realAt(0) != sampleRate)
        d += ", instrument sample clock " + host::num2str(clock->realAt(0)) + " Hz";
    return d;
}

// ---- the files -------------------------------------------------------------------------

void writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw host::Error("writing failed: " + std::system_category().message(n < 0 ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
}

// A sample part as IEEE single precision, rounded to nearest. Past the largest float the
// language leaves the conversion undefined, so the rounding is done here: within half a unit
// of it (2^103) to it, from there on to an infinity.
float single(double v) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (std::isnan(v) || std::fabs(v) <= kLargest) return static_cast<float>(v);
    const float largest = std::numeric_limits<float>::max(), infinity = std::numeric_limits<float>::infinity();
    const float magnitude = std::fabs(v) < kLargest + std::ldexp(1.0, 103) ? largest : infinity;
    return v < 0 ? -magnitude : magnitude;
}

void putLittleEndian(std::uint8_t* out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int b = 0; b < 4; ++b) out[b] = static_cast<std::uint8_t>(bits >> (8 * b));
}

// I then Q of every sample, a block at a time: a long waveform is 126 MB as float32.
void writeSamples(int fd, const host::Array& waveform) {
    constexpr std::size_t kBlock = 8192;
    const std::size_t n = waveform.numel();
    const double* re = waveform.pr();
    const double* im = waveform.pi();  // nullptr for a real waveform: Q is 0
    std::vector<std::uint8_t> bytes(8 * std::min(kBlock, n));
    for (std::size_t from = 0; from < n; from += kBlock) {
        const std::size_t count = std::min(kBlock, n - from);
        for (std::size_t k = 0; k < count; ++k) {
            putLittleEndian(&bytes[8 * k], single(re[from + k]));
            putLittleEndian(&bytes[8 * k + 4], single(im ? im[from + k] : 0.0));
        }
        writeAll(fd, bytes.data(), 8 * count);
    }
}

// Runs one step on `file`, a failure becoming an error that names it.
template <class Step>
void onFile(const std::string& file, Step step) {
    try {
        step();
    } catch (const host::Error& e) {
        throw host::Error("Unable to write '" + file + "': " + e.what() + ".");
    }
}

}  // namespace

std::string jsonQuoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    return out + "\"";
}

bool isSigmfName(std::string_view path) {
    return endsWithNoCase(path, kSigmfMetaExtension) || endsWithNoCase(path, kSigmfDataExtension);
}

SigmfFiles sigmfFiles(const std::string& path) {
    std::string base = path;
    if (isSigmfName(path)) base.resize(path.size() - kSigmfMetaExtension.size());  // both endings are 11 characters
    if (std::filesystem::path(base).filename().empty())
        throw host::Error("'" + path + "' names no recording: give a file name such as frame.sigmf-meta.");
    SigmfFiles files{base + std::string(kSigmfDataExtension), base + std::string(kSigmfMetaExtension)};
    // The file asked for keeps the name it was given.
    if (endsWithNoCase(path, kSigmfMetaExtension)) files.meta = path;
    if (endsWithNoCase(path, kSigmfDataExtension)) files.data = path;
    return files;
}

std::string sigmfMetadata(const host::Array& waveform, const host::Array& parameters, const host::Array& sigGen) {
    static_assert(kSigmfMetaExtension.size() == kSigmfDataExtension.size());
    const std::size_t samples = sampleCount(waveform);
    const onex::FrameInputs in = onex::frameInputsFromParameters(parameters);
    const std::size_t slots = in.frameCount * onex::kFrameSlots;
    const std::size_t slotSamples = onex::kSlotChips * static_cast<std::size_t>(in.oversampling);
    if (samples != slots * slotSamples)
        throw host::Error("The waveform holds " + std::to_string(samples) + " samples; the parameters make " +
                          std::to_string(slots * slotSamples) + " (" + std::to_string(in.frameCount) +
                          (in.frameCount == 1 ? " frame" : " frames") + " at oversampling " + std::to_string(in.oversampling) +
                          "): calculate the waveform again.");
    const double frequency = centreFrequency(sigGen);
    const std::optional<onex::PacketPlan> plan = onex::packetPlanOf(in);
    const std::vector<onex::SlotUse> uses = onex::slotUses(in, plan);
    const double sampleRate = onex::kChipRate * in.oversampling;

    std::string json = "{\n  \"global\": {\n";
    json += "    \"core:datatype\": \"cf32_le\",\n";
    json += "    \"core:version\": \"1.2.0\",\n";
    json += "    \"core:sample_rate\": " + jsonNumber(sampleRate) + ",\n";
    json += "    \"core:num_channels\": 1,\n";
    json += "    \"core:description\": " + jsonQuoted(description(in, plan, parameters, sigGen, sampleRate)) + ",\n";
    json += "    \"core:recorder\": " + jsonQuoted(kRecorder) + "\n  },\n";
    json += "  \"captures\": [\n    {\"core:sample_start\": 0, \"core:frequency\": " + jsonNumber(frequency) + "}\n  ],\n";
    json += "  \"annotations\": [\n";
    const std::string generator = jsonQuoted(kRecorder);
    for (std::size_t s = 0; s < slots; ++s) {
        json += "    {\"core:sample_start\": " + std::to_string(s * slotSamples) + ", \"core:sample_count\": " + std::to_string(slotSamples) +
                ", \"core:generator\": " + generator + ", \"core:label\": " + jsonQuoted(slotLabel(s, in, uses[s], plan)) + "}";
        json += s + 1 < slots ? ",\n" : "\n";
    }
    return json + "  ]\n}\n";
}

void writeSigmfRecording(const std::string& path, const host::Array& waveform, const host::Array& parameters,
                         const host::Array& sigGen) {
    const SigmfFiles files = sigmfFiles(path);
    const std::string meta = sigmfMetadata(waveform, parameters, sigGen);
    // Both temporaries exist and are complete before either is put in place, so that what
    // can fail (a read-only file, a full disk) fails while the earlier pair is still whole.
    // The data goes in first: a reader that finds the new metadata finds its samples.
    std::optional<host::TemporaryBeside> data, text;
    onFile(files.data, [&] { data.emplace(files.data); });
    onFile(files.meta, [&] { text.emplace(files.meta); });
    onFile(files.data, [&] { writeSamples(data->fd(), waveform); });
    onFile(files.meta, [&] { writeAll(text->fd(), reinterpret_cast<const std::uint8_t*>(meta.data()), meta.size()); });
    onFile(files.data, [&] { data->commit(); });
    onFile(files.meta, [&] { text->commit(); });
}

}  // namespace ui
