// One complete frame with every channel on: traffic in all 16 slots with mixed modulation,
// the RA channel and all 59 RPC channels, idle-slot noise, ACP filter and equaliser.
#include <benchmark/benchmark.h>

#include "OneX/frame_builder.h"
#include "OneX/literal_filters.h"
#include "OneX/phase_equaliser.h"
#include "OneX/pn_spreading.h"
#include "OneX/traffic_source.h"
#include "host/random.h"
#include "MexIO/waveform_export.h"

#include <unistd.h>

#include <string>

namespace {

onex::FrameInputs busyFrame(int os) {
    onex::FrameInputs in;
    in.oversampling = os;
    in.pilotOffsetIndex = 137;
    for (std::size_t k = 0; k < onex::kFrameSlots; ++k) {
        in.dataActive[k] = k % 5 == 4 ? 0 : 1;  // a few idle data slots keep the noise path busy
        in.dataFormat[k] = static_cast<double>(k % 3 + 1);
        in.raActive[k] = 1;
        in.rpcChnActive[k] = 1;
        for (std::size_t c = 0; c < 59; ++c) {
            in.rpcActive(k, c) = 1;
            in.rpcBits(k, c) = static_cast<double>((k + c) % 2);
            in.rpcGains(k, c) = -10.0 - static_cast<double>(c % 7);
        }
    }
    in.dataBits = onex::GenerateBitStream(6, 16 * 6400);
    return in;
}

void BM_FullFrame(benchmark::State& state) {
    const onex::FrameInputs in = busyFrame(static_cast<int>(state.range(0)));
    host::seedRandom(1);
    onex::OneX_FwdChnFrame(in);  // designs cached, as for every frame after the first
    for (auto _ : state) benchmark::DoNotOptimize(onex::OneX_FwdChnFrame(in).waveform.data());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(onex::kFrameChips) * state.range(0));
}
BENCHMARK(BM_FullFrame)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// The frame as the application makes it: straight into the host's arrays (the waveform's
// real and imaginary parts apart, the markers as 2 x N doubles), which it keeps as records
// and writes to files.
void BM_FrameArrays(benchmark::State& state) {
    const onex::FrameInputs in = busyFrame(static_cast<int>(state.range(0)));
    host::seedRandom(1);
    onex::OneX_FwdChnFrameArrays(in);
    for (auto _ : state) benchmark::DoNotOptimize(onex::OneX_FwdChnFrameArrays(in).waveform.pr());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(onex::kFrameChips) * state.range(0));
}
BENCHMARK(BM_FrameArrays)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

// Coded packets at DRC 1 (16-slot packets on all four interlaces: 4 frames, 3932160 samples
// at OS 30) with every MAC channel on, straight into the host's arrays as the application
// makes them; against BM_FrameArrays/30 of one frame.
onex::FrameInputs packetFrames(int os) {
    onex::FrameInputs in = busyFrame(os);
    in.frameCount = 4;
    in.packets = onex::PacketSettings{1, 5, {true, true, true, true}};
    in.dataBits = onex::GenerateBitStream(6, onex::packetPlan(1, 4, in.packets->interlaces).payloadBits());
    return in;
}

void BM_PacketFrameArrays(benchmark::State& state) {
    const onex::FrameInputs in = packetFrames(static_cast<int>(state.range(0)));
    onex::OneX_FwdChnFrameArrays(in);
    for (auto _ : state) benchmark::DoNotOptimize(onex::OneX_FwdChnFrameArrays(in).waveform.pr());
    state.SetItemsProcessed(state.iterations() * 4 * static_cast<int64_t>(onex::kFrameChips) * state.range(0));
}
BENCHMARK(BM_PacketFrameArrays)->Arg(30)->Unit(benchmark::kMillisecond);

// The chips alone: four turbo-coded packets and the 64 slots around them.
void BM_PacketChips(benchmark::State& state) {
    const onex::FrameInputs in = packetFrames(30);
    for (auto _ : state) benchmark::DoNotOptimize(onex::buildChipFrame(in).chips.data());
}
BENCHMARK(BM_PacketChips)->Unit(benchmark::kMillisecond);

// The same frame with the filter and equaliser computed by the literal direct form.
void BM_FullFrameLiteral(benchmark::State& state) {
    const int os = static_cast<int>(state.range(0));
    const onex::FrameInputs in = busyFrame(os);
    const auto q = onex::eqlrfilt(1228800.0 * os);
    const onex::RealVector b(q.b.begin(), q.b.end()), a(q.a.begin(), q.a.end());
    for (auto _ : state) {
        const onex::ChipFrame chips = onex::buildChipFrame(in);
        onex::ComplexVector spread;
        onex::quadSpread(chips.chips.data(), chips.chips.size(), in.pilotOffsetIndex, spread);
        auto w = literal::circularFir(onex::upsample(spread, static_cast<std::size_t>(os)), onex::FilterCoeff_IS95_Acp(os));
        w = literal::equaliser(w, b, a, 25 * static_cast<std::size_t>(os), static_cast<std::size_t>(os));
        for (auto& s : w) s = std::conj(s);
        benchmark::DoNotOptimize(w.data());
    }
}
BENCHMARK(BM_FullFrameLiteral)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

namespace {

// The binary export of the packet waveform (3932160 samples, 15.7 MB) to a file in memory
// (/dev/shm), so that the disk is not what is timed: scaling, rounding and packing.
void BM_BinaryExport(benchmark::State& state) {
    const onex::FrameArrays f = onex::OneX_FwdChnFrameArrays(packetFrames(30), false);
    const std::string path = "/dev/shm/brevia_export_bench_" + std::to_string(::getpid()) + ".bin";
    for (auto _ : state)
        if (!mexio::saveBrindleWaveform(f.waveform, path, 1.0)) state.SkipWithError("cannot write /dev/shm");
    ::unlink(path.c_str());
}
BENCHMARK(BM_BinaryExport)->Unit(benchmark::kMillisecond);

}  // namespace
