#!/usr/bin/python3
"""The Python module's costs: `import brevia` (and that it loads no Qt library), and
`brevia.generate` of a full frame at oversampling 30 with every channel on, against the same
frame made in process by C++ (`brevia_bench`'s BM_FullFrame/30).

    PYTHONPATH=build/python bench/python/generate_bench.py [--cxx-bench build/bench/brevia_bench] [--runs 15]

Prints the medians and the ratio; exits 1 when import takes 50 ms or more, loads Qt, or the
frame takes more than 1.2 x the C++ figure.
"""
import argparse
import json
import statistics
import subprocess
import sys
import time

import numpy as np

IMPORT_PROBE = r"""
import time
t = time.perf_counter()
import brevia
took = time.perf_counter() - t
qt = [l.split()[-1] for l in open("/proc/self/maps") if "libQt" in l]
print(took, len(set(qt)))
"""


def import_cost(runs):
    times, qt = [], 0
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", IMPORT_PROBE], check=True, capture_output=True, text=True).stdout.split()
        times.append(float(out[0]))
        qt = max(qt, int(out[1]))
    return statistics.median(times), qt


def busy_parameters(brevia):
    """The benchmark's busy frame: traffic in 13 slots of mixed modulation, RA and all 59 RPC channels everywhere."""
    p = brevia.Parameters()
    p.OverSampling = 30
    p.PilotOffsetIndex = 137
    p.MACchnActive = 1
    p.DATAchnActive = 1
    p.slot.DATAslotActive = [0 if k % 5 == 4 else 1 for k in range(16)]
    p.slot.DATAslotMod = [k % 3 + 1 for k in range(16)]
    p.slot.RAslotActive = 1
    p.slot.RPCslotActiveChn = 1
    p.slot.RPCslotActive = 1
    p.slot.RPCslotValue = np.fromfunction(lambda k, c: (k + c) % 2, (16, 59))
    p.slot.RPCslotGain = np.fromfunction(lambda k, c: -10.0 - c % 7, (16, 59))
    return p


def cxx_full_frame(bench, runs):
    out = subprocess.run([bench, "--benchmark_filter=^BM_FullFrame/30$", f"--benchmark_repetitions={runs}",
                          "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            return b["real_time"] / 1e3  # ms to s
    raise RuntimeError("no median in the C++ benchmark's output")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cxx-bench", help="build/bench/brevia_bench, for the in-process C++ figure")
    parser.add_argument("--runs", type=int, default=15)
    args = parser.parse_args()

    import brevia
    p = busy_parameters(brevia)
    brevia.generate(p, seed=1)  # filter designs cached, as for every frame after the first
    times = []
    for _ in range(args.runs):
        t = time.perf_counter()
        w = brevia.generate(p, seed=1)
        times.append(time.perf_counter() - t)
        del w
    frame = statistics.median(times)
    print(f"brevia.generate, OS 30, every channel on: {frame * 1e3:.1f} ms (median of {args.runs}, min {min(times) * 1e3:.1f})")
    # After the frames: the probes' processes would disturb the timing of the frames.
    import_seconds, qt_libraries = import_cost(args.runs)
    print(f"import brevia: {import_seconds * 1e3:.1f} ms (median of {args.runs}), Qt libraries loaded: {qt_libraries}")
    failed = import_seconds >= 0.05 or qt_libraries > 0
    if args.cxx_bench:
        cxx = cxx_full_frame(args.cxx_bench, 5)
        print(f"BM_FullFrame/30 in process: {cxx * 1e3:.1f} ms; ratio {frame / cxx:.2f} (target 1.2)")
        failed = failed or frame > 1.2 * cxx
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
