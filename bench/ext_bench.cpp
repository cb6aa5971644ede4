// Waveform download to the simulated generator over the raw socket transport: the whole
// time of a 983040-sample download with markers, the part of it beyond the pauses the
// download sequence prescribes, and the raw loopback throughput measured in the same run.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"
#include "ext/signal_generator.h"
#include "sim/simulated_generator.h"

namespace {

constexpr std::size_t kSamples = 983040;  // one frame at oversampling 30

struct Frame {
    std::vector<double> i, q, markers;  // two marker rows
};

const Frame& frame() {
    static const Frame f = [] {
        Frame out;
        std::mt19937 random(1);
        std::normal_distribution<double> value(0, 1);
        out.i.resize(kSamples);
        out.q.resize(kSamples);
        out.markers.resize(2 * kSamples);
        for (std::size_t j = 0; j < kSamples; ++j) {
            out.i[j] = value(random);
            out.q[j] = value(random);
            out.markers[2 * j] = j < 2048 ? 1.0 : 0.0;
            out.markers[2 * j + 1] = (j / 2048) % 2 ? 1.0 : 0.0;
        }
        return out;
    }();
    return f;
}

using Clock = std::chrono::steady_clock;

// Downloads repeatedly and reports, as the iteration time, what is left after the fixed
// pauses of the sequence (two of 100 ms for Corvane, none for Pellar).
void downloadBenchmark(benchmark::State& state, sim::Model model, double pausesSeconds) {
    sim::Options options;
    options.model = model;
    options.idleTimeout = std::chrono::seconds(120);
    sim::SimulatedGenerator simulator(options);
    simulator.start();
    vesk::LanIO session("127.0.0.1", simulator.port());
    if (!session.open()) {
        state.SkipWithError("cannot connect to the simulator");
        return;
    }
    const Frame& f = frame();
    double total = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto generator = vesk::selectModel(session);
        const bool ok = generator && generator->download(kSamples, f.i.data(), f.q.data(), 2, kSamples,
                                                          f.markers.data(), "Bench");
        // A round trip so that the instrument has taken in every byte before the clock stops.
        std::string reply;
        const bool synced = session.queryText(reply, "*OPC?", 65535);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (!ok || !synced) {
            state.SkipWithError(vesk::IOManager::instance().statusText().c_str());
            break;
        }
        total += elapsed;
        state.SetIterationTime(elapsed - pausesSeconds);
    }
    state.counters["with_pauses_ms"] = benchmark::Counter(1e3 * total / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(model == sim::Model::Corvane ? 5 * kSamples : 4 * kSamples));
}

void BM_LanDownloadCorvane(benchmark::State& state) { downloadBenchmark(state, sim::Model::Corvane, 0.2); }
void BM_LanDownloadPellar(benchmark::State& state) { downloadBenchmark(state, sim::Model::Pellar, 0.0); }

// The same number of bytes as a Corvane download (I/Q and markers), sent through LanIO to
// a receiver that only discards them: what loopback TCP itself costs here.
void BM_RawLoopback(benchmark::State& state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    constexpr std::size_t kBytes = 5 * kSamples;
    std::atomic<bool> done{false};
    std::thread sink([&] {
        pollfd entry{listener, POLLIN, 0};
        if (::poll(&entry, 1, 5000) <= 0) return;
        const int fd = ::accept(listener, nullptr, nullptr);
        std::vector<char> buffer(1 << 20);
        std::size_t received = 0;
        // Acknowledges every whole payload with one byte, so the sender can time delivery.
        while (!done) {
            pollfd in{fd, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            received += static_cast<std::size_t>(n);
            while (received >= kBytes) {
                received -= kBytes;
                ::send(fd, "k", 1, MSG_NOSIGNAL);
            }
        }
        ::close(fd);
    });
    {
        vesk::LanIO session("127.0.0.1", ntohs(address.sin_port));
        if (!session.open()) {
            state.SkipWithError("cannot connect");
        } else {
            const std::vector<std::uint8_t> payload(kBytes, 0x55);
            for (auto _ : state) {
                std::uint8_t ack = 0;
                std::size_t got = 0;
                const auto start = Clock::now();
                if (!session.writeBytes(payload.data(), payload.size()) || !session.readBytes(&ack, 1, got)) {
                    state.SkipWithError("loopback transfer failed");
                    break;
                }
                state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
            }
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBytes));
        }
    }
    done = true;
    sink.join();
    ::close(listener);
}

// Conversion and packing alone, in memory.
void BM_CorvaneBuildFiles(benchmark::State& state) {
    const Frame& f = frame();
    vesk::LanIO unused("127.0.0.1", 1);
    vesk::Corvane generator(unused);
    std::vector<std::uint8_t> iq, markers;
    for (auto _ : state) {
        generator.buildFiles(kSamples, f.i.data(), f.q.data(), 2, f.markers.data(), iq, markers);
        benchmark::DoNotOptimize(iq.data());
    }
}

BENCHMARK(BM_LanDownloadCorvane)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_LanDownloadPellar)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_RawLoopback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_CorvaneBuildFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
