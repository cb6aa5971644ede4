#!/usr/bin/python3
"""One 1xEV forward-link frame in vectorised numpy, as a speed yardstick.

Builds the benchmark frame that `onexfwd generate` computes with every channel
on: pilot, traffic in all 16 slots at 16-QAM from the PN15 data source, the RA
channel and all 59 RPC channels in every slot, short-PN spreading at the chosen
pilot offset, ACP baseband filter (both equiripple designs done here at run
time), phase equaliser and conjugation. The result is written as a MAT file with
the same variables as the compiled tool writes.

    /usr/bin/python3 onex_frame.py --oversampling 30 --out frame.mat

With --frames or --packet-mode (onex_packets.py) it builds a waveform of several
frames: the same traffic as one bit stream over all of them, or coded
physical-layer packets of one DRC and MAC index on the chosen slot interlaces:

    /usr/bin/python3 onex_frame.py --packet-mode --drc 3 --mac 17 --frames 2 \
        --interlaces 1,0,1,1 --idle-off --out packets.mat
"""

import argparse
import sys
import time

import numpy as np
import scipy.fft
import scipy.io
import scipy.signal

CHIP_RATE = 1228800.0
SLOT_CHIPS = 2048
SLOTS = 16
DATA_CHIPS = 1600
MAC_CHIPS = 256
RF_BLANKING_MARGIN = 4


# --------------------------------------------------------------------------
# Shift-register sequences
# --------------------------------------------------------------------------

def lfsr(n, taps, m, seed):
    """Bits of the linear recurrence a(i) = sum taps(k) a(i-n+k-1) mod 2.

    A one-bit-at-a-time loop would dominate the run time, so the sequence is
    grown in blocks: over GF(2) the characteristic polynomial satisfies
    p(x)^(2^q) = p(x^(2^q)), hence a(i) = XOR_d a(i - d*2^q) for every lag d of
    the recurrence once i >= n*2^q.  With L bits known, a block of
    (smallest lag)*2^q new bits depends only on known bits.
    """
    taps = np.asarray(taps[:n], dtype=bool)
    lags = n - np.nonzero(taps)[0]           # taps(k) -> lag n-k+1 (k 1-based)
    a = np.zeros(max(m, n), dtype=np.uint8)
    a[:n] = np.asarray(seed, dtype=np.uint8)[:n]
    dmin = int(lags.min())
    known = n
    while known < m:
        q = 0
        while n << (q + 1) <= known:
            q += 1
        step = 1 << q
        stop = min(m, known + dmin * step)
        block = np.zeros(stop - known, dtype=np.uint8)
        for d in lags:
            s = known - int(d) * step
            block ^= a[s:s + (stop - known)]
        a[known:stop] = block
        known = stop
    return a[:m]


def pn15_bits(length):
    """PN15 data source: x^15 + x^14 + 1 from the all-ones seed, inverted."""
    taps = np.zeros(16, dtype=np.uint8)      # x^15 ... x^0
    taps[[0, 1, 15]] = 1
    return 1 - lfsr(15, taps, length, np.ones(15))


PN_I_TAPS = [1, 0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1]
PN_Q_TAPS = [1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1]

# The short codes' linear recursions, as the air interface states them: chip n is the
# exclusive or of the chips these many places earlier (I: x^15+x^13+x^9+x^8+x^7+x^5+1,
# Q: x^15+x^12+x^11+x^10+x^6+x^5+x^4+x^3+1).
PN_I_LAGS = (15, 10, 8, 7, 6, 2)
PN_Q_LAGS = (15, 12, 11, 10, 9, 5, 4, 3)


def short_pn(lags):
    """One 32768-chip period of a short PN code in time order: the recursion run from the
    state whose output is fourteen 0s and a 1, with a 0 inserted before them (the period's
    one run of fifteen 0s)."""
    period = 2 ** 15
    s = np.zeros(period, dtype=np.uint8)
    s[15] = 1                     # s[0] is the inserted 0; s[1:16] = fourteen 0s, 1
    for n in range(16, period):
        bit = 0
        for lag in lags:
            bit ^= s[n - lag]
        s[n] = bit
    return s


