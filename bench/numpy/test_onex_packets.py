#!/usr/bin/python3
"""Unit checks of the packet mode's building blocks against the air interface's stated facts.

    /usr/bin/python3 -m unittest test_onex_packets   (from bench/numpy)
"""

import os
import sys
import tempfile
import unittest

import numpy as np
import scipy.io

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import onex_frame as ox  # noqa: E402
import onex_packets as op  # noqa: E402


def crc_register_walk(bits):
    """The FCS register as the air interface words it, one bit at a time."""
    reg = 0xFFFF
    for b in bits:
        fb = int(b) ^ (reg >> 15)
        reg = (reg << 1) & 0xFFFF
        if fb:
            reg ^= 0x1021
    return reg


def rsc_register_walk(u):
    """The constituent encoder as worded: register s1 s2 s3, then three tail periods."""
    s1 = s2 = s3 = 0
    x, y0, y1 = [], [], []
    for b in u:
        x.append(b)
        y0.append(b ^ s1 ^ s2)
        y1.append(b ^ s1)
        s1, s2, s3 = b ^ s2 ^ s3, s1, s2
    for _ in range(3):
        x.append(s3 ^ s2)
        y0.append(s3 ^ s1)
        y1.append(s3 ^ s2 ^ s1)
        s1, s2, s3 = 0, s1, s2
    return [np.array(v) for v in (x, y0, y1)], (s1, s2, s3)


class Fcs(unittest.TestCase):
    def test_known_vectors(self):
        ascii_bits = np.unpackbits(np.frombuffer(b"123456789", np.uint8))
        pn = ox.pn15_bits(2004)
        for bits, value in ((ascii_bits, 0x29B1),
                            (np.zeros(1002), 0xC9A3),
                            (np.ones(1002), 0x3914),
                            (pn[:1002], 0xEBB7),
                            (np.r_[pn, np.zeros(22)], 0x4B16)):
            self.assertEqual(op.fcs(bits)[0], value, "%d bits" % bits.size)

    def test_every_packet_length_against_register_walk(self):
        rng = np.random.default_rng(7)
        for m in (3, 4):
            bits = rng.integers(0, 2, (2, 1024 * m - 22))
            np.testing.assert_array_equal(op.fcs(bits), [crc_register_walk(b) for b in bits])

    def test_packet_layout(self):
        rng = np.random.default_rng(1)
        for bits in (1024, 2048, 3072, 4096):
            m = bits // 1024
            payload = rng.integers(0, 2, (2, m * 1002))
            p = op.physical_layer_packets(payload, bits)
            self.assertEqual(p.shape, (2, bits))
            np.testing.assert_array_equal(p[:, :m * 1002], payload)
            np.testing.assert_array_equal(p[:, m * 1002:bits - 22], 0)      # pad
            np.testing.assert_array_equal(p[:, -6:], 0)                     # tail
            fcs = p[:, -22:-6] @ (1 << np.arange(15, -1, -1))
            np.testing.assert_array_equal(fcs, [crc_register_walk(r) for r in p[:, :-22]])


class TurboEncoder(unittest.TestCase):
    def test_constituent_encoder_against_register_walk(self):
        rng = np.random.default_rng(2)
        u = rng.integers(0, 2, (3, 1018)).astype(np.uint8)
        fast = op.constituent_encode(u)
        for row in range(3):
            slow, state = rsc_register_walk(u[row])
            self.assertEqual(state, (0, 0, 0))
            for f, s in zip(fast, slow):
                np.testing.assert_array_equal(f[row], s)

    def test_interleaver_is_a_permutation(self):
        for n in (1018, 2042, 3066, 4090):
            a = op.turbo_addresses(n)
            np.testing.assert_array_equal(np.sort(a), np.arange(n))
        np.testing.assert_array_equal(op.turbo_addresses(1018)[:2], [27, 515])
        np.testing.assert_array_equal(op.bit_reverse([1, 3, 6], 5), [16, 24, 12])

    def test_code_sizes_and_zero_packet(self):
        for bits, inv_rate, symbols in ((1024, 5, 5120), (2048, 3, 6144),
                                        (3072, 3, 9216), (4096, 3, 12288)):
            out = op.turbo_encode(np.zeros((1, bits), np.uint8), inv_rate)
            self.assertEqual(out.shape, (1, symbols))
            self.assertFalse(out.any())

    def test_systematic_symbols_lead_each_period(self):
        rng = np.random.default_rng(3)
        for inv_rate in (5, 3):
            p = rng.integers(0, 2, (2, 2048)).astype(np.uint8)
            out = op.turbo_encode(p, inv_rate)
            np.testing.assert_array_equal(out[:, :2042 * inv_rate:inv_rate], p[:, :2042])


