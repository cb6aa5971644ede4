"""Coded forward-traffic packets and waveforms of several frames, in vectorised numpy.

The packet mode of the yardstick: physical-layer packets (payload, pad, FCS,
tail) from the PN15 data source, turbo encoder, scrambler, channel interleaver,
modulation, repetition or truncation to the DRC's data chips, 16 Walsh channels,
the preamble, and the packets placed on the four slot interlaces of an F-frame
waveform; then the same spreading, ACP filter, phase equaliser and conjugation
as the one-frame yardstick, over the whole waveform.  Also the multi-frame form
of the benchmark frame (traffic bits as one stream over all frames).

Every packet of a waveform has the same DRC and MAC index, so the scrambling
sequence, the interleaver addresses and the preamble are computed once and the
packets go through each stage together, as the rows of one matrix.

Used by onex_frame.py (`--packet-mode`, `--frames`).
"""

import struct
import time
from collections import namedtuple

import numpy as np

import onex_frame as ox

# --------------------------------------------------------------------------
# The DRC table
# --------------------------------------------------------------------------

# inv_rate: 5 for code rate 1/5, 3 for 1/3; modulation 1 QPSK, 2 8-PSK, 3 16-QAM.
Drc = namedtuple("Drc", "rate slots bits inv_rate modulation preamble data_chips")

DRC_TABLE = {
    1: Drc(38.4, 16, 1024, 5, 1, 1024, 24576),
    2: Drc(76.8, 8, 1024, 5, 1, 512, 12288),
    3: Drc(153.6, 4, 1024, 5, 1, 256, 6144),
    4: Drc(307.2, 2, 1024, 5, 1, 128, 3072),
    5: Drc(307.2, 4, 2048, 3, 1, 128, 6272),
    6: Drc(614.4, 1, 1024, 3, 1, 64, 1536),
    7: Drc(614.4, 2, 2048, 3, 1, 64, 3136),
    8: Drc(921.6, 2, 3072, 3, 2, 64, 3136),
    9: Drc(1228.8, 1, 2048, 3, 1, 64, 1536),
    10: Drc(1228.8, 2, 4096, 3, 3, 64, 3136),
    11: Drc(1843.2, 1, 3072, 3, 2, 64, 1536),
    12: Drc(2457.6, 1, 4096, 3, 3, 64, 1536),
}

MAC_PAYLOAD = 1002          # payload bits of one MAC-layer packet
PAD_BITS = 22               # zero pad after each MAC-layer packet but the last
FCS_BITS = 16
TAIL_BITS = 6


# --------------------------------------------------------------------------
# Frames and packet placement
# --------------------------------------------------------------------------

