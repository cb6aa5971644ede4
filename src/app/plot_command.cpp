#include "app/plot_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "MexIO/download_play.h"
#include "OneX/parameters.h"
#include "UI/plots.h"
#include "app/generate.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/mat_file.h"
#include "host/records.h"
#include "host/text.h"

namespace app {

namespace {

constexpr const char* kLabel = "1xEV Forward Link";

struct Signal {
    host::ComplexVector samples;
    double sampleRate = 0;
    double overSampling = 0;
};

Signal computedSignal(const PlotOptions& o) {
    const FrameSetup setup = prepareFrame(o.params, o.sets, {});
    computeFrame(setup, o.seed);
    const host::Array& w = host::record("waveform");
    return {host::complexVector(w, {"plot", "waveform"}), setup.sigGen.field("SamplingRate").realAt(0),
            setup.parameters.field("OverSampling").realAt(0)};
}

Signal fileSignal(const std::string& path) {
    const host::Array contents = host::loadMatFile(path);
    const host::Array* w = contents.findField("waveform");
    if (!w) throw host::Error(path + " holds no variable 'waveform'.");
    Signal s{host::complexVector(*w, {"plot", "waveform"}), 0, 0};
    const host::Array* rate = contents.findField("sampleRate");
    s.sampleRate = rate ? host::realScalar(*rate, {"plot", "sampleRate"}) : onex::kChipRate * 5;
    s.overSampling = std::max(1.0, std::round(s.sampleRate / onex::kChipRate));
    return s;
}

}  // namespace

int runPlot(const PlotOptions& o, std::ostream& out, std::ostream& err) {
    try {
        if (std::find(kPlotKinds.begin(), kPlotKinds.end(), o.kind) == kPlotKinds.end())
            throw host::Error("unknown plot '" + o.kind + "': spectrum, waterfall, iq, iq-overlay, eye, scatter or ccdf.");
        const std::string extension = host::lowerCase(std::filesystem::path(o.out).extension().string());
        if (extension != ".png") throw host::Error("--out " + o.out + ": the picture is written as PNG; give a name ending in .png.");
        if (!o.params.empty() && !o.waveform.empty()) throw host::Error("give --params or --waveform, not both.");

        if (!o.quiet) err << "Computing the frame...\n";
        const Signal s = o.waveform.empty() ? computedSignal(o) : fileSignal(o.waveform);
        // What the windows show: the waveform on the 14-bit converter grid of the instrument.
        const ui::Waveform wave{mexio::applyDacRes(s.samples, 14), false};

        // Offscreen unless told otherwise: nothing flashes on a desktop, and it works without one.
        if (const char* platform = std::getenv("QT_QPA_PLATFORM"); !platform || !*platform) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ui::Handle fig = 0;
        const double os = s.overSampling;
        if (o.kind == "spectrum") fig = ui::SX_PlotSpectrum(0, kLabel, s.sampleRate, wave);
        if (o.kind == "waterfall")
            fig = ui::SX_PlotWaterfall(0, kLabel, s.sampleRate, static_cast<double>(wave.samples.size()) / s.sampleRate / 200, wave);
        if (o.kind == "iq" || o.kind == "iq-overlay") fig = ui::SX_PlotIQTime(0, kLabel, s.sampleRate, o.kind == "iq-overlay", wave);
        if (o.kind == "eye") fig = ui::SX_PlotEyeDiagram(0, kLabel, wave, os, os / s.sampleRate, 0);
        if (o.kind == "scatter") fig = ui::SX_PlotScatterDiagram(0, kLabel, wave, os, 0, true);
        if (o.kind == "ccdf") fig = ui::SX_PlotCCDF(0, kLabel, wave);
        if (!fig) throw host::Error("the " + o.kind + " plot could not be drawn.");
        host::gui::savePng(fig, o.out, o.width, o.height);
        host::gui::deleteObject(fig);
        out << "wrote " << o.out << ": " << o.kind << " of " << wave.samples.size() << " samples\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd plot: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
