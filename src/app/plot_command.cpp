#include "app/plot_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "MexIO/download_play.h"
#include "OneX/parameters.h"
#include "app/generate.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/mat_file.h"
#include "host/records.h"
#include "host/text.h"
#include "host/window_part.h"

namespace app {

namespace {

constexpr const char* kLabel = "1xEV Forward Link";

struct Signal {
    host::ComplexVector samples;
    double sampleRate = 0;
    double overSampling = 0;
};

Signal computedSignal(const PlotOptions& o, std::ostream& err) {
    const FrameSetup setup = prepareFrame(o.params, o.sets, {});
    if (!o.quiet)
        for (const std::string& note : setup.notes) err << "onexfwd plot: " << note << "\n";
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

        if (o.progress) err << "Computing the frame...\n";
        const Signal s = o.waveform.empty() ? computedSignal(o, err) : fileSignal(o.waveform);
        // What the windows show: the waveform on the 14-bit converter grid of the instrument.
        const host::ComplexVector quantised = mexio::applyDacRes(s.samples, 14);
        const std::size_t count = quantised.size();

        // Offscreen unless told otherwise: nothing flashes on a desktop, and it works without one.
        if (const char* platform = std::getenv("QT_QPA_PLATFORM"); !platform || !*platform) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The plot windows draw it, through the function table as any caller reaches them: that
        // loads the window library, which only this command of the headless ones needs.
        using host::Array;
        const Array label = Array::string(kLabel), screen = Array::scalar(0), rate = Array::scalar(s.sampleRate);
        const Array wave = Array::row(std::span<const std::complex<double>>(quantised));
        const double os = s.overSampling;
        auto plot = [](const char* function, std::vector<Array> args) { return host::callFunction(function, 1, args).front(); };
        Array fig;
        if (o.kind == "spectrum") fig = plot("SX_PlotSpectrum", {screen, label, rate, wave});
        if (o.kind == "waterfall")
            fig = plot("SX_PlotWaterfall", {screen, label, rate, Array::scalar(static_cast<double>(count) / s.sampleRate / 200), wave});
        if (o.kind == "iq" || o.kind == "iq-overlay")
            fig = plot("SX_PlotIQTime", {screen, label, rate, Array::scalar(o.kind == "iq-overlay" ? 1 : 0), wave});
        if (o.kind == "eye") fig = plot("SX_PlotEyeDiagram", {screen, label, wave, Array::scalar(os), Array::scalar(os / s.sampleRate), Array::scalar(0)});
        if (o.kind == "scatter") fig = plot("SX_PlotScatterDiagram", {screen, label, wave, Array::scalar(os), Array::scalar(0), Array::scalar(1)});
        if (o.kind == "ccdf") fig = plot("SX_PlotCCDF", {screen, label, wave});
        if (fig.isEmpty() || fig.realAt(0) == 0) throw host::Error("the " + o.kind + " plot could not be drawn.");
        const host::window::Interface& windows = host::window::load();
        windows.savePng(fig.realAt(0), o.out, o.width, o.height);
        windows.deleteObject(fig.realAt(0));
        if (!o.quiet) out << "wrote " << o.out << ": " << o.kind << " of " << count << " samples\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd plot: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
