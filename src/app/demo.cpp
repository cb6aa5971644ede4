#include "app/demo.h"

#include <cstdio>
#include <iomanip>
#include <string>

#include "OneX/baseband_filter.h"
#include "OneX/common_channels.h"
#include "OneX/phase_equaliser.h"
#include "OneX/parameters.h"
#include "OneX/pn_spreading.h"
#include "OneX/traffic_modulation.h"
#include "host/records.h"
#include "host/text.h"

namespace app {

namespace {

std::string bits(const host::RealVector& v, std::size_t from, std::size_t count) {
    std::string s;
    for (std::size_t i = from; i < from + count; ++i) {
        if (i > from && (i - from) % 16 == 0) s += ' ';
        s += v[i] != 0 ? '1' : '0';
    }
    return s;
}

std::string describe(const host::Array& a) {
    if (a.isChar()) return "\"" + a.text() + "\"";
    if (a.isStruct()) return "struct with " + std::to_string(a.fieldCount()) + " fields";
    if (a.isEmpty()) return "[]";
    if (a.isScalar()) return host::num2str(a.realAt(0));
    std::string s = std::to_string(a.rows()) + "x" + std::to_string(a.cols()) + ", first " + host::num2str(a.realAt(0));
    return s;
}

}  // namespace

int runDemo(std::ostream& out) {
    onex::InitializeParameters();
    const host::Array& p = host::record("parameters");
    out << "Default parameter set\n";
    for (const auto& name : p.fieldNames()) out << "  " << std::left << std::setw(24) << name << describe(p.field(name)) << "\n";
    const host::Array& slot = p.field("slot");
    for (const auto& name : slot.fieldNames())
        out << "    slot." << std::left << std::setw(18) << name << describe(slot.field(name)) << "\n";

    const auto pnI = onex::OneX_PNiSequence(1);
    const auto pnQ = onex::OneX_PNqSequence(1);
    out << "\nShort PN sequences (period " << pnI.size() << " chips)\n"
        << "  I chips 1-64:          " << bits(pnI, 0, 64) << "\n"
        << "  I chips 32753-32768:   " << bits(pnI, 32752, 16) << "\n"
        << "  Q chips 1-64:          " << bits(pnQ, 0, 64) << "\n"
        << "  Q chips 32753-32768:   " << bits(pnQ, 32752, 16) << "\n";

    out << "\nMAC index -> Walsh code (64 chips), branch\n";
    for (int mac : {4, 5, 6, 7, 62, 63})
        out << "  " << std::setw(2) << mac << " -> W" << onex::macWalshCode(mac) << (onex::macOnQuadrature(mac) ? "  Q" : "  I")
            << (mac == onex::kRaMacIndex ? "  (RA)" : "") << "\n";

    out << "\nConstellations (bits d1 d2 ... -> I + jQ)\n";
    const char* names[] = {"", "QPSK", "8-PSK", "16-QAM"};
    for (int code = 1; code <= 3; ++code) {
        const int b = code + 1;
        out << "  " << names[code] << "\n";
        for (int v = 0; v < (1 << b); ++v) {
            double d[4];
            std::string label;
            for (int k = 0; k < b; ++k) {
                d[k] = (v >> (b - 1 - k)) & 1;
                label += d[k] != 0 ? '1' : '0';
            }
            const auto s = onex::OneX_IQmap(d, static_cast<std::size_t>(b), code);
            char line[96];
            std::snprintf(line, sizeof line, "    %-4s %+.4f %+.4fj\n", label.c_str(), s.real(), s.imag());
            out << line;
        }
    }
    const int os = 5;
    out << "\nBaseband filters at " << os << " samples per chip\n"
        << "  IS95-STD  " << onex::FilterCoeff_IS95_Std(os).size() << " taps (equiripple, weights 1 and 20)\n"
        << "  IS95-ACP  " << onex::FilterCoeff_IS95_Acp(os).size() << " taps (STD convolved with a sloped-stopband design)\n"
        << "  equaliser " << onex::equaliserTableDesign(os).b.size() << "-tap table for the EVM choice, otherwise an all-pass section\n";
    return 0;
}

}  // namespace app
