#include "ext/signal_generator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"
#include "ext/text.h"

namespace vesk {

namespace {

constexpr int kReplyLimit = 65535;

void setStatus(const std::string& text) { IOManager::instance().setStatusText(text); }


// The largest |I| or |Q|, each part on its own; NaNs are passed over.
double peakOf(std::size_t count, const double* i, const double* q) {
    double peak = 0;
    for (const double* part : {i, q}) {
        if (!part) continue;
        for (std::size_t j = 0; j < count; ++j) peak = std::max(peak, std::abs(part[j]));
    }
    return peak;
}

// Rounds a scaled sample half away from zero and limits it to [low, high]: a value beyond
// the range is clipped rather than wrapped, and a NaN becomes 0. Same result as
// roundHalfAway followed by a clamp, but without a call to trunc() (the baseline
// instruction set has none) and without a branch on the sign, which random data would
// mispredict half the time. -0.0 gains -0.5 instead of +0.5; both truncate to 0.
int toCode(double scaled, int low, int high) {
    if (std::isnan(scaled)) return 0;
    if (scaled >= high) return high;
    if (scaled <= low) return low;
    return static_cast<int>(scaled + std::copysign(0.5, scaled));
}

bool isOn(const double* markers, std::size_t rows, std::size_t sample, std::size_t row) {
    return markers[sample * rows + row] > 0;
}

// The number that starts at `from` (after blanks and a plus sign), or 0 when there is none.
// Read without the C library's locale: an instrument writes a decimal point whatever
// locale the host process runs in.
double numberAt(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= text.size() || to <= from) return 0;
    std::size_t first = from;
    while (first < to && first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
    if (first < to && text[first] == '+') ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data() + first, text.data() + std::min(to, text.size()), value);
    return ec != std::errc() || std::isnan(value) ? 0 : value;
}

}  // namespace

double roundHalfAway(double value) { return std::trunc(value >= 0 ? value + 0.5 : value - 0.5); }

std::string blockHeader(std::size_t byteCount) {
    const std::string digits = std::to_string(byteCount);
    return "#" + std::to_string(digits.size()) + digits;
}

// ---------------------------------------------------------------------------------------
// SignalGenerator

SignalGenerator::~SignalGenerator() = default;

void SignalGenerator::setGain(double gain) {
    if (gain > 1)
        gain_ = 1;
    else if (gain > 0)
        gain_ = gain;
    else  // zero, negative or not a number
        gain_ = 0;
}

bool SignalGenerator::checkSamples(std::size_t count, std::size_t markerColumns) {
    if (count % 2 != 0) {
        setStatus("Number of IQ samples are not in multiples of 2.");
        return false;
    }
    if (count < 16) {
        setStatus("Number of IQ samples are less than 16.");
        return false;
    }
    if (markerColumns != count) {
        setStatus("Marker should have the same length as IQ data.");
        return false;
    }
    return true;
}

void SignalGenerator::normalizeIQ(std::size_t count, const double* i, const double* q, std::vector<double>& iOut,
                                  std::vector<double>& qOut) const {
    iOut.assign(count, 0.0);
    qOut.assign(count, 0.0);
    if (i) std::copy(i, i + count, iOut.begin());
    if (q) std::copy(q, q + count, qOut.begin());
    if (!normalize_) return;
    const double peak = peakOf(count, i, q);
    if (peak <= 0) return;
    for (double& v : iOut) v /= peak;
    for (double& v : qOut) v /= peak;
}

bool SignalGenerator::isPlaying(const std::string& quotedName, bool& playing) {
    playing = false;
    std::string reply;
    if (!session_.queryText(reply, "rad:arb?", kReplyLimit)) return false;
    if (reply == "0") return true;
    if (!session_.queryText(reply, "rad:arb:wav?", kReplyLimit)) return false;
    playing = equalsIgnoringCase(reply, quotedName);
    return true;
}