class ScramblerAndInterleaver(unittest.TestCase):
    def test_scrambler_against_register_walk(self):
        seq = op.scrambling_sequence(5, 1, 40)
        np.testing.assert_array_equal(seq[:17], [1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1])
        for mac, drc in ((5, 1), (63, 12), (38, 7)):
            reg = [1] * 7 + [int(c) for c in format(mac, "06b") + format(drc, "04b")]
            walk = []
            for _ in range(3000):
                walk.append(reg[0])
                reg = reg[1:] + [reg[3] ^ reg[0]]
            np.testing.assert_array_equal(op.scrambling_sequence(mac, drc, 3000), walk)

    def test_permuter_columns(self):
        m = 512
        x = np.arange(2 * m)
        out_u = x[op.symbol_permuter(2, m, "U")].reshape(-1, 2)   # one output row per column
        out_v = x[op.symbol_permuter(2, m, "V")].reshape(-1, 2)
        rev = op.bit_reverse(np.arange(m), 9)
        for c in range(m):
            natural = [c, m + c]
            self.assertEqual(list(out_u[rev[c]]), natural[::-1] if c % 2 else natural)
            self.assertEqual(list(out_v[rev[c]]), natural[::-1] if (c // 4) % 2 else natural)

    def test_channel_interleaver_streams(self):
        for bits, inv_rate in ((1024, 5), (1024, 3), (2048, 3), (3072, 3), (4096, 3)):
            a = op.channel_interleaver(bits, inv_rate)
            np.testing.assert_array_equal(np.sort(a), np.arange(bits * inv_rate))
            streams = [a[:bits] % inv_rate] + list(a[bits:].reshape(-1, 2 * bits) % inv_rate)
            expect = [{0}, {1, 2}] if inv_rate == 3 else [{0}, {1, 3}, {2, 4}]
            self.assertEqual([set(np.unique(s)) for s in streams], expect)


class PacketChips(unittest.TestCase):
    def test_drc_table_budget(self):
        for drc, d in op.DRC_TABLE.items():
            self.assertEqual(d.data_chips, d.slots * 1600 - d.preamble, drc)
            provided = d.bits * d.inv_rate // (d.modulation + 1)
            self.assertEqual(provided, 2560 if drc <= 4 else 1536 if drc == 6 else 3072, drc)

    def test_preamble(self):
        np.testing.assert_array_equal(op.preamble(6, 128), np.tile(ox.W64[3], 2))
        np.testing.assert_array_equal(op.preamble(17, 64), -ox.W64[8])

    def test_receiver_reads_systematic_bits_from_the_front(self):
        """Chips back to bits: undo the Walsh covers, hard decisions, descramble,
        undo the U permutation; the packet's first bits and their FCS come back,
        and repeated symbols equal the first ones."""
        rng = np.random.default_rng(4)
        for drc, d in op.DRC_TABLE.items():
            m = d.bits // 1024
            packets = op.physical_layer_packets(rng.integers(0, 2, (1, m * 1002)), d.bits)
            chips = op.packet_chips(packets, drc, 9)[0]
            np.testing.assert_array_equal(chips[:d.preamble], op.preamble(9, d.preamble))
            sym = (chips[d.preamble:].reshape(-1, 16) @ ox.W16 / 4.0).ravel()
            provided = d.bits * d.inv_rate // (d.modulation + 1)
            if provided < sym.size:
                np.testing.assert_allclose(sym[provided:], sym[:sym.size - provided], atol=1e-12)
            b = d.modulation + 1
            points = ox.modulate(((np.arange(2 ** b)[:, None] >> np.arange(b - 1, -1, -1)) & 1)
                                 .ravel(), d.modulation)
            nearest = np.argmin(np.abs(sym[:d.bits // b, None] - points[None, :]), axis=1)
            u_block = ((nearest[:, None] >> np.arange(b - 1, -1, -1)) & 1).ravel()
            scr = op.scrambling_sequence(9, drc, d.bits * d.inv_rate)[::d.inv_rate]
            x = np.empty(d.bits, np.uint8)
            x[op.symbol_permuter(*op.INTERLEAVER_KM[d.bits], "U")] = u_block
            x ^= scr
            np.testing.assert_array_equal(x[:d.bits - 6], packets[0, :-6], "DRC %d" % drc)


class Placement(unittest.TestCase):
    def test_frames_rounded_to_whole_packets(self):
        for slots, count, frames in ((16, 1, 4), (16, 5, 8), (8, 3, 4), (8, 2, 2),
                                     (4, 3, 3), (2, 1, 1), (1, 7, 7)):
            self.assertEqual(op.frames_needed(count, slots), frames, (slots, count))

    def test_packets_fill_the_chosen_interlaces(self):
        for slots, frames, lanes in ((16, 4, [1, 1, 1, 1]), (8, 2, [1, 0, 1, 1]),
                                     (2, 1, [0, 1, 0, 0]), (1, 3, [1, 0, 0, 1]),
                                     (4, 1, [0, 0, 0, 0])):
            s = op.packet_slots(frames, slots, lanes)
            used = np.sort(s.ravel())
            chosen = np.nonzero(np.asarray(lanes)[np.arange(16 * frames) % 4])[0]
            np.testing.assert_array_equal(used, chosen)
            if s.size:
                self.assertTrue(np.all(np.diff(s, axis=1) == 4))
                self.assertTrue(np.all(np.diff(s[:, 0]) > 0))


class Waveform(unittest.TestCase):
    def test_short_pn_same_as_frame_yardstick(self):
        for lags in (ox.PN_I_LAGS, ox.PN_Q_LAGS):
            np.testing.assert_array_equal(op.short_pn(lags), ox.short_pn(lags))

    def test_one_frame_of_the_stream_is_the_benchmark_frame(self):
        old, old_events = ox.compute_frame(2, 3)
        new, new_events, frames, _ = op.compute_waveform(2, 3, frames=1)
        self.assertEqual(frames, 1)
        np.testing.assert_allclose(new, old, rtol=0, atol=1e-13)
        np.testing.assert_array_equal(new_events, old_events)

    def test_identical_frames_give_the_one_frame_waveform_repeated(self):
        # No interlace chosen and idle chips off: every frame is pilot and MAC
        # only, so the circular filter and the equaliser's pre-roll over two
        # frames must give the one-frame waveform twice.
        no_traffic = {"drc": 2, "mac": 5, "interlaces": [0, 0, 0, 0]}
        one, _, f1, _ = op.compute_waveform(3, 0, 1, dict(no_traffic, drc=6), idle_active=False)
        two, events, f2, _ = op.compute_waveform(3, 0, 1, no_traffic, idle_active=False)
        self.assertEqual((f1, f2), (1, 2))
        np.testing.assert_allclose(two, np.tile(one, 2), rtol=0, atol=1e-12)
        idle_data = np.repeat(np.tile(ox.blanking_masks()[1], 32), 3)
        np.testing.assert_array_equal(events[1], idle_data)

    def test_mat_writer_round_trip(self):
        wave = np.arange(5) + 1j * np.arange(5, 10)
        markers = np.asfortranarray([[1.0, 0, 1, 0, 1], [0, 0, 1, 1, 1]])
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "w.mat")
            op.write_mat(path, {"waveform": wave[None, :], "markers": markers,
                                "sampleRate": np.array([[6144000.0]])})
            got = scipy.io.loadmat(path)
        np.testing.assert_array_equal(got["waveform"], wave[None, :])
        np.testing.assert_array_equal(got["markers"], markers)
        self.assertEqual(got["sampleRate"].shape, (1, 1))
        self.assertEqual(got["sampleRate"][0, 0], 6144000.0)


if __name__ == "__main__":
    unittest.main()