def frames_needed(frame_count, slots):
    """Frames of a packet-mode waveform: frame_count rounded up to a multiple of
    q = max(1, slots / 4), so that every interlace holds whole packets."""
    q = max(1, slots // 4)
    return -(-frame_count // q) * q


def packet_slots(frames, slots, interlaces):
    """Slot numbers of every packet, one row per packet, ordered by first slot.

    Packet j of interlace i occupies the slots i + 4 (j n + t), t = 0 .. n-1,
    j = 0 .. 4F/n - 1; only the selected interlaces carry packets.
    """
    chosen = np.nonzero(np.asarray(interlaces))[0]
    per_interlace = 4 * frames // slots
    j = np.arange(per_interlace)
    t = np.arange(slots)
    s = chosen[None, :, None] + 4 * (j[:, None, None] * slots + t[None, None, :])
    s = s.reshape(-1, slots)
    return s[np.argsort(s[:, 0], kind="stable")]


# --------------------------------------------------------------------------
# Physical-layer packet: payload, pad, FCS, tail
# --------------------------------------------------------------------------

CRC_POLY = 0x1021           # x^16 + x^12 + x^5 + 1


def _crc_tables(length):
    """The CRC register is linear in its start value and the bits: after `length`
    bits it is (the register the preset alone leaves) XOR (the sum of the
    registers a single 1 at each position leaves from a zero start).
    Returns that preset part and the per-position 16-bit rows."""
    def shift(reg):
        reg <<= 1
        return (reg ^ CRC_POLY) & 0xFFFF if reg & 0x10000 else reg

    preset = 0xFFFF
    for _ in range(length):
        preset = shift(preset)
    rows = np.empty(length, dtype=np.int64)
    reg = CRC_POLY                      # a 1 fed into a zero register
    for i in range(length - 1, -1, -1):
        rows[i] = reg
        reg = shift(reg)
    weights = (rows[:, None] >> np.arange(15, -1, -1)) & 1     # bit 15 first
    return preset, weights.astype(np.float64)


def fcs(bits):
    """The 16-bit FCS of each row of `bits` (register preset to all ones, not inverted)."""
    bits = np.atleast_2d(np.asarray(bits))
    preset, weights = _crc_tables(bits.shape[1])
    # Counts stay below 2^53, so the float product is exact before the mod 2.
    parity = (bits.astype(np.float64) @ weights).astype(np.int64) & 1
    value = parity @ (1 << np.arange(15, -1, -1))
    return value ^ preset


def physical_layer_packets(payload, bits):
    """Rows of `bits`-bit packets from rows of m x 1002 payload bits: payload, then
    (m - 1) x 22 zero pad bits, the FCS (highest-order bit first) and 6 zero tail bits."""
    m = bits // 1024
    count = payload.shape[0]
    body = np.concatenate([payload.astype(np.uint8),
                           np.zeros((count, (m - 1) * PAD_BITS), np.uint8)], axis=1)
    check = fcs(body)
    check_bits = ((check[:, None] >> np.arange(FCS_BITS - 1, -1, -1)) & 1).astype(np.uint8)
    return np.concatenate([body, check_bits, np.zeros((count, TAIL_BITS), np.uint8)], axis=1)


# --------------------------------------------------------------------------
# Turbo encoder
# --------------------------------------------------------------------------

# Multipliers of the turbo interleaver, one row per n = 3 .. 7, indexed by the
# counter's five least significant bits.
TURBO_TABLE = np.array([
    [1, 1, 3, 5, 1, 5, 1, 5, 3, 5, 3, 5, 3, 5, 5, 1,
     3, 5, 3, 5, 3, 5, 5, 5, 1, 5, 1, 5, 3, 5, 5, 3],
    [5, 15, 5, 15, 1, 9, 9, 15, 13, 15, 7, 11, 15, 3, 15, 5,
     13, 15, 9, 3, 1, 3, 15, 1, 13, 1, 9, 15, 11, 3, 15, 5],
    [27, 3, 1, 15, 13, 17, 23, 13, 9, 3, 15, 3, 13, 1, 13, 29,
     21, 19, 1, 3, 29, 17, 25, 29, 9, 13, 23, 13, 13, 1, 13, 13],
    [3, 27, 15, 13, 29, 5, 1, 31, 3, 9, 15, 31, 17, 5, 39, 1,
     19, 27, 15, 13, 45, 5, 33, 15, 13, 9, 15, 31, 17, 5, 15, 33],
    [15, 127, 89, 1, 31, 15, 61, 47, 127, 17, 119, 15, 57, 123, 95, 5,
     85, 17, 55, 57, 15, 41, 93, 87, 63, 15, 13, 15, 81, 57, 31, 69],
], dtype=np.int64)


def bit_reverse(values, width):
    values = np.asarray(values, dtype=np.int64)
    out = np.zeros_like(values)
    for b in range(width):
        out |= ((values >> b) & 1) << (width - 1 - b)
    return out


def turbo_addresses(n_bits):
    """Input addresses read by the turbo interleaver for a block of n_bits (129 .. 4096)."""
    n = (n_bits - 1).bit_length() - 5          # ceil(log2 N) - 5
    counter = np.arange(1 << (n + 5), dtype=np.int64)
    lsb = counter & 31
    msb = ((counter >> 5) + 1) & ((1 << n) - 1)
    new_lsb = (TURBO_TABLE[n - 3][lsb] * msb) & ((1 << n) - 1)
    addr = (bit_reverse(lsb, 5) << n) + new_lsb
    return addr[addr < n_bits]


def constituent_encode(u):
    """The 8-state recursive systematic encoder (feedback 1 + D^2 + D^3, parities
    1 + D + D^3 and 1 + D + D^2 + D^3) on each row of u, tail included.

    The register input a_i = u_i + a_(i-2) + a_(i-3) is u filtered by 1 / (1 + D^2 + D^3),
    whose impulse response has period 7 (1 0 1 1 1 0 0 ...).  With Q_i the XOR of
    u_i, u_(i-7), u_(i-14), ... (a running XOR down each residue class mod 7),
    a_i = Q_i + Q_(i-2) + Q_(i-3) + Q_(i-4): no loop over the bits.
    Returns x, y0, y1, each of N + 3 columns.
    """
    u = np.asarray(u, dtype=np.uint8)
    rows, n = u.shape
    width = -(-n // 7) * 7
    q = np.zeros((rows, width), np.uint8)
    q[:, :n] = u
    q = np.bitwise_xor.accumulate(q.reshape(rows, -1, 7), axis=1).reshape(rows, width)[:, :n]
    qp = np.concatenate([np.zeros((rows, 4), np.uint8), q], axis=1)
    a = qp[:, 4:] ^ qp[:, 2:n + 2] ^ qp[:, 1:n + 1] ^ qp[:, :n]
    ap = np.concatenate([np.zeros((rows, 2), np.uint8), a], axis=1)
    a1, a2 = ap[:, 1:n + 1], ap[:, :n]                 # a_(i-1), a_(i-2)
    y0 = u ^ a1 ^ a2
    y1 = u ^ a1
    # Tail: three periods that drive the register (s1 s2 s3) to zero.
    s1, s2, s3 = a[:, n - 1], a[:, n - 2], a[:, n - 3]
    tail = np.empty((3, rows, 3), np.uint8)
    for k in range(3):
        tail[0, :, k] = s3 ^ s2
        tail[1, :, k] = s3 ^ s1
        tail[2, :, k] = s3 ^ s2 ^ s1
        s1, s2, s3 = np.zeros_like(s1), s1, s2
    return tuple(np.concatenate([v, t], axis=1) for v, t in zip((u, y0, y1), tail))


def turbo_encode(packets, inv_rate):
    """Code symbols of each packet row: the last 6 bits dropped, the rest turbo
    coded at rate 1/5 or 1/3 with both encoders' tails, punctured."""
    u = np.asarray(packets, dtype=np.uint8)[:, :-TAIL_BITS]
    n = u.shape[1]
    x, y0, y1 = constituent_encode(u)
    xp, y0p, y1p = constituent_encode(u[:, turbo_addresses(n)])
    if inv_rate == 5:
        data = (x, y0, y1, y0p, y1p)
        tail1, tail2 = (x, x, y0, y1, y1), (xp, xp, y0p, y1p, y1p)
    elif inv_rate == 3:
        data = (x, y0, y0p)
        tail1, tail2 = (x, x, y0), (xp, xp, y0p)
    else:
        raise ValueError("code rate 1/%d is not 1/5 or 1/3" % inv_rate)
    rows = u.shape[0]
    parts = [np.stack([v[:, :n] for v in data], axis=2).reshape(rows, -1)]
    for tail in (tail1, tail2):
        parts.append(np.stack([v[:, n:] for v in tail], axis=2).reshape(rows, -1))
    return np.concatenate(parts, axis=1)


# --------------------------------------------------------------------------
# Scrambler and channel interleaver
# --------------------------------------------------------------------------

def scrambling_sequence(mac_index, drc, length):
    """s(1..17) = seven ones, the 6-bit MAC index and the 4-bit DRC (most significant
    bit first); then s(j + 17) = s(j) XOR s(j + 3)."""
    seed = np.concatenate([np.ones(7, np.uint8),
                           (mac_index >> np.arange(5, -1, -1)) & 1,
                           (drc >> np.arange(3, -1, -1)) & 1]).astype(np.uint8)
    taps = np.zeros(17, np.uint8)
    taps[[0, 3]] = 1                  # lags 17 and 14
    return ox.lfsr(17, taps, length, seed)


INTERLEAVER_KM = {1024: (2, 512), 2048: (2, 1024), 3072: (3, 1024), 4096: (4, 1024)}


def symbol_permuter(k, m, kind):
    """Addresses of the block permuter: output[a] = input[addresses[a]].

    Written row by row into k x m, column c rotated down by c mod k ("U") or
    floor(c / 4) mod k ("V"), column c moved to the bit reverse of c, read out
    column by column.
    """
    c = np.arange(m)
    r = np.arange(k)[:, None]
    shift = c % k if kind == "U" else (c // 4) % k
    source = ((r - shift) % k) * m + c                   # [r, c] after the rotation
    addresses = np.empty(k * m, dtype=np.int64)
    addresses[(bit_reverse(c, m.bit_length() - 1) * k + r).ravel()] = source.ravel()
    return addresses


def channel_interleaver(bits, inv_rate):
    """Addresses of the channel interleaver over the bits / (1 / inv_rate) code symbols:
    U (every inv_rate-th symbol) permuted, then [Y0 Y0'] and, at rate 1/5, [Y1 Y1']."""
    k, m = INTERLEAVER_KM[bits]
    idx = np.arange(bits * inv_rate).reshape(-1, inv_rate)
    u = idx[:, 0]
    if inv_rate == 3:
        parity = [np.concatenate([idx[:, 1], idx[:, 2]])]
    else:
        parity = [np.concatenate([idx[:, 1], idx[:, 3]]),
                  np.concatenate([idx[:, 2], idx[:, 4]])]
    v = symbol_permuter(k, 2 * m, "V")
    return np.concatenate([u[symbol_permuter(k, m, "U")]] + [p[v] for p in parity])


# --------------------------------------------------------------------------
# Chips of a packet
# --------------------------------------------------------------------------

def preamble(mac_index, chips):
    """Real preamble: Walsh function i/2 (even MAC index i) or minus Walsh function
    (i - 1)/2 (odd i), 64 chips, repeated chips / 64 times."""
    w = ox.W64[mac_index // 2] * (1.0 if mac_index % 2 == 0 else -1.0)
    return np.tile(w, chips // 64)


def packet_chips(packets, drc, mac_index):
    """The n x 1600 data chips of each packet row: preamble, then the traffic chips."""
    d = DRC_TABLE[drc]
    count = packets.shape[0]
    coded = turbo_encode(packets, d.inv_rate)
    coded ^= scrambling_sequence(mac_index, drc, coded.shape[1])
    coded = coded[:, channel_interleaver(d.bits, d.inv_rate)]
    sym = ox.modulate(coded.ravel(), d.modulation).reshape(count, -1)
    sym = sym[:, np.arange(d.data_chips) % sym.shape[1]]      # repeat or cut
    traffic = (sym.reshape(count, -1, 16) @ ox.W16 * 0.25).reshape(count, -1)
    out = np.empty((count, d.slots * ox.DATA_CHIPS), dtype=complex)
    out[:, :d.preamble] = preamble(mac_index, d.preamble)
    out[:, d.preamble:] = traffic
    return out


# --------------------------------------------------------------------------
# Waveform of F frames
# --------------------------------------------------------------------------

def packet_data(frames, drc, mac_index, interlaces):
    """Data chips of the 16F slots (16F x 1600) and which slots carry traffic."""
    d = DRC_TABLE[drc]
    slots = packet_slots(frames, d.slots, interlaces)
    data = np.zeros((ox.SLOTS * frames, ox.DATA_CHIPS), dtype=complex)
    busy = np.zeros(ox.SLOTS * frames, dtype=bool)
    if slots.size:
        m = d.bits // 1024
        payload = ox.pn15_bits(slots.shape[0] * m * MAC_PAYLOAD).reshape(slots.shape[0], -1)
        chips = packet_chips(physical_layer_packets(payload, d.bits), drc, mac_index)
        data[slots.ravel()] = chips.reshape(-1, ox.DATA_CHIPS)
        busy[slots.ravel()] = True
    return data, busy


def stream_data(cfg, frames):
    """Per-slot traffic of the benchmark configuration over F frames: one bit stream
    of F x bitsReq bits, taken by one counter over all active slots in order."""
    fmt = np.tile(cfg["data_format"], frames)
    active = np.tile(cfg["data_active"], frames).astype(bool)
    bits_req = (fmt + 1) * ox.DATA_CHIPS
    bits = ox.pn15_bits(frames * int(np.sum((cfg["data_format"] + 1) * ox.DATA_CHIPS)))
    data = np.zeros((ox.SLOTS * frames, ox.DATA_CHIPS), dtype=complex)
    counter = 0
    for s in np.nonzero(active)[0]:
        n = bits_req[s]
        data[s] = ox.traffic_chips(bits[counter:counter + n], int(fmt[s]))
        counter += n
    return data, active


def assemble(cfg, frames, data, busy, rng):
    """Unspread chips and chip-rate markers of 16F slots; slot s takes the MAC
    settings of slot s mod 16.  Idle noise is drawn slot by slot, MAC before data;
    the idle rows of `data` are filled in place."""
    nslots = ox.SLOTS * frames
    ra_amp = 10.0 ** (cfg["ra_gain"] / 20.0) * cfg["ra_active"]
    rpc_amp = 10.0 ** (cfg["rpc_gain"] / 20.0) * cfg["rpc_active"]
    mac_on = cfg["rpc_chn_active"] + cfg["ra_active"] >= 1
    mac = np.zeros((ox.SLOTS, ox.MAC_CHIPS), dtype=complex)
    for k in np.nonzero(mac_on)[0]:
        mac[k] = ox.mac_chips(cfg["rpc_bits"][k], rpc_amp[k] * cfg["rpc_chn_active"][k],
                              cfg["ra_bit"][k], ra_amp[k])
    mac = mac[np.arange(nslots) % ox.SLOTS]
    mac_idle = ~mac_on[np.arange(nslots) % ox.SLOTS]
    data_idle = ~busy
    if cfg["idle_active"]:
        for s in range(nslots):
            if mac_idle[s]:
                mac[s] = ox.idle_chips(1, cfg["idle_gain"], ox.MAC_CHIPS, rng)
            if data_idle[s]:
                data[s] = ox.idle_chips(1, cfg["idle_gain"], ox.DATA_CHIPS, rng)
    else:
        mac[mac_idle] = 0.0
        data[data_idle] = 0.0

    kind, pos = ox.slot_layout()
    is_data, is_mac = kind == 0, kind == 1
    chips = np.ones((nslots, ox.SLOT_CHIPS), dtype=complex)      # pilot stays 1
    chips[:, is_data] = data[:, pos[is_data]]
    chips[:, is_mac] = mac[:, pos[is_mac]]

    idle_mac_mask, idle_data_mask, both_mask = ox.blanking_masks()
    masks = np.stack([np.ones(ox.SLOT_CHIPS), idle_mac_mask, idle_data_mask, both_mask])
    m2 = masks[np.where(mac_idle & data_idle, 3,
                        np.where(data_idle, 2, np.where(mac_idle, 1, 0)))]
    m1 = np.zeros((nslots, ox.SLOT_CHIPS))
    m1[:, [0, ox.SLOT_CHIPS // 2]] = 1.0
    return chips.ravel(), m1.ravel(), m2.ravel()


def short_pn(lags):
    """The same 32768 chips as onex_frame.short_pn, by the block-growing register:
    a 0, then the recursion's output from fourteen 0s and a 1."""
    taps = np.zeros(15, np.uint8)
    taps[15 - np.asarray(lags)] = 1
    seed = np.zeros(15, np.uint8)
    seed[-1] = 1
    return np.concatenate([[0], ox.lfsr(15, taps, 2 ** 15 - 1, seed)]).astype(np.uint8)


def quad_spread(chips, pilot_offset):
    """Spread F frames of chips; the short PN sequences have a period of one frame."""
    d = 64 * int(pilot_offset)
    pn = ((1.0 - 2.0 * np.roll(short_pn(ox.PN_I_LAGS), d))
          + 1j * (1.0 - 2.0 * np.roll(short_pn(ox.PN_Q_LAGS), d)))
    return (chips.reshape(-1, pn.size) * pn).ravel()


def compute_waveform(os_rate, pilot_offset, frames=1, packet=None, idle_active=True,
                     rng=None):
    """The waveform and markers of F frames, and the time each stage took.

    packet: None for the benchmark traffic (16-QAM in every slot, one bit stream),
    or a dict with drc, mac and interlaces for coded packets, in which case the
    frame count is first rounded up to whole packets per interlace.
    Returns (waveform, events, frames, timings); events is 2 x N, stored column
    by column (as a MAT file holds it).
    """
    rng = np.random.default_rng() if rng is None else rng
    cfg = ox.benchmark_config(pilot_offset)
    cfg["idle_active"] = 1 if idle_active else 0
    t = [time.perf_counter()]
    if packet is None:
        data, busy = stream_data(cfg, frames)
    else:
        frames = frames_needed(frames, DRC_TABLE[packet["drc"]].slots)
        data, busy = packet_data(frames, packet["drc"], packet["mac"], packet["interlaces"])
    t.append(time.perf_counter())
    chips, m1, m2 = assemble(cfg, frames, data, busy, rng)
    chips = quad_spread(chips, pilot_offset)
    t.append(time.perf_counter())
    h = ox.filter_acp(os_rate)
    t.append(time.perf_counter())
    wave = ox.circular_fir_upsampled(chips, h, os_rate)
    t.append(time.perf_counter())
    wave = ox.phase_equalise(wave, os_rate)
    if not cfg["mirror"]:
        np.conjugate(wave, out=wave)
    t.append(time.perf_counter())
    events = np.empty((m1.size, os_rate, 2))
    events[:, :, 0] = m1[:, None]
    events[:, :, 1] = m2[:, None]
    t.append(time.perf_counter())
    names = ("traffic", "slots and spreading", "filter designs", "ACP filter",
             "equaliser", "markers")
    timings = dict(zip(names, np.diff(t)))
    return wave, events.reshape(-1, 2).T, frames, timings


# --------------------------------------------------------------------------
# MAT file
# --------------------------------------------------------------------------

def write_mat(path, variables):
    """Write 2-D double arrays (real or complex) as a level-5 MAT file.

    The data go to the file straight from the arrays' memory where their
    column-major order is already contiguous, without the copy per variable
    that a general writer makes.
    """
    def tag(kind, count):
        return struct.pack("<II", kind, count)

    with open(path, "wb") as f:
        text = b"MATLAB 5.0 MAT-file, written by onex_frame.py"
        f.write(text.ljust(116, b" ") + b"\0" * 8 + struct.pack("<H", 0x0100) + b"IM")
        for name, value in variables.items():
            a = np.asarray(value)
            if a.ndim != 2:
                a = a.reshape(1, -1)
            cplx = np.iscomplexobj(a)
            parts = (lambda: a.real, lambda: a.imag) if cplx else (lambda: a,)
            nbytes = 8 * a.size
            name = name.encode()
            padded = -(-len(name) // 8) * 8
            size = 16 + 16 + 8 + padded + len(parts) * (8 + nbytes)
            f.write(tag(14, size))                                   # miMATRIX
            f.write(tag(6, 8) + struct.pack("<II", 6 | (0x800 if cplx else 0), 0))
            f.write(tag(5, 8) + struct.pack("<ii", *a.shape))
            f.write(tag(1, len(name)) + name.ljust(padded, b"\0"))
            for part in parts:
                # One part at a time: the copy of a complex array's real or
                # imaginary part is freed before the next is made.
                p = np.asfortranarray(part(), dtype=np.float64)
                f.write(tag(9, nbytes))                              # miDOUBLE
                f.write(memoryview(p.T.reshape(-1)))
                del p