bool SignalGenerator::stopIfPlaying(const std::string& quotedName, bool& switchedOff) {
    if (!isPlaying(quotedName, switchedOff)) return false;
    return !switchedOff || session_.sendCommand("rad:arb 0");
}

bool SignalGenerator::finishDownload(bool switchedOff) {
    return (!switchedOff || session_.sendCommand("rad:arb 1")) && session_.confirmWrites();
}

bool SignalGenerator::sendBinaryBlock(const std::string& prefix, const std::uint8_t* bytes, std::size_t count) {
    const std::string header = prefix + " , " + blockHeader(count);
    if (!session_.writeBytes(reinterpret_cast<const std::uint8_t*>(header.data()), header.size())) return false;
    session_.beforeBinaryData();
    return session_.writeBytes(bytes, count) && session_.sendCommand("") && session_.confirmWrites();
}

namespace {

// Reads exactly `count` bytes; a transport that returns fewer without an error has been
// cut short by the instrument.
bool readFully(HardwareIO& session, std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        std::size_t got = 0;
        if (!session.readBytes(buffer + done, count - done, got)) return false;
        if (got == 0) {
            setStatus("The instrument sent fewer bytes than its block header announced");
            return false;
        }
        done += std::min(got, count - done);
    }
    return true;
}

constexpr const char* kInvalidBlockText = "Invalid query result when querying binary file";

}  // namespace

bool SignalGenerator::readBlockHeader(const std::string& command, std::size_t& count) {
    count = 0;
    if (!session_.prepareRead() || !session_.sendCommand(command)) return false;
    std::uint8_t mark = 0;
    if (!readFully(session_, &mark, 1)) return false;
    if (mark != '#') {
        setStatus(kInvalidBlockText);
        return false;
    }
    std::uint8_t digitCount = 0;
    if (!readFully(session_, &digitCount, 1)) return false;
    // "#0" starts a block of unknown length, which is not accepted either.
    if (digitCount < '1' || digitCount > '9') {
        setStatus(kInvalidBlockText);
        return false;
    }
    std::uint8_t digits[9];
    const std::size_t n = digitCount - '0';
    if (!readFully(session_, digits, n)) return false;
    std::size_t value = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (digits[k] < '0' || digits[k] > '9') {
            setStatus(kInvalidBlockText);
            return false;
        }
        value = value * 10 + (digits[k] - '0');  // at most 9 digits: no overflow
    }
    if (value > kMaxInstrumentBlockBytes) {
        setStatus("The instrument announced a block of " + std::to_string(value) +
                  " bytes, more than the accepted " + std::to_string(kMaxInstrumentBlockBytes) + " bytes");
        return false;
    }
    count = value;
    return true;
}

bool SignalGenerator::readBlockData(std::uint8_t* buffer, std::size_t count) {
    const bool ok = readFully(session_, buffer, count);
    // The block's terminator (and anything after it) must not become the next reply.
    session_.prepareRead();
    return ok;
}

