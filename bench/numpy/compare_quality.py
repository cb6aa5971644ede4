#!/usr/bin/python3
"""Compare two signal-quality reports (JSON) field by field.

    /usr/bin/python3 compare_quality.py OURS.json THEIRS.json [--verbose]

Prints every figure outside its tolerance and, per quantity, the largest
difference found and the tolerance it was held to.  Exits 1 when anything
disagrees (a figure outside tolerance, or a field, slot, adjacent-channel
offset or code channel present in one report only), 2 when a file cannot be
read.

Tolerances: rho and filterIsiRho 1e-6 absolute; EVM 1e-3 percentage points;
peak to average, CCDF and code domain 0.01 dB; adjacent-channel leakage
0.05 dB, or 1 dB when both sides are below -90 dBc (there the band holds only
the designs' rounding residue); occupied bandwidth one frequency bin plus 1 Hz.
"""

import argparse
import json
import math
import sys

CHIP_RATE = 1228800.0
FRAME_CHIPS = 32768

RHO_TOL = 1e-6
EVM_TOL = 1e-3
DB_TOL = 0.01
ACLR_TOL = 0.05
ACLR_FLOOR_DBC = -90.0
ACLR_FLOOR_TOL = 1.0


class Comparison:
    def __init__(self, verbose=False):
        self.verbose = verbose
        self.failures = 0
        self.largest = {}        # quantity -> (difference, tolerance text, where)
        self.order = []

    def _note(self, quantity, diff, tol_text, where):
        if quantity not in self.largest:
            self.order.append(quantity)
            self.largest[quantity] = (-1.0, tol_text, "")
        if diff > self.largest[quantity][0]:
            self.largest[quantity] = (diff, tol_text, where)

    def fail(self, where, message):
        self.failures += 1
        print("DIFFERS  %s: %s" % (where, message))

    def number(self, quantity, where, ours, theirs, tol, tol_text=None):
        """Both numbers within tol; null (no figure) agrees only with null."""
        tol_text = tol_text or "%g" % tol
        if ours is None or theirs is None:
            if ours is None and theirs is None:
                self._note(quantity, 0.0, tol_text, where)
                return
            self.fail(where, "ours %s, theirs %s" % (ours, theirs))
            return
        if isinstance(ours, bool) or isinstance(theirs, bool) or \
                not isinstance(ours, (int, float)) or not isinstance(theirs, (int, float)):
            self.fail(where, "not numbers: ours %r, theirs %r" % (ours, theirs))
            return
        diff = abs(float(ours) - float(theirs))
        if math.isnan(diff):
            self.fail(where, "ours %r, theirs %r" % (ours, theirs))
            return
        self._note(quantity, diff, tol_text, where)
        if diff > tol:
            self.fail(where, "ours %.10g, theirs %.10g, difference %.3g > %s"
                      % (ours, theirs, diff, tol_text))
        elif self.verbose:
            print("agrees   %s: ours %.10g, theirs %.10g, difference %.3g"
                  % (where, ours, theirs, diff))

    def exact(self, where, ours, theirs):
        if ours != theirs:
            self.fail(where, "ours %r, theirs %r" % (ours, theirs))

    def summary(self):
        print("%-22s %-12s %-22s %s" % ("quantity", "largest", "tolerance", "where"))
        for q in self.order:
            diff, tol_text, where = self.largest[q]
            print("%-22s %-12.3g %-22s %s" % (q, diff, tol_text, where))


def field(c, where, a, b, key):
    """The values of key on both sides, or None after reporting a one-sided key."""
    if key not in a or key not in b:
        c.fail("%s.%s" % (where, key),
               "present in %s only" % ("ours" if key in a else "theirs")
               if key in a or key in b else "missing on both sides")
        return None
    return a[key], b[key]


def compare_quality_entry(c, name, where, a, b):
    for key, tol, quantity in (("rho", RHO_TOL, name + " rho"),
                               ("evmPercent", EVM_TOL, name + " EVM %")):
        v = field(c, where, a, b, key)
        if v is not None:
            c.number(quantity, "%s.%s" % (where, key), v[0], v[1], tol)
    v = field(c, where, a, b, "chips")
    if v is not None:
        c.exact(where + ".chips", v[0], v[1])


def keyed(c, where, items, key_of, side):
    out = {}
    for e in items:
        k = key_of(e)
        if k in out:
            c.fail(where, "%s lists %r twice" % (side, k))
        out[k] = e
    return out


