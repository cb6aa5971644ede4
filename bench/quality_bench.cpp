// The whole signal-quality report of a frame with every channel on: receiver, rho and EVM,
// spectrum figures, CCDF points and code domain.
#include <benchmark/benchmark.h>

#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "OneX/signal_quality.h"
#include "OneX/traffic_source.h"
#include "host/records.h"

namespace {

void BM_SignalQualityReport(benchmark::State& state) {
    onex::FrameInputs in;
    in.oversampling = static_cast<int>(state.range(0));
    for (std::size_t k = 0; k < onex::kFrameSlots; ++k) {
        in.dataActive[k] = 1;
        in.dataFormat[k] = static_cast<double>(k % 3 + 1);
        in.raActive[k] = 1;
        in.rpcChnActive[k] = 1;
        for (std::size_t c = 0; c < 59; ++c) in.rpcActive(k, c) = 1;
    }
    in.dataBits = onex::GenerateBitStream(6, 16 * 6400);
    host::record("parameters") = onex::defaultParameters();
    const onex::ChipFrame chips = onex::buildChipFrame(in);
    const host::ComplexVector waveform = onex::finishFrame(chips, in).waveform;
    onex::quality::analyzeFrame(waveform, chips, in);  // plans and designs made, as after the first report
    for (auto _ : state) benchmark::DoNotOptimize(onex::quality::analyzeFrame(waveform, chips, in).overall.rho);
}
BENCHMARK(BM_SignalQualityReport)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

}  // namespace
