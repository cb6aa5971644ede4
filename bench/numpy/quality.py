#!/usr/bin/python3
"""Signal quality of one benchmark frame, measured in numpy.

Reads the waveform that `onexfwd generate` (or onex_frame.py) writes for the
benchmark configuration, measures waveform quality (rho, EVM) against ideal
chips rebuilt here, the filter's own ISI, adjacent-channel leakage, occupied
bandwidth, peak to average and CCDF, and the code domain relative to the
pilot, and writes them as JSON with the key names of `onexfwd analyze --json`.

    /usr/bin/python3 quality.py --waveform f.mat --oversampling 5 \\
        --pilot-offset 0 --json ours.json
"""

import argparse
import json
import math
import os
import sys
import time

import numpy as np
import scipy.fft
import scipy.io

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import onex_frame as ox  # noqa: E402

FRAME_CHIPS = ox.SLOTS * ox.SLOT_CHIPS

# In-slot chip positions (0-based) of the pilot and MAC bursts, and the data
# chips in the order the traffic channel fills them.
PILOT_POS = np.r_[464:560, 1488:1584]
MAC_POS = np.r_[400:464, 560:624, 1424:1488, 1584:1648]
MAC_BURST_STARTS = np.array([400, 560, 1424, 1584])
DATA_POS = np.r_[0:400, 624:1424, 1648:2048]
MAC_INDICES = np.arange(4, 64)

IN_CHANNEL_HZ = 615000.0
ACLR_OFFSETS_HZ = (885000.0, 1980000.0)
ACLR_HALF_BAND_HZ = 15000.0
OBW_TAIL = 0.005
CCDF_POINTS = (("1%", 0.01), ("0.1%", 0.001), ("0.01%", 0.0001))


# --------------------------------------------------------------------------
# Reference and receiver
# --------------------------------------------------------------------------

def ideal_chips(cfg):
    # Every slot carries traffic and MAC in this configuration, so no idle
    # noise is drawn and the generator is never consulted.
    chips = ox.build_chips(cfg, np.random.default_rng(0))[0]
    return ox.quad_spread(chips, cfg["pilot_offset"])


def chain_response(os_rate):
    """The transmit chain's answer to one chip, N samples, before conjugation."""
    impulse = np.zeros(FRAME_CHIPS, dtype=complex)
    impulse[0] = 1.0
    p = ox.circular_fir_upsampled(impulse, ox.filter_acp(os_rate), os_rate)
    return ox.phase_equalise(p, os_rate)


def receive(r, p):
    """Matched filter, then the chip-rate inverse of the whole cascade.

    Sampling at the chip instants aliases the N-point spectrum onto M bins,
    so folding the OS images before dividing gives the chip-rate view of the
    cascade; its inverse undoes the filter's own ISI, which is why a perfect
    frame comes back as exactly its chips.  Returns the chip-instant output
    and the folded cascade.
    """
    m = FRAME_CHIPS
    spec_r = scipy.fft.fft(r)
    spec_p = scipy.fft.fft(p)
    zf = (spec_r * np.conj(spec_p)).reshape(-1, m).sum(axis=0)
    cf = (spec_p.real ** 2 + spec_p.imag ** 2).reshape(-1, m).sum(axis=0)
    return scipy.fft.ifft(zf / cf), cf


def rho_of(s, z, axis=None):
    num = np.abs(np.sum(np.conj(s) * z, axis=axis)) ** 2
    den = np.sum(np.abs(s) ** 2, axis=axis) * np.sum(np.abs(z) ** 2, axis=axis)
    return num / den


def evm_percent(rho):
    return 100.0 * np.sqrt(np.maximum(0.0, 1.0 / rho - 1.0))


def quality_entry(rho, chips):
    return {"rho": float(rho), "evmPercent": float(evm_percent(rho)), "chips": int(chips)}


def waveform_quality(s, z):
    ss = s.reshape(ox.SLOTS, ox.SLOT_CHIPS)
    zs = z.reshape(ox.SLOTS, ox.SLOT_CHIPS)
    every = rho_of(ss, zs, axis=1)
    pilot = rho_of(ss[:, PILOT_POS], zs[:, PILOT_POS], axis=1)
    mac = rho_of(ss[:, MAC_POS], zs[:, MAC_POS], axis=1)
    slots = [{"slot": k + 1,
              "all": quality_entry(every[k], ox.SLOT_CHIPS),
              "pilot": quality_entry(pilot[k], PILOT_POS.size),
              "mac": quality_entry(mac[k], MAC_POS.size)}
             for k in range(ox.SLOTS)]
    return quality_entry(rho_of(s, z), s.size), slots


