// Baseband filtering and phase equalisation of one frame, fast paths against the literal
// direct-form algorithm, and the cost of the filter designs.
#include <benchmark/benchmark.h>

#include <random>

#include "OneX/baseband_filter.h"
#include "OneX/literal_filters.h"
#include "OneX/phase_equaliser.h"
#include "OneX/remez.h"

namespace {

constexpr std::size_t kChips = 32768;

onex::ComplexVector stuffedFrame(int os) {
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> sign(0, 1);
    onex::ComplexVector chips(kChips);
    for (auto& c : chips) c = {sign(gen) ? 1.0 : -1.0, sign(gen) ? 1.0 : -1.0};
    return onex::upsample(chips, static_cast<std::size_t>(os));
}

void BM_AcpFilter(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto frame = stuffedFrame(os);
    onex::FilterCoeff_IS95_Acp(os);  // designed once, as after the first frame
    for (auto _ : state) benchmark::DoNotOptimize(onex::OneX_BasebandFilter(frame, os, onex::BasebandFilterChoice::Acp));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_AcpFilter)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// The literal algorithm: pre-roll, direct-form FIR over every sample, rotation.
void BM_AcpFilterLiteral(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto frame = stuffedFrame(os);
    const auto& h = onex::FilterCoeff_IS95_Acp(os);
    for (auto _ : state) benchmark::DoNotOptimize(literal::circularFir(frame, h));
}
BENCHMARK(BM_AcpFilterLiteral)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PhaseEqualiser(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto frame = onex::OneX_BasebandFilter(stuffedFrame(os), os, onex::BasebandFilterChoice::Acp);
    for (auto _ : state) benchmark::DoNotOptimize(onex::phaseEqualise(frame, os, false));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_PhaseEqualiser)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_PhaseEqualiserLiteral(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const auto frame = onex::OneX_BasebandFilter(stuffedFrame(os), os, onex::BasebandFilterChoice::Acp);
    const auto q = onex::eqlrfilt(1228800.0 * os);
    const onex::RealVector b(q.b.begin(), q.b.end()), a(q.a.begin(), q.a.end());
    for (auto _ : state)
        benchmark::DoNotOptimize(literal::equaliser(frame, b, a, 25 * static_cast<std::size_t>(os), static_cast<std::size_t>(os)));
}
BENCHMARK(BM_PhaseEqualiserLiteral)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// The table equaliser (EVM choice) on a zero-stuffed frame at 5 samples per chip.
void BM_PhaseEqualiserTable(benchmark::State& state) {
    const auto frame = stuffedFrame(5);
    onex::equaliserTableDesign(5);
    for (auto _ : state) benchmark::DoNotOptimize(onex::phaseEqualise(frame, 5, true));
}
BENCHMARK(BM_PhaseEqualiserTable)->Unit(benchmark::kMillisecond);

// Designing the ACP filter from scratch (what the cache saves on every later frame).
void BM_AcpDesignUncached(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const double ny = 1228800.0 * os / 2;
    const double edges[] = {0, 590000 / ny, 740000 / ny, 1};
    const double stdAmps[] = {1, 1, 0, 0}, stdWeights[] = {1, 20};
    const double acpAmps[] = {1, 1, 0.005, 0.001}, acpWeights[] = {1, 2};
    for (auto _ : state) {
        benchmark::DoNotOptimize(onex::firpm(static_cast<std::size_t>(12 * os - 1), edges, stdAmps, stdWeights));
        benchmark::DoNotOptimize(onex::firpm(static_cast<std::size_t>(14 * os), edges, acpAmps, acpWeights));
    }
}
BENCHMARK(BM_AcpDesignUncached)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_AcpDesignCached(benchmark::State& state) {
    onex::FilterCoeff_IS95_Acp(30);
    for (auto _ : state) benchmark::DoNotOptimize(onex::FilterCoeff_IS95_Acp(30).data());
}
BENCHMARK(BM_AcpDesignCached);

}  // namespace