def quad_spread(chips, pilot_offset):
    d = 64 * int(pilot_offset)
    pn_i = 1.0 - 2.0 * np.roll(short_pn(PN_I_LAGS), d)
    pn_q = 1.0 - 2.0 * np.roll(short_pn(PN_Q_LAGS), d)
    return chips * (pn_i + 1j * pn_q)


# --------------------------------------------------------------------------
# Channels
# --------------------------------------------------------------------------

def walsh(order):
    h = np.ones((1, 1))
    for _ in range(int(np.floor(np.log2(order)))):
        h = np.block([[h, h], [h, -h]])
    return h


W64 = walsh(64)
W16 = walsh(16)


def mac_chips(rpc_bits, rpc_amp, ra_bit, ra_amp):
    """256 MAC chips: the RA and 59 RPC channels on their 64-chip codes."""
    mac_index = np.arange(4, 64)                      # RA is MAC index 4
    codes = 32 * (mac_index % 2) + mac_index // 2
    amp = np.concatenate([[(1 - 2 * ra_bit) * ra_amp],
                          (1 - 2 * np.asarray(rpc_bits)) * np.asarray(rpc_amp)])
    amp = amp * np.where(mac_index % 2 == 1, 1j, 1.0)  # odd indices on Q
    burst = amp @ W64[codes]
    return np.tile(burst, 4)


def idle_chips(active, gain_db, count, rng):
    if not active:
        return np.zeros(count, dtype=complex)
    sigma = np.sqrt(10.0 ** (gain_db / 10.0) / 2.0)
    return sigma * (rng.standard_normal(count) + 1j * rng.standard_normal(count))


QPSK_SCALE = 1.0 / np.sqrt(2.0)
QAM16_SCALE = 1.0 / np.sqrt(10.0)
C8 = np.cos(np.pi / 8)
S8 = np.sin(np.pi / 8)


def modulate(bits, fmt):
    """QPSK / 8-PSK / 16-QAM Gray maps; bits in stream order, d1 first."""
    b = fmt + 1
    bits = np.asarray(bits, dtype=np.int8)
    if bits.size % b:
        bits = np.concatenate([bits, np.zeros(b - bits.size % b, np.int8)])
    d = bits.reshape(-1, b)
    if fmt == 1:
        return QPSK_SCALE * ((1 - 2 * d[:, 0]) + 1j * (1 - 2 * d[:, 1]))
    if fmt == 2:
        mi = np.where(d[:, 0] == 0, C8, S8)
        mq = np.where(d[:, 0] == 0, S8, C8)
        return (1 - 2 * d[:, 1]) * mi + 1j * (1 - 2 * d[:, 2]) * mq
    if fmt == 3:
        i = (3 - 2 * d[:, 0]) * (1 - 2 * d[:, 1])
        q = (3 - 2 * d[:, 2]) * (1 - 2 * d[:, 3])
        return QAM16_SCALE * (i + 1j * q)
    raise ValueError(f"modulation code {fmt} is not 1, 2 or 3")


