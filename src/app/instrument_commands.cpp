#include "app/instrument_commands.h"

#include <signal.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "MexIO/download_action.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/parameters.h"
#include "UI/parameter_file.h"
#include "app/generate.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/interrupt.h"
#include "host/records.h"
#include "host/text.h"

namespace app {

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// A whole decimal integer within [lo, hi], or nothing.
std::optional<long> integerIn(const std::string& text, long lo, long hi) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) return std::nullopt;
    return value;
}

extern "C" void askTheWorkToStop(int) { host::requestInterrupt(); }

// While an instrument command runs: Ctrl+C asks the work to stop, which it does within a
// second, closing the connection (a second Ctrl+C ends the program at once, as usual). On a
// terminal one line, rewritten in place, says what is being done and how much of a block
// has gone.
class InstrumentWork {
public:
    InstrumentWork(bool progress, std::ostream& err) : err_(err) {
        host::clearInterrupt();
        struct sigaction action {};
        action.sa_handler = askTheWorkToStop;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previous_);
        if (progress) line_ = std::thread([this] { showProgress(); });
    }
    ~InstrumentWork() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (line_.joinable()) line_.join();
        ::sigaction(SIGINT, &previous_, nullptr);
        host::clearInterrupt();
    }
    InstrumentWork(const InstrumentWork&) = delete;
    InstrumentWork& operator=(const InstrumentWork&) = delete;

    // Read before the scope ends, which clears the request.
    static bool cancelled() { return host::interruptRequested(); }

private:
    void showProgress() {
        std::string shown;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
            const host::ProgressState now = host::progressState();
            const std::string bytes = host::bytesSentText(now);
            std::string text = host::interruptRequested() ? "Cancelling..." : now.step + (bytes.empty() ? "" : ": " + bytes);
            if (text == shown) continue;
            err_ << '\r' << text << std::string(shown.size() > text.size() ? shown.size() - text.size() : 0, ' ') << std::flush;
            shown = std::move(text);
        }
        if (!shown.empty()) err_ << '\r' << std::string(shown.size(), ' ') << '\r' << std::flush;
    }

    std::ostream& err_;
    struct sigaction previous_ {};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread line_;
};

// The exit status of a command stopped by Ctrl+C, as shells give a program SIGINT ended.
constexpr int kCancelledStatus = 130;

struct SpecReader {
    std::string spec, form, example;
    [[noreturn]] void fail(const std::string& why) const {
        throw host::Error("--connect " + spec + ": " + why + " (expected " + form + ", for example " + example + ").");
    }
    double number(const std::string& text, const char* what, long lo, long hi) const {
        const auto v = integerIn(text, lo, hi);
        if (!v) fail(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not '" + text + "'");
        return static_cast<double>(*v);
    }
};

host::Array number(double v) { return host::Array::scalar(v); }

const host::Array* sub(const host::Array& config, const char* record, const char* field) {
    const host::Array* r = config.isStruct() ? config.findField(record) : nullptr;
    return r && r->isStruct() ? r->findField(field) : nullptr;
}

std::string fieldText(const host::Array& config, const char* record, const char* field) {
    const host::Array* f = sub(config, record, field);
    if (!f) return "?";
    if (f->isChar()) return f->text();
    return f->numel() == 1 && f->isNumeric() ? host::num2str(f->realAt(0)) : "?";
}

// Restores the terminal's questions when a command that answered them itself ends.
class DialogScope {
public:
    explicit DialogScope(bool acceptAll) : active_(acceptAll) {
        if (active_) host::setDialogProvider(std::make_shared<host::AcceptingDialogs>());
    }
    ~DialogScope() {
        if (active_) host::setDialogProvider(nullptr);
    }
    DialogScope(const DialogScope&) = delete;
    DialogScope& operator=(const DialogScope&) = delete;

private:
    bool active_;
};

std::string responseText(const mexio::Reply& r) { return r.response.isChar() ? r.response.text() : std::string(); }

// The extension names the VISA libraries of another platform when it finds none; on the
// command line, say what to do about it.
std::string withHint(const std::string& message) {
    if (message.find("fail loading both visa32.dll and altvisa32.dll") == std::string::npos) return message;
    return message + "\n  (no VISA library was found for GPIB, RS-232 or TCPIP: install one, point VESK_VISA_LIBRARY at it, "
                     "or reach the instrument's raw SCPI socket with --connect lan:HOST:PORT)";
}

std::string title(const host::Array& settings) {
    const host::Array* t = settings.findField("Title");
    return t && t->isChar() ? t->text() : std::string();
}

std::string settingText(const host::Array& settings, const char* name) {
    const host::Array* f = settings.findField(name);
    return f && f->numel() == 1 && f->isNumeric() ? host::num2str(f->realAt(0)) : "?";
}

}  // namespace

