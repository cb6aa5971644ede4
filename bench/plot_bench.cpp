// What the analysis plots compute for one frame (163840 samples at oversampling 5, 983040 at
// oversampling 30), apart from any drawing.
#include <benchmark/benchmark.h>

#include <random>

#include "UI/plot_data.h"

namespace {

constexpr std::size_t kChipsPerFrame = 32768;
constexpr double kChipRateHz = 1228800.0;

ui::plot::ComplexVector noiseFrame(int os) {
    std::mt19937 gen(1);
    std::normal_distribution<double> g;
    ui::plot::ComplexVector x(kChipsPerFrame * static_cast<std::size_t>(os));
    for (auto& v : x) v = {g(gen), g(gen)};
    return x;
}

void setFrameItems(benchmark::State& state, std::size_t samples) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
}

void BM_CcdfData(benchmark::State& state) {
    const auto x = noiseFrame(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ui::plot::ccdfData(x, false));
    setFrameItems(state, x.size());
}
BENCHMARK(BM_CcdfData)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// One transform of the whole frame; the plan is made by the first iteration and reused.
void BM_SpectrumData(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto x = noiseFrame(os);
    for (auto _ : state) benchmark::DoNotOptimize(ui::plot::spectrumData(kChipRateHz * os, x));
    setFrameItems(state, x.size());
}
BENCHMARK(BM_SpectrumData)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// 200 slices of the frame: 820 samples each at oversampling 5, 4916 at 30.
void BM_WaterfallData(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto x = noiseFrame(os);
    const double sampleRate = kChipRateHz * os;
    const double period = static_cast<double>(x.size()) / sampleRate / 200;
    for (auto _ : state) benchmark::DoNotOptimize(ui::plot::waterfallData(sampleRate, period, x));
    setFrameItems(state, x.size());
}
BENCHMARK(BM_WaterfallData)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// One trace per chip: n is the oversampling.
void BM_EyeDiagramData(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto x = noiseFrame(os);
    for (auto _ : state) benchmark::DoNotOptimize(ui::plot::eyeDiagramData(x, os, 1, 0));
    setFrameItems(state, x.size());
}
BENCHMARK(BM_EyeDiagramData)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

}  // namespace
