#!/usr/bin/python3
"""Compare two frame MAT files (waveform, markers, sampleRate).

    /usr/bin/python3 compare.py A.mat B.mat [--tol 1e-9]

Prints the largest absolute and relative waveform difference and whether the
markers and sample rates are identical. Exits 1 when the relative waveform
difference exceeds --tol or anything else differs, 2 when the files do not
hold comparable frames.
"""

import argparse
import sys

import numpy as np
import scipy.io


def load(path):
    d = scipy.io.loadmat(path)
    missing = [k for k in ("waveform", "markers", "sampleRate") if k not in d]
    if missing:
        raise ValueError("%s: no variable %s" % (path, ", ".join(missing)))
    return d


def main(argv=None):
    ap = argparse.ArgumentParser(description="Compare two frame MAT files.")
    ap.add_argument("a")
    ap.add_argument("b")
    ap.add_argument("--tol", type=float, default=1e-9,
                    help="largest accepted relative waveform difference "
                         "(max |a-b| / max |a|), default 1e-9")
    args = ap.parse_args(argv)
    try:
        da, db = load(args.a), load(args.b)
    except (OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2

    wa, wb = da["waveform"], db["waveform"]
    if wa.shape != wb.shape:
        print("waveform shapes differ: %s vs %s" % (wa.shape, wb.shape))
        return 2
    wa, wb = wa.ravel(), wb.ravel()
    diff = np.abs(wa - wb)
    peak = np.max(np.abs(wa))
    max_abs = float(np.max(diff))
    max_rel = max_abs / peak if peak > 0 else (0.0 if max_abs == 0 else np.inf)
    where = int(np.argmax(diff))
    # Per-sample relative difference, judged against samples that are not tiny.
    big = np.abs(wa) > 1e-3 * peak
    max_rel_sample = float(np.max(diff[big] / np.abs(wa[big]))) if big.any() else 0.0

    ma, mb = da["markers"], db["markers"]
    markers_equal = ma.shape == mb.shape and np.array_equal(ma, mb)
    rate_equal = np.array_equal(da["sampleRate"], db["sampleRate"])

    print("samples:                %d" % wa.size)
    print("peak |waveform|:        %.6g" % peak)
    print("max |a - b|:            %.3e (sample %d)" % (max_abs, where))
    print("max |a - b| / peak:     %.3e" % max_rel)
    print("max |a - b| / |a|:      %.3e (samples above 1e-3 of peak)" % max_rel_sample)
    if markers_equal:
        print("markers:                identical %s" % (ma.shape,))
    elif ma.shape != mb.shape:
        print("markers:                shapes differ %s vs %s" % (ma.shape, mb.shape))
    else:
        rows, cols = np.nonzero(ma != mb)
        print("markers:                %d values differ, first at row %d sample %d"
              % (rows.size, rows[0] + 1, cols[0]))
    print("sampleRate:             %s" % ("identical" if rate_equal else "%s vs %s" % (
        da["sampleRate"].ravel(), db["sampleRate"].ravel())))

    ok = max_rel <= args.tol and markers_equal and rate_equal
    print("PASS" if ok else "FAIL (tolerance %.1e)" % args.tol)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
