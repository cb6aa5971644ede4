#include "app/analyze_command.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "app/generate.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/mat_file.h"
#include "host/random.h"
#include "host/records.h"
#include "host/temporary_file.h"

namespace app {

namespace q = onex::quality;

namespace {

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string dbOrDash(double v) { return std::isfinite(v) ? format("%7.2f", v) : std::string("      -"); }

// A JSON number: a decimal point whatever the process's locale.
std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 10);
    return std::string(text, written.ptr);
}

std::string fidelityJson(const q::Fidelity& f) {
    if (f.chips == 0) return "null";
    return "{\"rho\": " + number(f.rho) + ", \"evmPercent\": " + number(f.evmPercent) + ", \"chips\": " + std::to_string(f.chips) + "}";
}

std::string fidelityCell(const q::Fidelity& f) { return f.chips == 0 ? std::string("       -") : format("%8.6f", f.rho); }

std::string slotList(const std::vector<int>& slots, const char* separator) {
    std::string list;
    for (int s : slots) list += (list.empty() ? "" : separator) + std::to_string(s);
    return list;
}

std::string packetsText(const q::Report& r) {
    std::string text = format("packets: %zu sent, %zu decoded with a good FCS\n", r.packets.size(), r.goodPackets());
    if (r.packets.empty()) return text;
    text += "  packet  DRC  MAC  preamble   repeats    FCS   rho       slots\n";
    for (std::size_t i = 0; i < r.packets.size(); ++i) {
        const q::PacketResult& p = r.packets[i];
        text += format("  %6zu  %3d  %3d  %-9s  %-9s  %-4s  %.6f  %s\n", i + 1, p.drc, p.macIndex, p.preambleFound ? "found" : "NOT FOUND",
                       p.repeatsMatch ? "match" : "DIFFER", p.fcsGood ? "good" : "BAD", p.data.rho, slotList(p.slotNumbers, " ").c_str());
    }
    return text;
}

std::string packetsJson(const q::Report& r) {
    if (!r.packetMode) return "null";
    std::string json = "{\"sent\": " + std::to_string(r.packets.size()) + ", \"goodFcs\": " + std::to_string(r.goodPackets()) + ", \"list\": [";
    auto flag = [](bool b) { return b ? "true" : "false"; };
    for (std::size_t i = 0; i < r.packets.size(); ++i) {
        const q::PacketResult& p = r.packets[i];
        json += std::string(i ? "," : "") + "\n    {\"packet\": " + std::to_string(i + 1) + ", \"slots\": [" + slotList(p.slotNumbers, ", ") +
                "], \"drc\": " + std::to_string(p.drc) + ", \"macIndex\": " + std::to_string(p.macIndex) + ", \"preambleFound\": " +
                flag(p.preambleFound) + ", \"repeatsMatch\": " + flag(p.repeatsMatch) + ", \"fcsGood\": " + flag(p.fcsGood) +
                ", \"rho\": " + number(p.data.rho) + ", \"evmPercent\": " + number(p.data.evmPercent) + "}";
    }
    return json + (r.packets.empty() ? "]}" : "\n  ]}");
}

}  // namespace

std::string reportText(const q::Report& r) {
    std::ostringstream o;
    if (r.frames == 1)
        o << format("Signal quality of the frame: oversampling %d, %.6g samples/s\n\n", r.oversampling, r.sampleRate);
    else
        o << format("Signal quality of the waveform: %zu frames, oversampling %d, %.6g samples/s\n\n", r.frames, r.oversampling, r.sampleRate);
    o << format("Waveform quality  rho %.6f  EVM %.3f %%  (limit rho >= %.3f; the filter's own ISI alone would give rho %.5f)\n",
                r.overall.rho, r.overall.evmPercent, q::kMinimumRho, r.filterIsiRho);
    o << "  slot      rho   EVM %  pilot rho  MAC rho\n";
    for (std::size_t s = 0; s < r.perSlot.size(); ++s) {
        const q::SlotQuality& sq = r.perSlot[s];
        o << format("  %4zu  %s  %6.2f    %s  %s\n", s + 1, fidelityCell(sq.all).c_str(), sq.all.evmPercent, fidelityCell(sq.pilot).c_str(),
                    fidelityCell(sq.mac).c_str());
    }
    o << "\nAdjacent channel leakage in 30 kHz, dB below the 1.23 MHz channel\n   offset    lower    upper    limit\n";
    for (const q::AdjacentChannel& a : r.adjacent)
        o << format("  %5.3f MHz %s  %s  %s\n", a.offsetHz / 1e6, dbOrDash(a.lowerDbc).c_str(), dbOrDash(a.upperDbc).c_str(),
                    dbOrDash(a.limitDbc).c_str());
    o << format("\nOccupied bandwidth (99 %% of the power)  %.4f MHz\n", r.occupiedBandwidthHz / 1e6);
    o << format("Peak to average  %.2f dB;  exceeded by 1 %% of the samples %.2f dB, 0.1 %% %.2f dB, 0.01 %% %.2f dB\n",
                r.peakToAverageDb, r.ccdf1, r.ccdf01, r.ccdf001);
    o << "\nCode domain, dB per chip relative to a pilot chip (measured / set)\n";
    for (int slot = 1; slot <= static_cast<int>(r.perSlot.size()); ++slot) {
        std::string line = format("  slot %2d:", slot);
        int macCount = 0, trafficCount = 0;
        double worstMac = 0, trafficSum = 0;
        int worstIndex = 0;
        for (const q::CodeChannel& c : r.codeDomain) {
            if (c.slot != slot) continue;
            if (c.kind == "pilot") line += format(" pilot %.2f", c.measuredDb);
            if (c.kind == "MAC") {
                ++macCount;
                if (std::abs(c.measuredDb - c.expectedDb) >= std::abs(worstMac)) {
                    worstMac = c.measuredDb - c.expectedDb;
                    worstIndex = c.index;
                }
            }
            if (c.kind == "traffic") {
                ++trafficCount;
                trafficSum += std::pow(10, c.measuredDb / 10);
            }
        }
        if (macCount > 0) line += format("; %d MAC channels, furthest from its gain index %d by %+.2f dB", macCount, worstIndex, worstMac);
        if (trafficCount > 0)
            line += format("; traffic %d Walsh channels, mean %.2f dB / %.2f", trafficCount, 10 * std::log10(trafficSum / trafficCount),
                           10 * std::log10(1.0 / 16));
        o << line << "\n";
    }
    if (r.packetMode) o << "\n" << packetsText(r);
    return o.str();
}

