// Whole processes, as users start them: `onexfwd generate` of a full frame at oversampling 30
// with every channel on, written to .mat; `onexfwd --version`; and, for scale, the
// independent numpy implementation of the same frame (bench/numpy/onex_frame.py) when
// Debian's python3 with numpy and SciPy is there. Each run is a fresh process; the wall
// time is the benchmark's, the peak resident memory of the child its counter.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string kFrameFile = "/tmp/brevia_process_bench_" + std::to_string(::getpid()) + ".mat";

// Runs the command to its end; false when it could not start or did not succeed.
bool run(const std::vector<std::string>& command, double& peakMiB) {
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (started != 0) return false;
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) return false;
    peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void runProcess(benchmark::State& state, const std::vector<std::string>& command) {
    double peak = 0, highest = 0;
    for (auto _ : state) {
        if (!run(command, peak)) {
            state.SkipWithError(("could not run " + command.front()).c_str());
            break;
        }
        highest = std::max(highest, peak);
    }
    state.counters["peak_MiB"] = highest;
    ::unlink(kFrameFile.c_str());
}

const std::vector<std::string> kEveryChannel = {"--set", "OverSampling=30", "--set", "DATAchnActive=1", "--set",
                                                "MACchnActive=1", "--set", "slot.RPCslotActive=1", "--set",
                                                "slot.DATAslotMod=3", "--seed", "1", "--quiet", "--out"};

void BM_ProcessGenerate30(benchmark::State& state) {
    std::vector<std::string> command = {ONEXFWD, "generate"};
    command.insert(command.end(), kEveryChannel.begin(), kEveryChannel.end());
    command.push_back(kFrameFile);
    runProcess(state, command);
}
BENCHMARK(BM_ProcessGenerate30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);

void BM_ProcessVersion(benchmark::State& state) { runProcess(state, {ONEXFWD, "--version"}); }
BENCHMARK(BM_ProcessVersion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(21);

void BM_ProcessNumpyFrame30(benchmark::State& state) {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        state.SkipWithError("no /usr/bin/python3 (Debian's python3-numpy and python3-scipy)");
        return;
    }
    runProcess(state, {"/usr/bin/python3", NUMPY_FRAME, "--oversampling", "30", "--out", kFrameFile});
}
BENCHMARK(BM_ProcessNumpyFrame30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Coded packets at DRC 1: four frames (3932160 samples at OS 30, 126 MB as .mat), every MAC
// channel on, written to memory (/dev/shm) so that the disk's flush is not what is timed;
// as .mat, as .bin, and the numpy yardstick's same waveform.
const std::string kPacketDir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
const std::string kPacketFile = kPacketDir + "/brevia_process_bench_packets_" + std::to_string(::getpid());

std::vector<std::string> packetGenerate(const std::string& extension) {
    return {ONEXFWD,  "generate", "--set", "OverSampling=30",   "--set", "DATAchnActive=1",  "--set", "MACchnActive=1",
            "--set",  "slot.RPCslotActive=1", "--set", "DATApacketMode=1", "--set", "DATApacketDRC=1", "--set",
            "FrameCount=4", "--seed", "1", "--quiet", "--out", kPacketFile + extension};
}

void BM_ProcessPacketsMat(benchmark::State& state) {
    runProcess(state, packetGenerate(".mat"));
    ::unlink((kPacketFile + ".mat").c_str());
}
BENCHMARK(BM_ProcessPacketsMat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);

void BM_ProcessPacketsBin(benchmark::State& state) {
    runProcess(state, packetGenerate(".bin"));
    ::unlink((kPacketFile + ".bin").c_str());
}
BENCHMARK(BM_ProcessPacketsBin)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);

void BM_ProcessNumpyPackets(benchmark::State& state) {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        state.SkipWithError("no /usr/bin/python3 (Debian's python3-numpy and python3-scipy)");
        return;
    }
    runProcess(state, {"/usr/bin/python3", NUMPY_FRAME, "--oversampling", "30", "--packet-mode", "--drc", "1", "--frames", "4", "--out",
                       kPacketFile + ".numpy.mat"});
    ::unlink((kPacketFile + ".numpy.mat").c_str());
}
BENCHMARK(BM_ProcessNumpyPackets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