def traffic_chips(bits, fmt, symbols_required=DATA_CHIPS):
    sym = modulate(bits, fmt)
    reps = -(-symbols_required // sym.size)
    sym = np.tile(sym, reps)[:symbols_required]
    if sym.size % 16:
        sym = np.concatenate([sym, np.zeros(16 - sym.size % 16, complex)])
    # Each group of 16 symbols rides Walsh codes 0..15 and the 16 covered
    # streams add up chip by chip, 1/4 each.
    return (sym.reshape(-1, 16) @ W16 * 0.25).ravel()


# --------------------------------------------------------------------------
# Frame assembly
# --------------------------------------------------------------------------

def _runs(*pairs):
    return np.concatenate([np.full(n, v, dtype=np.float64) for v, n in pairs])


def blanking_masks(m=RF_BLANKING_MARGIN):
    idle_mac = _runs((1, 400 + m), (0, 64 - 2 * m), (1, 96 + 2 * m), (0, 64 - 2 * m),
                     (1, 800 + 2 * m), (0, 64 - 2 * m), (1, 96 + 2 * m),
                     (0, 64 - 2 * m), (1, 400 + m))
    idle_data = _runs((0, 400 - m), (1, 224 + 2 * m), (0, 800 - 2 * m),
                      (1, 224 + 2 * m), (0, 400 - m))
    both_idle = _runs((0, 464 - m), (1, 96 + 2 * m), (0, 928 - 2 * m),
                      (1, 96 + 2 * m), (0, 464 - m))
    return idle_mac, idle_data, both_idle


def slot_layout():
    """Index maps from the slot's 2048 chips to its data, MAC and pilot parts."""
    kind = np.empty(SLOT_CHIPS, dtype=np.int8)     # 0 data, 1 MAC, 2 pilot
    pos = np.empty(SLOT_CHIPS, dtype=np.int64)
    segments = [(0, 0, 400), (1, 0, 64), (2, 0, 96), (1, 64, 64), (0, 400, 800),
                (1, 128, 64), (2, 0, 96), (1, 192, 64), (0, 1200, 400)]
    at = 0
    for k, start, n in segments:
        kind[at:at + n] = k
        pos[at:at + n] = np.arange(start, start + n)
        at += n
    return kind, pos


def build_chips(cfg, rng):
    """The 32768 unspread chips and both chip-rate markers."""
    ra_amp = 10.0 ** (cfg["ra_gain"] / 20.0) * cfg["ra_active"]
    rpc_amp = 10.0 ** (cfg["rpc_gain"] / 20.0) * cfg["rpc_active"]
    data_bits_req = (cfg["data_format"] + 1) * DATA_CHIPS
    bits = cfg["data_bits"]
    idle_mac, idle_data, both_idle = blanking_masks()
    kind, pos = slot_layout()
    is_data, is_mac, is_pilot = kind == 0, kind == 1, kind == 2

    frame = np.zeros((SLOTS, SLOT_CHIPS), dtype=complex)
    marker1 = np.zeros((SLOTS, SLOT_CHIPS))
    marker2 = np.ones((SLOTS, SLOT_CHIPS))
    marker1[:, [0, 1024]] = 1.0
    frame[:, is_pilot] = 1.0

    counter = 0
    for k in range(SLOTS):
        if cfg["rpc_chn_active"][k] + cfg["ra_active"][k] >= 1:
            mac = mac_chips(cfg["rpc_bits"][k], rpc_amp[k] * cfg["rpc_chn_active"][k],
                            cfg["ra_bit"][k], ra_amp[k])
            mac_idle = False
        else:
            mac = idle_chips(cfg["idle_active"], cfg["idle_gain"], MAC_CHIPS, rng)
            mac_idle = True
        if cfg["data_active"][k]:
            n = data_bits_req[k]
            data = traffic_chips(bits[counter:counter + n], int(cfg["data_format"][k]))
            counter += n
            data_idle = False
        else:
            data = idle_chips(cfg["idle_active"], cfg["idle_gain"], DATA_CHIPS, rng)
            data_idle = True
        if mac_idle and data_idle:
            marker2[k] = both_idle
        elif data_idle:
            marker2[k] = idle_data
        elif mac_idle:
            marker2[k] = idle_mac
        frame[k, is_data] = data[pos[is_data]]
        frame[k, is_mac] = mac[pos[is_mac]]
    return frame.ravel(), marker1.ravel(), marker2.ravel()


# --------------------------------------------------------------------------
# Equiripple (Parks-McClellan) design
# --------------------------------------------------------------------------

def _bary_weights(x):
    diff = 2.0 * (x[:, None] - x[None, :])
    np.fill_diagonal(diff, 1.0)
    return 1.0 / np.prod(diff, axis=1)


def _bary_eval(xq, xe, ye, we, block=256):
    """Barycentric value of the polynomial through (xe, ye) at xq.

    Worked in row blocks that stay in cache: a full grid-by-nodes matrix is a
    few MB, and fresh memory of that size costs more than the arithmetic.
    """
    out = np.empty(xq.size)
    work = np.empty((min(block, xq.size), xe.size))
    rhs = np.stack([ye, np.ones_like(ye)], axis=1)   # numerator, denominator
    nd = np.empty((work.shape[0], 2))
    for start in range(0, xq.size, block):
        q = xq[start:start + block]
        w = work[:q.size]
        np.subtract.outer(q, xe, out=w)
        rows, cols = np.nonzero(w == 0.0)
        w[rows, cols] = 1.0
        np.divide(we, w, out=w)
        r = np.dot(w, rhs, out=nd[:q.size])
        seg = out[start:start + q.size]
        np.divide(r[:, 0], r[:, 1], out=seg)
        seg[rows] = ye[cols]
    return out


def _pick_extremals(err, nz):
    """Alternating extremal set of the weighted error, or None."""
    left = np.concatenate([[-np.inf], err[:-1]])
    right = np.concatenate([err[1:], [-np.inf]])
    is_max = (err >= left) & (err >= right) & (err > 0)
    left = np.concatenate([[np.inf], err[:-1]])
    right = np.concatenate([err[1:], [np.inf]])
    is_min = (err <= left) & (err <= right) & (err < 0)
    cand = np.nonzero(is_max | is_min)[0]
    if cand.size < nz:
        return None
    # Keep the largest of each run of equal sign, so the set alternates.
    sign = err[cand] > 0
    run = np.concatenate([[0], np.cumsum(sign[1:] != sign[:-1])])
    mag = np.abs(err[cand])
    order = np.lexsort((-mag, run))
    first = np.concatenate([[True], run[order][1:] != run[order][:-1]])
    cand = np.sort(cand[order[first]])
    lo, hi = 0, cand.size
    while hi - lo > nz:
        # Dropping an end keeps the alternation; drop the weaker end.
        if abs(err[cand[lo]]) < abs(err[cand[hi - 1]]):
            lo += 1
        else:
            hi -= 1
    return cand[lo:hi]


def equiripple(order, edges, amps, weights, density=16, max_iter=250):
    """Linear-phase equiripple FIR (types I and II), Parks-McClellan exchange.

    `edges` are band edges as fractions of the Nyquist frequency, `amps` the
    desired amplitude at each edge (linear within a band), `weights` one per
    band.  Dense grid (density points per extremal, band edges on the grid,
    Nyquist left out for type II), initial extremals spread evenly over the
    grid, multiple exchange until the extremal set stops changing, and the taps
    from the amplitude sampled at 2*nfcns-1 equally spaced frequencies.
    """
    ntaps = order + 1
    odd = ntaps % 2
    nfcns = ntaps // 2 + odd
    nz = nfcns + 1
    f_edges = np.asarray(edges, dtype=float) / 2.0       # cycles per sample
    amps = np.asarray(amps, dtype=float)
    delf = 0.5 / (density * nfcns)

    grids, des, wt = [], [], []
    for b in range(f_edges.size // 2):
        lo, hi = f_edges[2 * b], f_edges[2 * b + 1]
        npts = int(np.floor((hi - lo) / delf)) + 1
        g = lo + delf * np.arange(npts)
        g[-1] = hi
        gf, f0, f1 = 2.0 * g, 2.0 * lo, 2.0 * hi
        slope = (amps[2 * b + 1] - amps[2 * b]) / (f1 - f0)
        grids.append(g)
        des.append(slope * gf + amps[2 * b] - slope * f0)
        wt.append(np.full(npts, float(weights[b])))
    grid, des, wt = np.concatenate(grids), np.concatenate(des), np.concatenate(wt)
    if not odd and grid[-1] > 0.5 - delf:
        # Type II has a forced zero at Nyquist: leave that point out.
        grid, des, wt = grid[:-1], des[:-1], wt[:-1]
    if not odd:
        change = np.cos(np.pi * grid)
        des = des / change
        wt = wt * change
    ngrid = grid.size
    xg = np.cos(2.0 * np.pi * grid)

    temp = (ngrid - 1) / nfcns
    iext = np.concatenate([np.floor(np.arange(nfcns) * temp).astype(np.int64),
                           [ngrid - 1]])
    alt = np.where(np.arange(nz) % 2 == 0, 1.0, -1.0)
    last_dev = -1.0
    for _ in range(max_iter):
        xe = xg[iext]
        ad = _bary_weights(xe)
        dev = np.dot(ad, des[iext]) / np.dot(alt * ad, 1.0 / wt[iext])
        ye = des[iext] - alt * dev / wt[iext]
        dev = abs(dev)
        if dev < last_dev:
            break
        last_dev = dev
        err = (_bary_eval(xg, xe, ye, ad) - des) * wt
        new = _pick_extremals(err, nz)
        if new is None or np.array_equal(new, iext):
            break
        iext = new
    else:
        print("equiripple: no convergence in %d iterations" % max_iter, file=sys.stderr)

    # Cosine-series coefficients from 2*nfcns-1 equally spaced samples of the
    # amplitude.  Every sample is the interpolating polynomial itself: taking
    # the extremal's value for a sample merely close to an extremal costs up
    # to 1e-8 of the taps near x = -1, where the polynomial is steep in x.
    cn = 2 * nfcns - 1
    xt = np.cos(2.0 * np.pi * np.arange(nfcns) / cn)
    a = _bary_eval(xt, xg[iext], ye, ad)
    k = np.arange(1, nfcns)
    cosm = np.cos(np.outer(np.arange(nfcns) * (2.0 * np.pi / cn), k))
    alpha = (2.0 * (cosm @ a[1:]) + a[0]) / cn
    alpha[1:] *= 2.0
    return _taps_from_alpha(alpha, nfcns, odd)


def _taps_from_alpha(alpha, nfcns, odd):
    if odd:
        half = np.concatenate([0.5 * alpha[:0:-1], [alpha[0]]])
        return np.concatenate([half, half[-2::-1]])
    half = np.empty(nfcns)
    half[0] = 0.25 * alpha[nfcns - 1]
    j = np.arange(2, nfcns)                       # 1-based tap index
    half[1:nfcns - 1] = 0.25 * (alpha[nfcns - j] + alpha[nfcns + 1 - j])
    half[nfcns - 1] = 0.5 * alpha[0] + 0.25 * alpha[1]
    return np.concatenate([half, half[::-1]])


# --------------------------------------------------------------------------
# Baseband filter, phase equaliser, oversampling
# --------------------------------------------------------------------------

def band_edges(os_rate):
    half_fs = CHIP_RATE * os_rate / 2.0
    return [0.0, 590000.0 / half_fs, 740000.0 / half_fs, 1.0]


def filter_std(os_rate):
    return equiripple(12 * os_rate - 1, band_edges(os_rate), [1, 1, 0, 0], [1, 20])


def filter_acp(os_rate):
    h0 = filter_std(os_rate)
    h = equiripple(14 * os_rate, band_edges(os_rate), [1, 1, 0.005, 0.001], [1, 2])
    h = h / np.sum(h)
    return np.convolve(h0, h)


def circular_fir_upsampled(chips, h, os_rate):
    """Circular FIR of the zero-stuffed frame, delay floor(len(h)/2) removed.

    Only every os_rate-th input sample is non-zero, so output phase p
    (samples p, p + os_rate, ...) is the chips circularly convolved with taps
    p, p + os_rate, ... of the filter: os_rate chip-length FFT convolutions
    instead of one over the whole zero-stuffed frame.  The delay is taken out
    by wrapping the taps round to start floor(len(h)/2) early.
    """
    nchip = chips.size
    n = nchip * os_rate
    delay = h.size // 2
    taps = np.zeros(n)
    taps[:h.size - delay] = h[delay:]
    taps[n - delay:] = h[:delay]
    # Row m, column p of the reshaped taps is tap m*os_rate + p: column p is
    # phase p, and the result comes out already interleaved.
    spectra = scipy.fft.fft(taps.reshape(nchip, os_rate), axis=0)
    spectra *= scipy.fft.fft(chips)[:, np.newaxis]
    return scipy.fft.ifft(spectra, axis=0, overwrite_x=True).reshape(n)


def eq_allpass(fs):
    """Digital all-pass section of the transmit phase equaliser."""
    w0 = 1979203.3717615698
    alpha = 1.36
    b1, b2 = -alpha * w0, w0 * w0        # numerator s^2 + b1 s + b2
    a1 = alpha * w0                      # denominator s^2 + a1 s + b2
    wp = 2.0 * np.pi * 500000.0
    k = wp / np.tan(wp / fs / 2.0)       # s = k (z-1)/(z+1), matched at 500 kHz
    kk = k * k
    num = np.array([kk + b1 * k + b2, 2.0 * (b2 - kk), kk - b1 * k + b2])
    den = np.array([kk + a1 * k + b2, 2.0 * (b2 - kk), kk - a1 * k + b2])
    return num / den[0], den / den[0]


def phase_equalise(x, os_rate):
    b, a = eq_allpass(os_rate * CHIP_RATE)
    filtlen = 25 * os_rate
    # The IIR tail is approximated by a pre-roll taken from the frame's end;
    # running the pre-roll first and carrying the state over is the same
    # filter run without building the longer sequence.
    zi = np.zeros(max(len(a), len(b)) - 1, dtype=complex)
    _, zi = scipy.signal.lfilter(b, a, x[x.size - (filtlen - 1):], zi=zi)
    y, _ = scipy.signal.lfilter(b, a, x, zi=zi)
    shift = 2 * os_rate - 1
    return np.concatenate([y[shift:], y[:shift]])


# --------------------------------------------------------------------------
# The benchmark configuration
# --------------------------------------------------------------------------

def benchmark_config(pilot_offset):
    """Every channel on: traffic 16-QAM in all slots, RA and 59 RPC channels."""
    data_format = np.full(SLOTS, 3)
    bits_req = int(np.sum((data_format + 1) * DATA_CHIPS))
    return {
        "pilot_offset": pilot_offset,
        "data_active": np.ones(SLOTS, dtype=int),
        "data_format": data_format,
        "data_bits": pn15_bits(bits_req),
        "ra_active": np.ones(SLOTS),
        "ra_bit": np.ones(SLOTS),
        "ra_gain": np.full(SLOTS, -3.0),
        "rpc_chn_active": np.ones(SLOTS),
        "rpc_active": np.ones((SLOTS, 59)),
        "rpc_bits": np.ones((SLOTS, 59)),
        "rpc_gain": np.full((SLOTS, 59), -3.0),
        "idle_active": 1,
        "idle_gain": -10.0,
        "mirror": 0,
    }


def compute_frame(os_rate, pilot_offset, rng=None):
    rng = np.random.default_rng() if rng is None else rng
    cfg = benchmark_config(pilot_offset)
    chips, m1, m2 = build_chips(cfg, rng)
    chips = quad_spread(chips, cfg["pilot_offset"])
    wave = circular_fir_upsampled(chips, filter_acp(os_rate), os_rate)
    wave = phase_equalise(wave, os_rate)
    if not cfg["mirror"]:
        np.conjugate(wave, out=wave)
    events = np.empty((2, m1.size, os_rate))
    events[0] = m1[:, None]
    events[1] = m2[:, None]
    return wave, events.reshape(2, -1)


def add_frame_arguments(ap, oversampling_required):
    """The frame's samples per chip and pilot offset, as every script here takes them."""
    ap.add_argument("--oversampling", type=int, required=oversampling_required,
                    default=None if oversampling_required else 5,
                    help="samples per chip, 2 to 30" + ("" if oversampling_required else " (default 5)"))
    ap.add_argument("--pilot-offset", type=int, default=0,
                    help="pilot PN offset index, 0 to 511 (default 0)")


def check_frame_arguments(ap, args):
    if not 2 <= args.oversampling <= 30:
        ap.error("--oversampling must be 2 to 30")
    if not 0 <= args.pilot_offset <= 511:
        ap.error("--pilot-offset must be 0 to 511")


def add_packet_arguments(ap):
    g = ap.add_argument_group("several frames and coded packets")
    g.add_argument("--frames", type=int, default=1,
                   help="16-slot frames, 1 to 16 (default 1); in packet mode rounded up "
                        "to whole packets on every interlace")
    g.add_argument("--packet-mode", action="store_true",
                   help="coded physical-layer packets instead of 16-QAM bits in every slot")
    g.add_argument("--drc", type=int, default=6, help="DRC index of the packets, 1 to 12 (default 6)")
    g.add_argument("--mac", type=int, default=5, help="MAC index the packets are addressed to, "
                                                      "5 to 63 (default 5)")
    g.add_argument("--interlaces", default="1,1,1,1",
                   help='the four interlace flags, "1,0,1,1" or "1 0 1 1" (default all on)')
    g.add_argument("--idle-off", action="store_true",
                   help="idle chips are zeros (the default is noise at -10 dB)")


def check_packet_arguments(ap, args):
    if not 1 <= args.frames <= 16:
        ap.error("--frames must be 1 to 16")
    if not 1 <= args.drc <= 12:
        ap.error("--drc must be 1 to 12")
    if not 5 <= args.mac <= 63:
        ap.error("--mac must be 5 to 63")
    flags = args.interlaces.replace(",", " ").split()
    if len(flags) != 4 or any(f not in ("0", "1") for f in flags):
        ap.error("--interlaces must be four flags 0 or 1")
    args.interlaces = [int(f) for f in flags]


def write_waveform(args):
    """Several frames or coded packets (onex_packets.py), written to args.out."""
    import onex_packets    # it builds on this module, so it is loaded only here

    packet = ({"drc": args.drc, "mac": args.mac, "interlaces": args.interlaces}
              if args.packet_mode else None)
    t0 = time.perf_counter()
    wave, events, frames, split = onex_packets.compute_waveform(
        args.oversampling, args.pilot_offset, args.frames, packet,
        idle_active=not args.idle_off)
    t1 = time.perf_counter()
    onex_packets.write_mat(args.out, {
        "waveform": wave[np.newaxis, :],
        "markers": events,
        "sampleRate": np.array([[CHIP_RATE * args.oversampling]]),
    })
    t2 = time.perf_counter()
    what = ("DRC %d packets, MAC index %d, interlaces %s"
            % (args.drc, args.mac, " ".join(map(str, args.interlaces)))
            if args.packet_mode else "16-QAM in every slot")
    print("waveform: %d frames, %s, %d samples, %d samples per chip "
          "(computed in %.1f ms, written in %.1f ms)"
          % (frames, what, wave.size, args.oversampling, (t1 - t0) * 1e3, (t2 - t1) * 1e3))
    print("  " + ", ".join("%s %.1f ms" % (k, v * 1e3) for k, v in split.items()))
    return 0


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add_frame_arguments(ap, oversampling_required=False)
    ap.add_argument("--out", required=True, help="MAT file to write")
    add_packet_arguments(ap)
    args = ap.parse_args(argv)
    check_frame_arguments(ap, args)
    check_packet_arguments(ap, args)

    if args.packet_mode or args.frames > 1:
        return write_waveform(args)

    t0 = time.perf_counter()
    wave, events = compute_frame(args.oversampling, args.pilot_offset)
    t1 = time.perf_counter()
    scipy.io.savemat(args.out, {
        "waveform": wave[np.newaxis, :],
        "markers": events,
        "sampleRate": np.float64(CHIP_RATE * args.oversampling),
    })
    t2 = time.perf_counter()
    print("frame: %d samples, %d samples per chip, %.0f samples/s "
          "(computed in %.1f ms, written in %.1f ms)"
          % (wave.size, args.oversampling, CHIP_RATE * args.oversampling,
             (t1 - t0) * 1e3, (t2 - t1) * 1e3))
    return 0


if __name__ == "__main__":
    sys.exit(main())