def compare(ours, theirs, verbose=False):
    c = Comparison(verbose)

    for key in ("oversampling", "sampleRate"):
        v = field(c, "", ours, theirs, key)
        if v is not None:
            c.exact(key, v[0], v[1])
    os_rate = ours.get("oversampling") or theirs.get("oversampling")
    fs = (ours.get("sampleRate") or theirs.get("sampleRate")
          or (CHIP_RATE * os_rate if os_rate else None))
    bin_hz = fs / (FRAME_CHIPS * os_rate) if fs and os_rate else CHIP_RATE / FRAME_CHIPS

    v = field(c, "", ours, theirs, "overall")
    if v is not None:
        compare_quality_entry(c, "overall", "overall", v[0], v[1])
    v = field(c, "", ours, theirs, "filterIsiRho")
    if v is not None:
        c.number("filterIsiRho", "filterIsiRho", v[0], v[1], RHO_TOL)

    v = field(c, "", ours, theirs, "slots")
    if v is not None:
        sa = keyed(c, "slots", v[0], lambda e: e.get("slot"), "ours")
        sb = keyed(c, "slots", v[1], lambda e: e.get("slot"), "theirs")
        for k in sorted(set(sa) | set(sb), key=str):
            where = "slots[%s]" % k
            if k not in sa or k not in sb:
                c.fail(where, "present in %s only" % ("ours" if k in sa else "theirs"))
                continue
            for part in ("all", "pilot", "mac"):
                p = field(c, where, sa[k], sb[k], part)
                if p is not None:
                    compare_quality_entry(c, "slot " + part, "%s.%s" % (where, part),
                                          p[0], p[1])

    v = field(c, "", ours, theirs, "adjacentChannels")
    if v is not None:
        aa = keyed(c, "adjacentChannels", v[0], lambda e: e.get("offsetHz"), "ours")
        ab = keyed(c, "adjacentChannels", v[1], lambda e: e.get("offsetHz"), "theirs")
        for off in sorted(set(aa) | set(ab), key=lambda x: (x is None, x)):
            where = "adjacentChannels[%s Hz]" % off
            if off not in aa or off not in ab:
                c.fail(where, "present in %s only" % ("ours" if off in aa else "theirs"))
                continue
            bw = field(c, where, aa[off], ab[off], "bandwidthHz")
            if bw is not None:
                c.exact(where + ".bandwidthHz", bw[0], bw[1])
            for side in ("lowerDbc", "upperDbc"):
                s = field(c, where, aa[off], ab[off], side)
                if s is None:
                    continue
                x, y = s
                floor = (isinstance(x, (int, float)) and isinstance(y, (int, float))
                         and x < ACLR_FLOOR_DBC and y < ACLR_FLOOR_DBC)
                if floor:
                    c.number("ACLR below -90 dBc", "%s.%s" % (where, side), x, y,
                             ACLR_FLOOR_TOL, "%g dB" % ACLR_FLOOR_TOL)
                else:
                    c.number("ACLR", "%s.%s" % (where, side), x, y,
                             ACLR_TOL, "%g dB" % ACLR_TOL)

    v = field(c, "", ours, theirs, "occupiedBandwidthHz")
    if v is not None:
        tol = bin_hz + 1.0
        c.number("occupiedBandwidthHz", "occupiedBandwidthHz", v[0], v[1], tol,
                 "%g Hz (one bin + 1)" % tol)

    v = field(c, "", ours, theirs, "peakToAverageDb")
    if v is not None:
        c.number("peakToAverageDb", "peakToAverageDb", v[0], v[1], DB_TOL,
                 "%g dB" % DB_TOL)

    v = field(c, "", ours, theirs, "ccdfDb")
    if v is not None:
        for key in ("1%", "0.1%", "0.01%"):
            p = field(c, "ccdfDb", v[0], v[1], key)
            if p is not None:
                c.number("ccdfDb", "ccdfDb[%s]" % key, p[0], p[1], DB_TOL,
                         "%g dB" % DB_TOL)
        extra = (set(v[0]) | set(v[1])) - {"1%", "0.1%", "0.01%"}
        for key in sorted(extra):
            p = field(c, "ccdfDb", v[0], v[1], key)
            if p is not None:
                c.number("ccdfDb", "ccdfDb[%s]" % key, p[0], p[1], DB_TOL,
                         "%g dB" % DB_TOL)

    v = field(c, "", ours, theirs, "codeDomain")
    if v is not None:
        def key_of(e):
            return (e.get("slot"), e.get("kind"), e.get("index"))
        ca = keyed(c, "codeDomain", v[0], key_of, "ours")
        cb = keyed(c, "codeDomain", v[1], key_of, "theirs")
        for k in sorted(set(ca) | set(cb), key=lambda t: tuple(map(str, t))):
            where = "codeDomain[slot %s %s %s]" % k
            if k not in ca or k not in cb:
                c.fail(where, "channel present in %s only"
                       % ("ours" if k in ca else "theirs"))
                continue
            kind = k[1]
            m = field(c, where, ca[k], cb[k], "measuredDb")
            if m is not None:
                c.number("codeDomain %s" % kind, where + ".measuredDb", m[0], m[1],
                         DB_TOL, "%g dB" % DB_TOL)
            # The set level is a property of the configuration, not a
            # measurement, but both sides state it and must state the same.
            if "expectedDb" in ca[k] or "expectedDb" in cb[k]:
                e = field(c, where, ca[k], cb[k], "expectedDb")
                if e is not None:
                    c.number("codeDomain expected", where + ".expectedDb", e[0], e[1],
                             DB_TOL, "%g dB" % DB_TOL)
    return c


def load(path):
    with open(path) as fh:
        d = json.load(fh)
    if not isinstance(d, dict):
        raise ValueError("%s: not a report (top level is not an object)" % path)
    return d


def main(argv=None):
    ap = argparse.ArgumentParser(description="Compare two signal-quality reports.")
    ap.add_argument("ours")
    ap.add_argument("theirs")
    ap.add_argument("--verbose", action="store_true",
                    help="also print every figure that agrees")
    args = ap.parse_args(argv)
    try:
        ours, theirs = load(args.ours), load(args.theirs)
    except (OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2
    c = compare(ours, theirs, args.verbose)
    c.summary()
    if c.failures:
        print("%d disagreement(s)" % c.failures)
        return 1
    print("reports agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