bool SignalGenerator::checkMemory(const char* directory, const std::string& name, std::size_t listedFileBytes,
                                  std::size_t neededBytes) {
    std::string reply;
    if (!session_.queryText(reply, ":mmem:cat? \"" + std::string(directory) + "\"", kReplyLimit)) return false;
    // "used,free" then "NAME,ARB,size" per file; an empty instrument sends the two numbers
    // alone. Without a comma the reply holds no memory figures to check against.
    const std::size_t first = reply.find(',');
    if (first == std::string::npos) return true;
    const std::size_t second = reply.find(',', first + 1);
    const double free = numberAt(reply, first + 1, second == std::string::npos ? reply.size() : second);
    double existing = 0;
    const std::string pattern = upperCase("\"" + name + ",ARB,");
    if (const std::size_t at = second == std::string::npos ? std::string::npos : reply.find(pattern, second + 1);
        at != std::string::npos) {
        const std::size_t from = at + pattern.size();
        const std::size_t to = reply.find('"', from);
        existing = numberAt(reply, from, to == std::string::npos ? reply.size() : to);
    }
    const double replaced = listedFileBytes > 0 ? existing * static_cast<double>(neededBytes) / static_cast<double>(listedFileBytes) : 0;
    if (free + replaced < static_cast<double>(neededBytes)) {
        setStatus("Not enough memory in the instrument.");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Corvane

void Corvane::buildFiles(std::size_t count, const double* i, const double* q, std::size_t rows,
                         const double* markers, std::vector<std::uint8_t>& iq,
                         std::vector<std::uint8_t>& markerBytes) const {
    const double peak = normalize_ ? peakOf(count, i, q) : 0;
    const double scale = gain_ * 32767;
    // Same arithmetic as normalizeIQ followed by the scaling, without the two copies.
    const auto code = [&](const double* part, std::size_t j) {
        if (!part) return 0;
        const double normalized = peak > 0 ? part[j] / peak : part[j];
        return toCode(scale * normalized, -32768, 32767);
    };
    iq.resize(4 * count);
    std::uint8_t* out = iq.data();
    for (std::size_t j = 0; j < count; ++j, out += 4) {
        const auto iw = static_cast<std::uint16_t>(code(i, j));
        const auto qw = static_cast<std::uint16_t>(code(q, j));
        out[0] = static_cast<std::uint8_t>(iw >> 8);
        out[1] = static_cast<std::uint8_t>(iw);
        out[2] = static_cast<std::uint8_t>(qw >> 8);
        out[3] = static_cast<std::uint8_t>(qw);
    }
    markerBytes.assign(count, 0);
    const std::size_t used = std::min<std::size_t>(rows, 8);  // one bit per row, eight rows fit
    for (std::size_t j = 0; j < count && markers; ++j) {
        std::uint8_t byte = 0;
        for (std::size_t r = 0; r < used; ++r)
            byte = static_cast<std::uint8_t>(byte | (static_cast<unsigned>(isOn(markers, rows, j, r)) << r));
        markerBytes[j] = byte;
    }
}

bool Corvane::download(std::size_t count, const double* i, const double* q, std::size_t rows,
                       std::size_t columns, const double* markers, const std::string& name) {
    if (!checkSamples(count, columns)) return false;
    // Checked before anything is sent: a waveform that does not fit must not arrive in part.
    if (!checkMemory("WFM1:", name, 4 * count, 5 * count)) return false;
    std::vector<std::uint8_t> iq;
    std::vector<std::uint8_t> markerBytes;
    buildFiles(count, i, q, rows, markers, iq, markerBytes);

    bool switchedOff = false;
    if (!stopIfPlaying("\"WFM1:" + name + "\"", switchedOff)) return false;
    const auto writeText = [&](const std::string& text) {
        return session_.writeBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    HardwareIO::pause(100);
    if (!writeText(":MMEMory:DATA \"WFM1:" + name + "\", " + blockHeader(iq.size()))) return false;
    session_.beforeBinaryData();
    if (!session_.writeBytes(iq.data(), iq.size()) || !session_.sendCommand("")) return false;

    HardwareIO::pause(100);
    if (!writeText(":MMEMory:DATA \"MKR1:" + name + "\", " + blockHeader(markerBytes.size())) ||
        !session_.writeBytes(markerBytes.data(), markerBytes.size()) || !session_.sendCommand(""))
        return false;

    return finishDownload(switchedOff);
}

// ---------------------------------------------------------------------------------------
// Pellar

bool Pellar::checkMemory(const std::string& name, std::size_t neededBytes) {
    return SignalGenerator::checkMemory("ARBI:", name, neededBytes, neededBytes);
}

void Pellar::buildFiles(std::size_t count, const double* i, const double* q, std::size_t rows, const double* markers,
                        std::vector<std::uint8_t>& iFile, std::vector<std::uint8_t>& qFile) const {
    const double peak = normalize_ ? peakOf(count, i, q) : 0;
    const auto code = [&](const double* part, std::size_t j) {
        if (!part) return 8191;
        const double normalized = peak > 0 ? part[j] / peak : part[j];
        return toCode(normalized * gain_ * 8191, -8191, 8191) + 8191;
    };
    iFile.resize(2 * count);
    qFile.resize(2 * count);
    for (std::size_t j = 0; j < count; ++j) {
        unsigned iw = static_cast<unsigned>(code(i, j));
        const auto qw = static_cast<unsigned>(code(q, j));
        if (markers && rows >= 1 && isOn(markers, rows, j, 0)) iw |= 1u << 14;
        if (markers && rows >= 2 && isOn(markers, rows, j, 1)) iw |= 1u << 15;
        iFile[2 * j] = static_cast<std::uint8_t>(iw >> 8);
        iFile[2 * j + 1] = static_cast<std::uint8_t>(iw);
        qFile[2 * j] = static_cast<std::uint8_t>(qw >> 8);
        qFile[2 * j + 1] = static_cast<std::uint8_t>(qw);
    }
}

bool Pellar::download(std::size_t count, const double* i, const double* q, std::size_t rows, std::size_t columns,
                      const double* markers, const std::string& name) {
    if (!checkSamples(count, columns)) return false;
    // Both files must fit, not the I file alone: a Q file refused after the I file went in
    // would leave the waveform half replaced.
    if (!SignalGenerator::checkMemory("ARBI:", name, 2 * count, 4 * count)) return false;
    std::vector<std::uint8_t> iFile;
    std::vector<std::uint8_t> qFile;
    buildFiles(count, i, q, rows, markers, iFile, qFile);

    bool switchedOff = false;
    if (!stopIfPlaying("\"arbi:" + name + "\"", switchedOff)) return false;
    const auto sendFile = [&](const char* kind, const std::vector<std::uint8_t>& file) {
        const std::string header = ":MMEMory:DATA \"" + std::string(kind) + name + "\", " + blockHeader(file.size());
        return session_.writeBytes(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()) &&
               session_.writeBytes(file.data(), file.size()) && session_.sendCommand("\n") &&
               session_.sendCommand("");
    };
    if (!sendFile("ARBI:", iFile)) return false;
    session_.beforeBinaryData();
    if (!sendFile("ARBQ:", qFile)) return false;
    return finishDownload(switchedOff);
}

// ---------------------------------------------------------------------------------------

std::string modelField(const std::string& identification) {
    const std::size_t comma = identification.find(',');
    if (comma == std::string::npos || comma + 2 > identification.size()) return {};
    const std::size_t start = comma + 2;
    const std::size_t next = identification.find(',', start);
    return identification.substr(start, next == std::string::npos ? std::string::npos : next - start);
}

std::string unsupportedModelText(const std::string& identification) {
    const std::string model = modelField(identification);
    const std::string found = model.empty() ? "names no model" : "names the model \"" + printableReply(model) + "\"";
    return "The instrument is not a supported signal generator: its identification \"" + printableReply(identification) +
           "\" " + found + "; supported are the models whose name ends in C (Corvane) or B (Pellar).";
}

std::unique_ptr<SignalGenerator> selectModel(HardwareIO& session, bool* unanswered) {
    std::string reply;
    const bool answered = session.queryText(reply, "*IDN?", kReplyLimit);
    if (unanswered) *unanswered = !answered;
    if (!answered) return nullptr;
    const std::string model = modelField(reply);
    if (!model.empty() && model.back() == 'C') return std::make_unique<Corvane>(session);
    if (!model.empty() && model.back() == 'B') return std::make_unique<Pellar>(session);
    setStatus(unsupportedModelText(reply));
    return nullptr;
}

}  // namespace vesk