std::string reportJson(const q::Report& r) {
    std::ostringstream o;
    o << "{\n  \"oversampling\": " << r.oversampling << ",\n  \"sampleRate\": " << number(r.sampleRate) << ",\n  \"frames\": " << r.frames
      << ",\n";
    o << "  \"overall\": " << fidelityJson(r.overall) << ",\n  \"filterIsiRho\": " << number(r.filterIsiRho) << ",\n";
    o << "  \"rhoLimit\": " << number(q::kMinimumRho) << ",\n  \"slots\": [";
    for (std::size_t s = 0; s < r.perSlot.size(); ++s)
        o << (s ? "," : "") << "\n    {\"slot\": " << s + 1 << ", \"all\": " << fidelityJson(r.perSlot[s].all)
          << ", \"pilot\": " << fidelityJson(r.perSlot[s].pilot) << ", \"mac\": " << fidelityJson(r.perSlot[s].mac) << "}";
    o << "\n  ],\n  \"adjacentChannels\": [";
    for (std::size_t i = 0; i < r.adjacent.size(); ++i) {
        const q::AdjacentChannel& a = r.adjacent[i];
        o << (i ? "," : "") << "\n    {\"offsetHz\": " << number(a.offsetHz) << ", \"bandwidthHz\": " << number(q::kAclrBandHz)
          << ", \"lowerDbc\": " << number(a.lowerDbc) << ", \"upperDbc\": " << number(a.upperDbc) << ", \"limitDbc\": " << number(a.limitDbc)
          << "}";
    }
    o << "\n  ],\n  \"occupiedBandwidthHz\": " << number(r.occupiedBandwidthHz) << ",\n  \"peakToAverageDb\": " << number(r.peakToAverageDb)
      << ",\n  \"ccdfDb\": {\"1%\": " << number(r.ccdf1) << ", \"0.1%\": " << number(r.ccdf01) << ", \"0.01%\": " << number(r.ccdf001)
      << "},\n  \"codeDomain\": [";
    for (std::size_t i = 0; i < r.codeDomain.size(); ++i) {
        const q::CodeChannel& c = r.codeDomain[i];
        o << (i ? "," : "") << "\n    {\"slot\": " << c.slot << ", \"kind\": \"" << c.kind << "\", \"index\": " << c.index
          << ", \"measuredDb\": " << number(c.measuredDb) << ", \"expectedDb\": " << number(c.expectedDb) << "}";
    }
    o << "\n  ],\n  \"packets\": " << packetsJson(r) << "\n}\n";
    return o.str();
}

int runAnalyze(const AnalyzeOptions& o, std::ostream& out, std::ostream& err) {
    try {
        const FrameSetup setup = prepareFrame(o.params, o.sets, {});
        if (!o.quiet)
            for (const std::string& note : setup.notes) err << "onexfwd analyze: " << note << "\n";
        host::record("parameters") = setup.parameters;  // the equaliser reads the filter choice there
        if (o.seed) host::seedRandom(*o.seed);
        const onex::FrameInputs in = onex::frameInputsFromParameters(setup.parameters);
        const onex::ChipFrame chips = onex::buildChipFrame(in);
        q::Report report;
        if (o.waveform.empty()) {
            if (o.progress) err << "Computing and measuring the frame...\n";
            report = q::analyzeFrame(onex::finishFrame(chips, in).waveform, chips, in);
        } else {
            const host::Array contents = host::loadMatFile(o.waveform);
            const host::Array* w = contents.findField("waveform");
            if (!w) throw host::Error(o.waveform + " holds no variable 'waveform'.");
            // Idle-slot noise is drawn afresh: its chips cannot be compared and are left out.
            report = q::analyzeFrame(host::complexVector(*w, {"analyze", "waveform"}), chips, in, q::deterministicChips(in));
        }
        out << reportText(report);
        if (!o.json.empty()) {
            const std::string text = reportJson(report);
            host::replaceFile(o.json, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            if (!o.quiet) err << "wrote " << o.json << "\n";
        }
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd analyze: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