void reportCorrections(const mexio::DownloadOutcome& d, const host::Array& settings, std::ostream& out) {
    if (!d.corrections.available()) {
        out << "corrections: none for " << settingText(settings, "Frequency") << " Hz (" << d.corrections.message
            << (d.corrections.fileName.empty() ? "" : " " + d.corrections.fileName) << ")\n";
        return;
    }
    out << "corrections: " << d.rfApplied << " RF channel and " << d.iqApplied << " I/Q applied\n";
    for (const auto& why : d.correctionFailures) out << "corrections: one skipped: " << why << "\n";
}

host::Array parseConnectSpec(std::string_view specText) {
    const std::string spec(specText);
    const std::vector<std::string> parts = split(spec, ':');
    const std::string kind = host::lowerCase(parts[0]);
    host::Array c = mexio::reStructureConfig(mexio::initialConfiguration());
    if (kind == "lan") {
        const SpecReader r{spec, "lan:HOST:PORT", "lan:127.0.0.1:5025"};
        const std::size_t colon = spec.rfind(':');
        if (parts.size() < 3 || colon <= 4) r.fail("give a host and a port");
        const std::string host = spec.substr(4, colon - 4);
        const double port = r.number(spec.substr(colon + 1), "the port", 1, 65535);
        host::Array lan = host::Array::structure();
        lan.setField("address", host::Array::string(host));
        lan.setField("port", host::Array::int32Scalar(static_cast<std::int32_t>(port)));
        c.setField("type", host::Array::string("LAN"));
        c.setField("LAN", std::move(lan));
    } else if (kind == "tcpip") {
        const SpecReader r{spec, "tcpip:ADDRESS[:BOARD]", "tcpip:192.168.1.20"};
        if (parts.size() < 2 || parts.size() > 3 || parts[1].empty()) r.fail("give the instrument's address");
        host::Array& tcpip = c.field("TCPIP");
        tcpip.setField("address", host::Array::string(parts[1]));
        tcpip.setField("board", number(parts.size() == 3 ? r.number(parts[2], "the board", 0, 255) : 0));
        c.setField("type", host::Array::string("TCPIP"));
    } else if (kind == "gpib") {
        const SpecReader r{spec, "gpib:BOARD:PRIMARY[:SECONDARY]", "gpib:0:19"};
        if (parts.size() < 3 || parts.size() > 4) r.fail("give the board and the primary address");
        host::Array& gpib = c.field("GPIB");
        gpib.setField("board", number(r.number(parts[1], "the board", 0, 255)));
        gpib.setField("primary", number(r.number(parts[2], "the primary address", 0, 30)));
        gpib.setField("secondary", number(parts.size() == 4 ? r.number(parts[3], "the secondary address", 0, 30) : -1));
        c.setField("type", host::Array::string("GPIB"));
    } else if (kind == "rs232") {
        const SpecReader r{spec, "rs232:PORT:BAUD[:HANDSHAKE]", "rs232:1:9600:xon/xoff"};
        if (parts.size() < 3 || parts.size() > 4) r.fail("give the port and the baud rate");
        host::Array& rs232 = c.field("RS232");
        rs232.setField("port", number(r.number(parts[1], "the port", 1, 255)));
        rs232.setField("baudrate", number(r.number(parts[2], "the baud rate", 1, 4000000)));
        std::string handshake = "Xon/Xoff";
        if (parts.size() == 4) {
            const std::string h = host::lowerCase(parts[3]);
            if (h == "none")
                handshake = "None";
            else if (h == "rts/cts")
                handshake = "RTS/CTS";
            else if (h != "xon/xoff")
                r.fail("the handshake is none, xon/xoff or rts/cts, not '" + parts[3] + "'");
        }
        rs232.setField("handshake", host::Array::string(handshake));
        c.setField("type", host::Array::string("RS232"));
    } else {
        throw host::Error("--connect " + spec +
                          ": the connection is lan:HOST:PORT, tcpip:ADDRESS[:BOARD], gpib:BOARD:PRIMARY[:SECONDARY] or "
                          "rs232:PORT:BAUD[:HANDSHAKE].");
    }
    return c;
}

host::Array connectionFor(const std::optional<std::string>& spec) {
    if (spec) return parseConnectSpec(*spec);
    host::Array saved = ui::loadConfig();
    if (saved.isStruct()) return mexio::structuredConfiguration(saved);
    return mexio::reStructureConfig(mexio::initialConfiguration());
}

