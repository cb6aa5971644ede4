// Time to first draw of each analysis plot window at oversampling 30 (983040 samples):
// computing what it shows, building the window offscreen and drawing it once.
#include <benchmark/benchmark.h>

#include <qcustomplot.h>

#include "MexIO/download_play.h"
#include "windows/plots/plots.h"
#include "app/generate.h"
#include "host/convert.h"
#include "host/records.h"

namespace {

struct Frame {
    windows::plots::Waveform wave;
    double sampleRate = 0, overSampling = 30;
};

const Frame& frame() {
    static const Frame f = [] {
        const app::FrameSetup setup = app::prepareFrame("", {"OverSampling=30", "DATAchnActive=1", "MACchnActive=1"}, {});
        app::computeFrame(setup, 1);
        Frame out;
        out.wave.samples = mexio::applyDacRes(host::complexVector(host::record("waveform"), {"bench", "waveform"}), 14);
        out.wave.real = false;
        out.sampleRate = setup.sigGen.field("SamplingRate").realAt(0);
        return out;
    }();
    return f;
}

// Draws every 2-D plot of the window once, at a usual window size, as showing it would.
void drawOnce(windows::gui::Handle fig) {
    for (windows::gui::Handle c : windows::gui::childrenOf(fig))
        if (windows::gui::kindOf(c) == windows::gui::Kind::Axes)
            if (QCustomPlot* plot = windows::gui::plotOf(c)) benchmark::DoNotOptimize(plot->toPixmap(800, 300));
}

template <class Open>
void firstDraw(benchmark::State& state, Open open) {
    windows::gui::ensureApplication();
    const Frame& f = frame();
    for (auto _ : state) {
        const windows::gui::Handle fig = open(f);
        if (!fig) {
            state.SkipWithError("the plot was refused");
            break;
        }
        drawOnce(fig);
        state.PauseTiming();
        windows::gui::deleteObject(fig);
        QCoreApplication::processEvents();  // let the window go
        state.ResumeTiming();
    }
}

void BM_FirstDrawSpectrum(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) { return windows::plots::SX_PlotSpectrum(0, "bench", f.sampleRate, f.wave); });
}
void BM_FirstDrawWaterfall(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) {
        return windows::plots::SX_PlotWaterfall(0, "bench", f.sampleRate, static_cast<double>(f.wave.samples.size()) / f.sampleRate / 200, f.wave);
    });
}
void BM_FirstDrawIQTime(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) { return windows::plots::SX_PlotIQTime(0, "bench", f.sampleRate, false, f.wave); });
}
void BM_FirstDrawEyeDiagram(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) { return windows::plots::SX_PlotEyeDiagram(0, "bench", f.wave, f.overSampling, f.overSampling / f.sampleRate, 0); });
}
void BM_FirstDrawScatter(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) { return windows::plots::SX_PlotScatterDiagram(0, "bench", f.wave, f.overSampling, 0, true); });
}
void BM_FirstDrawCCDF(benchmark::State& s) {
    firstDraw(s, [](const Frame& f) { return windows::plots::SX_PlotCCDF(0, "bench", f.wave); });
}
BENCHMARK(BM_FirstDrawSpectrum)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDrawWaterfall)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDrawIQTime)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDrawEyeDiagram)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDrawScatter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDrawCCDF)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
