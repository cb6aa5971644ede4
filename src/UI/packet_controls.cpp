#include "UI/packet_controls.h"

#include "OneX/parameters.h"
#include "OneX/traffic_source.h"
#include "host/text.h"

namespace ui {

std::vector<std::string> drcListItems() {
    std::vector<std::string> items;
    for (int drc = 1; drc <= 12; ++drc) {
        const onex::ModParams m = onex::OneX_FwdTrfChnModParams(drc);
        const char* modulation = m.modulationType == 1 ? "QPSK" : m.modulationType == 2 ? "8-PSK" : "16-QAM";
        items.push_back(std::to_string(drc) + ": " + host::num2str(m.dataRate) + " kbps, " + host::num2str(m.slots) +
                        (m.slots == 1 ? " slot, " : " slots, ") + modulation + ", preamble " + host::num2str(m.preambleTDMChips));
    }
    return items;
}

std::string waveformLengthText(const host::Array& parameters) {
    const std::size_t frames = onex::waveformFrames(parameters);
    std::string text = host::num2str(parameters.field("ProjectedLength").realAt(0)) + " Samples";
    if (frames > 1) text += " (" + std::to_string(frames) + " frames)";
    return text;
}

}  // namespace ui
