#include "app/demo.h"

#include <chrono>
#include <cstdio>
#include <iomanip>

#include "MexIO/download_action.h"
#include "MexIO/instrument_wrappers.h"
#include "app/generate.h"
#include "app/instrument_commands.h"
#include "host/records.h"
#include "host/text.h"
#include "sim/simulated_generator.h"

namespace app {

namespace {

using Clock = std::chrono::steady_clock;

std::string milliseconds(Clock::duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", std::chrono::duration<double, std::milli>(d).count());
    return text;
}

std::string ask(const host::Array& config, const std::string& query) {
    const mexio::Reply r = mexio::hwQuery(config, query);
    const std::string text = r.response.isChar() ? r.response.text() : std::string();
    return r.status == 0 ? text : "(no answer: " + text + ")";
}

std::string onOff(const std::string& reply) { return reply == "1" ? "on" : reply == "0" ? "off" : reply; }

// The size in bytes of `name` in a catalogue reply: used,free,"NAME,ARB,SIZE",...
std::optional<double> catalogueSize(const std::string& catalogue, const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string key = "\"" + upper + ",ARB,";
    const std::size_t at = catalogue.find(key);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t start = at + key.size();
    const std::vector<double> size = host::parseNumbers(catalogue.substr(start, catalogue.find('"', start) - start));
    if (size.size() != 1) return std::nullopt;
    return size[0];
}

void line(std::ostream& out, const char* label, const std::string& value) {
    out << "  " << std::left << std::setw(16) << label << value << "\n";
}

}  // namespace

int runDemo(const DemoOptions& o, std::ostream& out, std::ostream& err) {
    try {
        const FrameSetup setup = prepareFrame("", o.sets, {});
        if (!o.quiet)
            for (const std::string& note : setup.notes) err << "onexfwd demo: " << note << "\n";
        const Clock::time_point start = Clock::now();
        if (o.progress) err << "Computing the frame...\n";
        computeFrame(setup, o.seed);
        const Clock::duration computing = Clock::now() - start;
        const host::Array& waveform = host::record("waveform");
        const double overSampling = setup.parameters.field("OverSampling").realAt(0);
        out << "frame: " << waveform.numel() << " samples, " << host::num2str(overSampling) << " samples per chip, "
            << host::num2str(setup.sigGen.field("SamplingRate").realAt(0)) << " samples/s (computed in "
            << milliseconds(computing) << ")\n";

        sim::Options simulated;
        simulated.model = o.pellar ? sim::Model::Pellar : sim::Model::Corvane;
        simulated.idleTimeout = std::chrono::seconds(60);  // never outlives a stuck run for long
        sim::SimulatedGenerator generator(simulated);
        generator.start();
        const host::Array config = parseConnectSpec("lan:127.0.0.1:" + std::to_string(generator.port()));
        out << "instrument: " << ask(config, "*IDN?") << " on " << describeConnection(config) << "\n";

        if (o.progress) err << "Downloading and playing...\n";
        const Clock::time_point sent = Clock::now();
        const mexio::DownloadOutcome d = mexio::downloadWaveform(waveform, host::record("markers"), setup.sigGen, config, true);
        const Clock::duration transfer = Clock::now() - sent;
        reportCorrections(d, setup.sigGen, out);
        if (!d.ok()) {
            err << "onexfwd demo: " << d.failure() << "\n";
            return 1;
        }
        out << mexio::kDownloadCompleted << " (download and play " << milliseconds(transfer) << ", total "
            << milliseconds(Clock::now() - start) << ")\n";

        // What the instrument reports now, asked as any client would.
        const std::string selected = ask(config, ":SOUR:RAD:ARB:WAV?");
        const std::string name = setup.sigGen.field("Title").text();
        const bool pellar = ask(config, "*IDN?").find("B,") != std::string::npos;
        const std::optional<double> bytes = catalogueSize(ask(config, "MMEM:CAT? \"ARBI:\""), name);
        out << "the instrument holds:\n";
        line(out, "waveform", selected);
        line(out, "samples", bytes ? host::num2str(*bytes / (pellar ? 2 : 4)) + " (" + host::num2str(*bytes) + " bytes)"
                                   : std::string("(not in the catalogue)"));
        line(out, "frequency", ask(config, ":SOUR:FREQ:FIX?"));
        line(out, "power", ask(config, ":SOUR:POW:LEV:IMM:AMPL?"));
        line(out, "sample clock", ask(config, ":SOUR:RAD:ARB:CLOC:SRAT?"));
        line(out, "recon. filter", ask(config, ":SOUR:RAD:ARB:RFIL?"));
        line(out, "ARB", onOff(ask(config, ":SOUR:RAD:ARB:STAT?")));
        line(out, "RF output", onOff(ask(config, ":OUTP:STAT?")));
        line(out, "modulation", onOff(ask(config, ":OUTP:MOD:STAT?")));
        mexio::hwReturnLocal(config);
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd demo: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