std::string describeConnection(const host::Array& config) {
    const host::Array* type = config.isStruct() ? config.findField("type") : nullptr;
    const std::string kind = type && type->isChar() ? host::lowerCase(type->text()) : "";
    if (kind == "lan") return "lan " + fieldText(config, "LAN", "address") + ":" + fieldText(config, "LAN", "port");
    if (kind == "tcpip") return "TCPIP" + fieldText(config, "TCPIP", "board") + "::" + fieldText(config, "TCPIP", "address");
    if (kind == "gpib") {
        std::string s = "GPIB" + fieldText(config, "GPIB", "board") + "::" + fieldText(config, "GPIB", "primary");
        const host::Array* secondary = sub(config, "GPIB", "secondary");
        if (secondary && secondary->numel() == 1 && secondary->isNumeric() && secondary->realAt(0) > 0)
            s += "::" + host::num2str(secondary->realAt(0));
        return s;
    }
    if (kind == "rs232")
        return "ASRL" + fieldText(config, "RS232", "port") + " at " + fieldText(config, "RS232", "baudrate") + " baud (" +
               fieldText(config, "RS232", "handshake") + ")";
    return "an unrecognised connection";
}

int runDownload(const InstrumentOptions& o, std::ostream& out, std::ostream& err) {
    try {
        const FrameSetup setup = prepareFrame(o.params, o.sets, o.settings);
        if (!o.quiet)
            for (const std::string& note : setup.notes) err << "onexfwd download: " << note << "\n";
        const host::Array config = connectionFor(o.connect);
        const DialogScope answers(o.yes);
        if (o.progress) err << "Computing the frame...\n";
        computeFrame(setup, o.seed);
        if (o.progress) err << "Downloading to " << describeConnection(config) << "...\n";
        const host::Array& waveform = host::record("waveform");
        mexio::DownloadOutcome d;
        bool cancelled = false;
        {
            const InstrumentWork work(o.progress, err);
            d = mexio::downloadWaveform(waveform, host::record("markers"), setup.sigGen, config, o.play);
            cancelled = InstrumentWork::cancelled();
        }
        if (!o.quiet && !cancelled) reportCorrections(d, setup.sigGen, out);
        if (!d.ok()) {
            err << "onexfwd download: " << withHint(d.failure()) << "\n";
            return cancelled ? kCancelledStatus : 1;
        }
        if (o.quiet) return 0;
        out << "downloaded \"" << title(setup.sigGen) << "\": " << waveform.numel() << " samples to "
            << describeConnection(config) << "\n";
        if (d.played)
            out << "playing at " << settingText(setup.sigGen, "Frequency") << " Hz, " << settingText(setup.sigGen, "Amplitude")
                << " dBm, sample clock " << settingText(setup.sigGen, "SamplingRate") << " Hz\n"
                << mexio::kDownloadCompleted << "\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd download: " << e.what() << "\n";
        return 1;
    }
}

int runPlay(const InstrumentOptions& o, std::ostream& out, std::ostream& err) {
    try {
        const FrameSetup setup = prepareFrame(o.params, o.sets, o.settings);
        if (!o.quiet)
            for (const std::string& note : setup.notes) err << "onexfwd play: " << note << "\n";
        const host::Array config = connectionFor(o.connect);
        mexio::Reply r;
        bool cancelled = false;
        {
            const InstrumentWork work(o.progress, err);
            r = mexio::OrvexPlay(title(setup.sigGen), setup.sigGen, config);
            cancelled = InstrumentWork::cancelled();
        }
        if (r.status != 0) {
            err << "onexfwd play: " << mexio::kSetupFailedTitle << ": " << withHint(responseText(r)) << "\n";
            return cancelled ? kCancelledStatus : 1;
        }
        if (o.quiet) return 0;
        out << "playing \"" << title(setup.sigGen) << "\" at " << settingText(setup.sigGen, "Frequency") << " Hz, "
            << settingText(setup.sigGen, "Amplitude") << " dBm, sample clock " << settingText(setup.sigGen, "SamplingRate")
            << " Hz on " << describeConnection(config) << "\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd play: " << e.what() << "\n";
        return 1;
    }
}

int runInstrumentCommand(InstrumentCommand command, const std::optional<std::string>& connect, const std::string& text,
                         bool quiet, std::ostream& out, std::ostream& err) {
    const char* name = command == InstrumentCommand::Ping ? "ping" : command == InstrumentCommand::Query ? "query" : "send";
    try {
        if (command != InstrumentCommand::Ping && text.empty())
            throw host::Error(std::string("give the ") + (command == InstrumentCommand::Query ? "query" : "command") +
                              " to send, for example *IDN?.");
        const host::Array config = connectionFor(connect);
        const mexio::Reply r = command == InstrumentCommand::Ping    ? mexio::hwPing(config)
                               : command == InstrumentCommand::Query ? mexio::hwQuery(config, text)
                                                                     : mexio::hwSend(config, text);
        if (r.status != 0) {
            err << "onexfwd " << name << ": " << withHint(responseText(r)) << "\n";
            return 1;
        }
        if (command == InstrumentCommand::Query)
            out << responseText(r) << "\n";  // the data asked for, quiet or not
        else if (!quiet)
            out << describeConnection(config) << ": " << responseText(r) << "\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd " << name << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