def filter_isi_rho(cf):
    # The folded cascade in the time domain: the share of its energy at lag 0
    # is the rho a receiver without the inverse would reach on a clean frame.
    c = scipy.fft.ifft(cf)
    e = np.abs(c) ** 2
    return float(e[0] / e.sum())


# --------------------------------------------------------------------------
# Spectrum and amplitude statistics (on the waveform as played)
# --------------------------------------------------------------------------

def bin_frequencies(n, fs):
    k = np.arange(n, dtype=np.float64)
    k[(n + 1) // 2:] -= n
    return k * (fs / n)


def spectrum_figures(w, fs):
    n = w.size
    spec = scipy.fft.fft(w)
    power = spec.real ** 2 + spec.imag ** 2
    f = bin_frequencies(n, fs)
    in_channel = power[np.abs(f) <= IN_CHANNEL_HZ].sum()

    def band(lo, hi):
        return power[(f >= lo) & (f <= hi)].sum()

    def dbc(x):
        return 10.0 * math.log10(x / in_channel) if x > 0 else -math.inf

    adjacent = []
    for off in ACLR_OFFSETS_HZ:
        entry = {"offsetHz": off, "bandwidthHz": 2 * ACLR_HALF_BAND_HZ}
        if off + ACLR_HALF_BAND_HZ >= fs / 2:
            # The band would reach Nyquist: there is nothing to measure.
            entry["lowerDbc"] = entry["upperDbc"] = None
        else:
            h = ACLR_HALF_BAND_HZ
            entry["lowerDbc"] = dbc(band(-off - h, -off + h))
            entry["upperDbc"] = dbc(band(off - h, off + h))
        adjacent.append(entry)

    # Bins in rising frequency: the negative half first.
    order = np.r_[(n + 1) // 2:n, 0:(n + 1) // 2]
    run = np.cumsum(power[order])
    total = run[-1]
    low = f[order[np.argmax(run >= OBW_TAIL * total)]]
    high = f[order[np.argmax(run >= (1.0 - OBW_TAIL) * total)]]
    return adjacent, float(high - low + fs / n)


def amplitude_figures(w):
    inst = w.real ** 2 + w.imag ** 2
    n = inst.size
    mean = inst.mean()
    papr = 10.0 * math.log10(inst.max() / mean)
    ranks = [min(n - 1, int(math.floor((1.0 - p) * n))) for _, p in CCDF_POINTS]
    # Only the ranks are needed, not the whole sort.
    part = np.partition(inst, ranks)
    ccdf = {name: 10.0 * math.log10(part[k] / mean)
            for (name, _), k in zip(CCDF_POINTS, ranks)}
    return papr, ccdf


# --------------------------------------------------------------------------
# Code domain
# --------------------------------------------------------------------------

def db(x):
    x = np.asarray(x, dtype=float)
    with np.errstate(divide="ignore"):
        return 10.0 * np.log10(x)


def code_domain(s, z, cfg):
    """Power per code channel and chip, relative to a pilot chip."""
    ss = s.reshape(ox.SLOTS, ox.SLOT_CHIPS)
    zs = z.reshape(ox.SLOTS, ox.SLOT_CHIPS)
    sp, zp = ss[:, PILOT_POS], zs[:, PILOT_POS]
    # One complex gain for the frame, from all its pilot chips, so that the
    # figures are relative to the pilot and free of the chain's phase.
    g = np.sum(np.conj(sp) * zp) / np.sum(np.abs(sp) ** 2)
    pn = ox.quad_spread(np.ones(FRAME_CHIPS), cfg["pilot_offset"])
    d = (z / g * np.conj(pn) / 2.0).reshape(ox.SLOTS, ox.SLOT_CHIPS)

    pilot_db = db(np.abs(d[:, PILOT_POS].mean(axis=1)) ** 2)

    codes = 32 * (MAC_INDICES % 2) + MAC_INDICES // 2
    bursts = d[:, MAC_BURST_STARTS[:, None] + np.arange(64)]     # slot, burst, chip
    w = ox.W64[codes].T / 64.0                                   # chip, channel
    on_q = MAC_INDICES % 2 == 1
    amp = np.where(on_q, bursts.imag @ w, bursts.real @ w)        # slot, burst, channel
    mac_db = db(np.mean(amp ** 2, axis=1))

    groups = d[:, DATA_POS].reshape(ox.SLOTS, -1, 16)             # slot, group, chip
    sym = groups @ ox.W16.T / 4.0                                 # slot, group, code
    traffic_db = db(np.mean(np.abs(sym) ** 2, axis=1) / 16.0)

    mac_expected = np.concatenate([cfg["ra_gain"][:, None], cfg["rpc_gain"]], axis=1)
    # The constellations are scaled to unit power and share the chip among
    # 16 Walsh channels.
    traffic_expected = 10.0 * math.log10(1.0 / 16.0)

    out = []
    for k in range(ox.SLOTS):
        out.append({"slot": k + 1, "kind": "pilot", "index": 0,
                    "measuredDb": float(pilot_db[k]), "expectedDb": 0.0})
        for j, i in enumerate(MAC_INDICES):
            out.append({"slot": k + 1, "kind": "MAC", "index": int(i),
                        "measuredDb": float(mac_db[k, j]),
                        "expectedDb": float(mac_expected[k, j])})
        for wc in range(16):
            out.append({"slot": k + 1, "kind": "traffic", "index": wc,
                        "measuredDb": float(traffic_db[k, wc]),
                        "expectedDb": traffic_expected})
    return out


# --------------------------------------------------------------------------
# Whole report
# --------------------------------------------------------------------------

def load_waveform(path):
    d = scipy.io.loadmat(path)
    if "waveform" not in d:
        raise ValueError("%s: no variable waveform" % path)
    w = np.asarray(d["waveform"], dtype=complex).ravel()
    fs = float(np.asarray(d["sampleRate"]).ravel()[0]) if "sampleRate" in d else None
    return w, fs


def measure(w, os_rate, pilot_offset):
    fs = ox.CHIP_RATE * os_rate
    cfg = benchmark_config(pilot_offset)
    s = ideal_chips(cfg)
    p = chain_response(os_rate)
    r = np.conj(w)                          # mirror off: undo the conjugation
    z, cf = receive(r, p)
    overall, slots = waveform_quality(s, z)
    adjacent, obw = spectrum_figures(w, fs)
    papr, ccdf = amplitude_figures(w)
    return {
        "oversampling": int(os_rate),
        "sampleRate": fs,
        "overall": overall,
        "filterIsiRho": filter_isi_rho(cf),
        "slots": slots,
        "adjacentChannels": adjacent,
        "occupiedBandwidthHz": obw,
        "peakToAverageDb": papr,
        "ccdfDb": ccdf,
        "codeDomain": code_domain(s, z, cfg),
    }


def benchmark_config(pilot_offset):
    cfg = ox.benchmark_config(pilot_offset)
    if cfg["mirror"] or not np.all(cfg["data_active"]) or \
            not np.all(cfg["rpc_chn_active"] + cfg["ra_active"] >= 1):
        # The receiver and the ideal chips assume no mirror and no idle slot.
        raise ValueError("benchmark configuration is not the one measured here")
    return cfg


def finite_or_none(x):
    """JSON has no NaN or infinity; the report writes null for them."""
    if isinstance(x, float) and not math.isfinite(x):
        return None
    if isinstance(x, dict):
        return {k: finite_or_none(v) for k, v in x.items()}
    if isinstance(x, list):
        return [finite_or_none(v) for v in x]
    return x


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--waveform", required=True, help="MAT file with 'waveform'")
    ox.add_frame_arguments(ap, oversampling_required=True)
    ap.add_argument("--json", required=True, help="report file to write")
    args = ap.parse_args(argv)
    ox.check_frame_arguments(ap, args)

    t0 = time.perf_counter()
    try:
        w, fs = load_waveform(args.waveform)
    except (OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2
    n = FRAME_CHIPS * args.oversampling
    if w.size != n:
        print("%s: %d samples, a frame at oversampling %d has %d"
              % (args.waveform, w.size, args.oversampling, n), file=sys.stderr)
        return 2
    if fs is not None and fs != ox.CHIP_RATE * args.oversampling:
        print("%s: sample rate %g, oversampling %d needs %g"
              % (args.waveform, fs, args.oversampling,
                 ox.CHIP_RATE * args.oversampling), file=sys.stderr)
        return 2
    t1 = time.perf_counter()
    report = measure(w, args.oversampling, args.pilot_offset)
    t2 = time.perf_counter()
    with open(args.json, "w") as fh:
        json.dump(finite_or_none(report), fh, indent=1, allow_nan=False)
        fh.write("\n")
    t3 = time.perf_counter()
    print("quality: rho %.6f, EVM %.3g %%, filter ISI rho %.6f "
          "(read %.0f ms, measured %.0f ms, written %.0f ms)"
          % (report["overall"]["rho"], report["overall"]["evmPercent"],
             report["filterIsiRho"], (t1 - t0) * 1e3, (t2 - t1) * 1e3,
             (t3 - t2) * 1e3))
    return 0


if __name__ == "__main__":
    sys.exit(main())
