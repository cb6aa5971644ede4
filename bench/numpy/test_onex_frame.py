#!/usr/bin/python3
"""Unit checks of the numpy frame's building blocks against known values.

    /usr/bin/python3 -m unittest test_onex_frame   (from bench/numpy)
"""

import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import onex_frame as ox  # noqa: E402


def bits(text):
    return np.array([int(c) for c in text.replace(" ", "")], dtype=np.uint8)


class ShiftRegisters(unittest.TestCase):
    def test_block_growth_equals_bit_by_bit_recurrence(self):
        for taps in (ox.PN_I_TAPS, ox.PN_Q_TAPS):
            seed = np.zeros(15, dtype=np.uint8)
            seed[-1] = 1
            fast = ox.lfsr(15, taps, 5000, seed)
            slow = np.zeros(5000, dtype=np.uint8)
            slow[:15] = seed
            t = np.asarray(taps[:15], dtype=np.uint8)
            for i in range(15, 5000):
                slow[i] = np.dot(t, slow[i - 15:i]) % 2
            np.testing.assert_array_equal(fast, slow)

    def test_short_pn_known_chips(self):
        pn_i = ox.short_pn(ox.PN_I_LAGS)
        pn_q = ox.short_pn(ox.PN_Q_LAGS)
        np.testing.assert_array_equal(pn_i[:64], bits(
            "0000000000000001 0101001001110100 0110111100110010 0000111100001000"))
        np.testing.assert_array_equal(pn_i[-16:], bits("0110011110100001"))
        np.testing.assert_array_equal(pn_q[:64], bits(
            "0000000000000001 0011110101110101 1010011100010100 1110011100011011"))
        np.testing.assert_array_equal(pn_q[-16:], bits("0001111100111001"))
        self.assertEqual(pn_i.sum(), 16384)
        self.assertEqual(pn_q.sum(), 16384)

    def test_short_pn_is_the_taps_register_output_after_a_zero(self):
        seed = np.zeros(15, dtype=np.uint8)
        seed[-1] = 1
        for taps, lags in ((ox.PN_I_TAPS, ox.PN_I_LAGS), (ox.PN_Q_TAPS, ox.PN_Q_LAGS)):
            a = ox.lfsr(15, taps, 2 ** 15 - 1, seed)
            np.testing.assert_array_equal(ox.short_pn(lags), np.concatenate([[0], a]))

    def test_pilot_offset_delays_pn(self):
        ones = np.ones(ox.SLOTS * ox.SLOT_CHIPS)
        s0 = ox.quad_spread(ones, 0)
        s1 = ox.quad_spread(ones, 1)
        self.assertEqual(s1[64], s0[0])
        np.testing.assert_array_equal(s1, np.roll(s0, 64))
        self.assertTrue(set(np.unique(s0)) <= {1 + 1j, 1 - 1j, -1 + 1j, -1 - 1j})

    def test_pn15_data_source(self):
        b = ox.pn15_bits(40000)
        np.testing.assert_array_equal(b[:15], np.zeros(15))
        self.assertEqual(b[15], 1)
        np.testing.assert_array_equal(b[32767:40000], b[:40000 - 32767])


