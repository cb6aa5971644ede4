// Short PN sequences and quadrature spreading of one frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "OneX/pn_spreading.h"
#include "OneX/traffic_modulation.h"

namespace {

onex::ComplexVector randomFrame() {
    std::mt19937 gen(1);
    std::normal_distribution<double> n;
    onex::ComplexVector frame(onex::kPnPeriod);
    for (auto& c : frame) c = {n(gen), n(gen)};
    return frame;
}

// The register run and sequence construction from scratch (what the cache saves).
void BM_ShortPnFromRegister(benchmark::State& state) {
    onex::RealVector taps{1, 0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1};
    onex::RealVector seed(15, 0.0);
    seed.back() = 1;
    for (auto _ : state) benchmark::DoNotOptimize(onex::lfsr(15, taps, 32767, seed));
}
BENCHMARK(BM_ShortPnFromRegister)->Unit(benchmark::kMicrosecond);

// The complex PN sequence of one period at a pilot offset, from the cached period.
void BM_ComplexPnAtOffset(benchmark::State& state) {
    onex::complexPnPeriod();
    double offset = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(onex::complexPnSequence(offset));
        offset = std::fmod(offset + 97, 512);
    }
}
BENCHMARK(BM_ComplexPnAtOffset)->Unit(benchmark::kMicrosecond);

// Spreading one 32768-chip frame at pilot offset 137 into a reused buffer.
void BM_SpreadOneFrame(benchmark::State& state) {
    const onex::ComplexVector frame = randomFrame();
    onex::ComplexVector out;
    onex::quadSpread(frame.data(), frame.size(), 137, out);
    for (auto _ : state) {
        onex::quadSpread(frame.data(), frame.size(), 137, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_SpreadOneFrame)->Unit(benchmark::kMicrosecond);

// The same through the allocating interface the frame builder calls.
void BM_FwdQuadSpreading(benchmark::State& state) {
    const onex::ComplexVector frame = randomFrame();
    for (auto _ : state) benchmark::DoNotOptimize(onex::OneX_FwdQuadSpreading(frame, 137));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_FwdQuadSpreading)->Unit(benchmark::kMicrosecond);

// Modulating and channelising the 1600 data chips of one 16-QAM slot.
void BM_TrafficSlot16Qam(benchmark::State& state) {
    onex::RealVector bits(6400);
    std::mt19937 gen(2);
    for (auto& b : bits) b = static_cast<double>(gen() & 1u);
    for (auto _ : state) {
        auto symbols = onex::OneX_FwdTrfRepSeq(onex::OneX_FwdTrfModulator(bits, 3), 1600);
        benchmark::DoNotOptimize(onex::OneX_FwdTrfSummer(
            onex::OneX_FwdTrfChnGain(onex::OneX_FwdTrfWalshCover(onex::OneX_FwdTrfDemux(symbols)))));
    }
}
BENCHMARK(BM_TrafficSlot16Qam)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
