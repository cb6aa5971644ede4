#!/usr/bin/python3
"""Writes reference taps of the standard baseband filter designed by SciPy's Remez
exchange (grid density 16) for several oversampling ratios, to tests/data/.

Run by hand with Debian's python3-scipy (apt-get install python3-scipy):
    /usr/bin/python3 tests/tools/make_remez_reference.py
Where GNU Octave with octave-signal is installed, it also writes the taps of the ACP
shaping factor (whose stopband slopes, which SciPy cannot express) from Octave's remez
(octave-signal's equiripple design, which takes the desired amplitude at each band edge).
"""
import os
import shutil
import subprocess
import sys

from scipy.signal import remez

CHIP_RATE = 1228800.0
PASS_EDGE = 590000.0
STOP_EDGE = 740000.0
RATIOS = [2, 3, 4, 5, 6, 8, 12, 20, 25]
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")


def write(path, designs):
    with open(path, "w") as f:
        for ratio, taps in designs:
            f.write("OS %d %d\n" % (ratio, len(taps)))
            for t in taps:
                f.write("%.17g\n" % t)
    print("wrote", os.path.normpath(path))


def standard(ratio):
    fs = CHIP_RATE * ratio
    return remez(12 * ratio, [0, PASS_EDGE, STOP_EDGE, fs / 2], [1, 0], weight=[1, 20], fs=fs,
                 grid_density=16, maxiter=250)


def acp_factor_octave(ratio):
    fs = CHIP_RATE * ratio
    ny = fs / 2
    script = ("pkg load signal; h = remez(%d, [0 %.17g %.17g 1], [1 1 0.005 0.001], [1 2], 'bandpass', 16);"
              "h = h / sum(h); printf('%%.17g\\n', h);" % (14 * ratio, PASS_EDGE / ny, STOP_EDGE / ny))
    out = subprocess.run(["octave-cli", "--eval", script], capture_output=True, text=True, check=True)
    return [float(v) for v in out.stdout.split()]


# Further designs exercising odd and even lengths, several bands and weights:
# (taps, band edges as fractions of Nyquist, desired per band, weight per band).
GENERAL = [
    (31, [0, 0.4, 0.5, 1], [1, 0], [1, 1]),
    (32, [0, 0.4, 0.5, 1], [1, 0], [1, 10]),
    (51, [0, 0.2, 0.3, 0.6, 0.7, 1], [0, 1, 0], [10, 1, 10]),
    (65, [0, 0.1, 0.15, 1], [1, 0], [1, 100]),
]


def general(taps, edges, desired, weights):
    return remez(taps, [e / 2 for e in edges], desired, weight=weights, fs=1.0, grid_density=16, maxiter=250)


def main():
    write(os.path.join(DATA, "remez_standard_scipy.txt"), [(r, standard(r)) for r in RATIOS])
    write(os.path.join(DATA, "remez_general_scipy.txt"), [(i, general(*g)) for i, g in enumerate(GENERAL)])
    if shutil.which("octave-cli"):
        write(os.path.join(DATA, "remez_acp_factor_octave.txt"), [(r, acp_factor_octave(r)) for r in RATIOS])
    else:
        print("octave-cli not found: ACP factor reference skipped", file=sys.stderr)


if __name__ == "__main__":
    main()