class Channels(unittest.TestCase):
    def test_walsh_rows(self):
        w = ox.walsh(64)
        np.testing.assert_array_equal(w[2], np.tile([1, 1, -1, -1], 16))
        np.testing.assert_array_equal(w[32], np.r_[np.ones(32), -np.ones(32)])
        self.assertEqual(ox.walsh(100).shape, (64, 64))

    def test_single_rpc_channel_on_quadrature(self):
        amp = np.zeros(59)
        amp[0] = 0.5                                      # MAC index 5
        chips = ox.mac_chips(np.zeros(59), amp, 0, 0.0)
        np.testing.assert_allclose(chips[:64], 0.5j * ox.W64[34])
        np.testing.assert_array_equal(chips[64:128], chips[:64])

    def test_ra_only(self):
        g = 10 ** (-3 / 20)
        chips = ox.mac_chips(np.ones(59), np.zeros(59), 1, g)
        np.testing.assert_allclose(chips, np.tile(-g * ox.W64[2], 4))

    def test_modulation_maps(self):
        self.assertAlmostEqual(ox.modulate([0, 1, 1, 0], 3)[0], (-3 + 1j) / np.sqrt(10))
        self.assertAlmostEqual(ox.modulate([1, 0], 1)[0], (-1 + 1j) / np.sqrt(2))
        s = ox.modulate([1, 1, 0], 2)[0]
        self.assertAlmostEqual(np.angle(s, deg=True), 112.5)
        self.assertEqual(ox.modulate(np.zeros(4801), 2).size, 1601)

    def test_traffic_of_zero_bits(self):
        chips = ox.traffic_chips(np.zeros(3200, dtype=np.uint8), 1)
        self.assertEqual(chips.size, 1600)
        groups = chips.reshape(-1, 16)
        np.testing.assert_allclose(groups[:, 0], 4 * (1 + 1j) / np.sqrt(2))
        np.testing.assert_allclose(groups[:, 1:], 0, atol=1e-15)

    def test_traffic_power_is_unity(self):
        rng = np.random.default_rng(3)
        chips = ox.traffic_chips(rng.integers(0, 2, 6400), 3)
        self.assertAlmostEqual(np.mean(np.abs(chips) ** 2), 1.0, delta=0.1)

    def test_blanking_masks(self):
        idle_mac, idle_data, both = ox.blanking_masks()
        for m in (idle_mac, idle_data, both):
            self.assertEqual(m.size, 2048)
        np.testing.assert_array_equal(np.nonzero(both)[0] + 1,
                                      np.r_[461:565, 1485:1589])
        np.testing.assert_array_equal(np.nonzero(idle_data)[0] + 1,
                                      np.r_[397:629, 1421:1653])
        zeros = np.nonzero(idle_mac == 0)[0] + 1
        np.testing.assert_array_equal(zeros, np.r_[405:461, 565:621, 1429:1485, 1589:1645])


class Filters(unittest.TestCase):
    def test_tap_counts(self):
        self.assertEqual(ox.filter_std(5).size, 60)
        self.assertEqual(ox.filter_acp(5).size, 130)
        self.assertEqual(ox.filter_acp(30).size, 780)

    def test_std_design_is_equiripple(self):
        h = ox.filter_std(5)
        np.testing.assert_allclose(h, h[::-1])
        e = ox.band_edges(5)
        f = np.linspace(0, 1, 20001)
        n = np.arange(h.size) - (h.size - 1) / 2
        amp = np.cos(np.pi * np.outer(f, n)) @ h
        pass_dev = np.max(np.abs(amp[f <= e[1]] - 1))
        stop_dev = np.max(np.abs(amp[f >= e[2]]))
        # Weights 1 and 20: the passband ripple is 20 times the stopband's.
        self.assertAlmostEqual(pass_dev / stop_dev, 20.0, delta=0.5)
        self.assertLess(stop_dev, 0.01)

    def test_circular_fir_impulse_wraps(self):
        os_rate, chips = 5, np.zeros(64, dtype=complex)
        chips[1] = 1.0
        h = ox.filter_acp(os_rate)
        y = ox.circular_fir_upsampled(chips, h, os_rate)
        # The impulse sits at sample 5; its response is centred there and
        # its head wraps round to the end of the frame.
        d = h.size // 2
        expect = np.zeros(chips.size * os_rate)
        idx = (np.arange(h.size) + 5 - d) % expect.size
        np.add.at(expect, idx, h)
        np.testing.assert_allclose(y, expect, atol=1e-15)

    def test_equaliser_is_allpass(self):
        for os_rate in (2, 5, 30):
            b, a = ox.eq_allpass(os_rate * ox.CHIP_RATE)
            w = np.linspace(0.01, np.pi - 0.01, 50)
            z = np.exp(-1j * w)
            mag = np.abs(np.polyval(b[::-1], z) / np.polyval(a[::-1], z))
            np.testing.assert_allclose(mag, 1.0, rtol=1e-12)

    def test_equaliser_keeps_a_tone(self):
        n = 32768 * 5
        x = np.exp(2j * np.pi * 32 * np.arange(n) / n)
        y = ox.phase_equalise(x, 5)
        np.testing.assert_allclose(np.abs(y), 1.0, rtol=1e-9)


class Frame(unittest.TestCase):
    def test_shape_and_markers(self):
        wave, events = ox.compute_frame(2, 0)
        self.assertEqual(wave.shape, (65536,))
        self.assertEqual(events.shape, (2, 65536))
        m1 = events[0].reshape(-1, 2)[:, 0]
        np.testing.assert_array_equal(np.nonzero(m1)[0], np.arange(32) * 1024)
        self.assertTrue(np.all(events[0].reshape(-1, 2)[:, 1] == m1))
        self.assertTrue(np.all(events[1] == 1))


if __name__ == "__main__":
    unittest.main()
