#!/usr/bin/python3
"""Reads a SigMF recording written by `onexfwd generate` back with numpy and json, as any
signal tool would, and checks it against the MAT file of the same frame.

    sigmf_check.py FRAME.mat RECORDING.sigmf-meta --frames N

Exits 0 when they agree; otherwise names every mismatch on standard error and exits 1.
"""
import argparse
import json
import re
import sys

import numpy as np
from scipy.io import loadmat

CHIP_RATE = 1228800
LABEL = re.compile(r"slot (\d+) (QPSK|8-PSK|16-QAM|idle|all ones|packet \d+ DRC \d+)")


def check(mat_path, meta_path, frames):
    problems = []
    mat = loadmat(mat_path)
    wave = mat["waveform"].ravel()
    rate = float(mat["sampleRate"].item())
    with open(meta_path, encoding="utf-8") as f:
        meta = json.load(f)
    data_path = meta_path[: -len(".sigmf-meta")] + ".sigmf-data"
    samples = np.fromfile(data_path, dtype="<c8")

    g = meta.get("global", {})
    for key, want in (("core:datatype", "cf32_le"), ("core:version", "1.2.0"), ("core:num_channels", 1)):
        if g.get(key) != want:
            problems.append(f"global {key} is {g.get(key)!r}, not {want!r}")
    if g.get("core:sample_rate") != rate:
        problems.append(f"sample rate {g.get('core:sample_rate')} differs from the MAT file's {rate}")
    recorder = g.get("core:recorder", "")
    if not re.fullmatch(r"onexfwd \d+\.\d+\.\d+", recorder):
        problems.append(f"recorder {recorder!r} is not 'onexfwd VERSION'")
    if "\n" in g.get("core:description", "\n"):
        problems.append("the description is missing or not one line")

    captures = meta.get("captures", [])
    if len(captures) != 1 or captures[0].get("core:sample_start") != 0 or not isinstance(captures[0].get("core:frequency"), (int, float)):
        problems.append(f"captures {captures!r} are not one capture from sample 0 with a frequency")

    if samples.size != wave.size:
        problems.append(f"{samples.size} samples in the recording, {wave.size} in the MAT file")
    else:
        peak = np.max(np.abs(wave))
        worst = np.max(np.abs(samples.astype(np.complex128) - wave))
        if not worst <= 1e-6 * peak:
            problems.append(f"samples differ by up to {worst:g}, more than float32 rounding of the peak {peak:g}")

    slot_samples = 2048 * round(rate / CHIP_RATE)
    annotations = meta.get("annotations", [])
    if len(annotations) != 16 * frames:
        problems.append(f"{len(annotations)} annotations, not 16 x {frames} frames")
    if slot_samples * len(annotations) != wave.size:
        problems.append(f"{len(annotations)} slots of {slot_samples} samples do not cover {wave.size} samples")
    for k, a in enumerate(annotations, start=1):
        label = a.get("core:label", "")
        m = LABEL.fullmatch(label)
        if not m or int(m.group(1)) != k:
            problems.append(f"annotation {k}: label {label!r} is not 'slot {k} <what it carries>'")
        if a.get("core:sample_start") != (k - 1) * slot_samples or a.get("core:sample_count") != slot_samples:
            problems.append(f"annotation {k}: samples {a.get('core:sample_start')} + {a.get('core:sample_count')} are not slot {k}'s")
        if a.get("core:generator") != recorder:
            problems.append(f"annotation {k}: generator {a.get('core:generator')!r} is not the recorder {recorder!r}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mat")
    parser.add_argument("meta")
    parser.add_argument("--frames", type=int, required=True)
    args = parser.parse_args()
    try:
        problems = check(args.mat, args.meta, args.frames)
    except (OSError, ValueError, KeyError) as e:
        problems = [f"cannot read the files: {e}"]
    for p in problems[:20]:
        print(f"sigmf_check: {p}", file=sys.stderr)
    if len(problems) > 20:
        print(f"sigmf_check: ... and {len(problems) - 20} more", file=sys.stderr)
    if problems:
        return 1
    print(f"sigmf_check: {args.meta} agrees with {args.mat}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
