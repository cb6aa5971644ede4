// The main job end to end: compute the frame, apply the instrument's corrections, download
// it into a simulated generator on loopback and play it, as `onexfwd demo` does; and the
// corrections alone on a frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "MexIO/correction_file.h"
#include "MexIO/corrections.h"
#include "OneX/parameters.h"
#include "app/demo.h"
#include "app/generate.h"
#include "host/lifecycle.h"
#include "host/records.h"

namespace {

// A correction file for the simulated instrument at the default carrier, with both an RF
// channel and an I/Q record, so that every download runs both corrections.
void installCorrections() {
    static const bool done = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("brevia_bench_corrections_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        setenv("BREVIA_CORRECTIONS_DIR", dir.c_str(), 1);
        writeCorrectionFile((dir / "US12345678 2.2 GHz.mat").string(), correctionRecords({3, 3}, {1.1, std::nan("")}, {std::nan(""), 0.9}, 1e6));
        return true;
    }();
    (void)done;
}

void BM_DemoEndToEnd(benchmark::State& state) {
    installCorrections();
    app::DemoOptions o;
    o.sets = {"OverSampling=" + std::to_string(state.range(0))};
    o.quiet = true;
    std::string report;
    for (auto _ : state) {
        std::ostringstream out, err;
        if (app::runDemo(o, out, err) != 0) state.SkipWithError(err.str().c_str());
        report = out.str();
    }
    if (report.find("1 RF channel and 1 I/Q applied") == std::string::npos) state.SkipWithError("corrections were not applied");
    state.counters["samples"] = static_cast<double>(32768 * state.range(0));
}
BENCHMARK(BM_DemoEndToEnd)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Corrections(benchmark::State& state) {
    const app::FrameSetup setup = app::prepareFrame("", {"OverSampling=" + std::to_string(state.range(0))}, {});
    app::computeFrame(setup, 1);
    const host::Array& w = host::record("waveform");
    host::ComplexVector frame(w.numel());
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = w.complexAt(i);
    const host::Array records = correctionRecords({3, 3}, {1.1, std::nan("")}, {std::nan(""), 0.9}, 1e6);
    const double rate = setup.sigGen.field("SamplingRate").realAt(0);
    for (auto _ : state) {
        mexio::CorrectedWaveform c = mexio::applyCorrections(frame, records, rate);
        benchmark::DoNotOptimize(c.x.data());
    }
}
BENCHMARK(BM_Corrections)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // plot windows are drawn without a display
    host::initializeLibrary();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    host::terminateLibrary();
    return 0;
}
