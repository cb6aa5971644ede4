#!/usr/bin/env python3
"""Writes the MAT-file seeds of mat_load_fuzz: small files of every kind a parameter,
waveform or correction file is made of, in the formats other tools write (level 4, level 5
plain and compressed). Run from anywhere: python3 fuzz/corpus/make_mat_seeds.py"""
import os

import numpy as np
import scipy.io

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mat_load_fuzz")
os.makedirs(out, exist_ok=True)

parameters = {
    "Title": "SEED",
    "OverSampling": np.array([[4.0]]),
    "PilotPN": np.array([[0.0]]),
    "slot": {"DATAslotMod": np.arange(16, dtype=float).reshape(1, 16) % 4,
             "RAslotGain": -np.ones((1, 16))},
}
kinds = {
    "numbers": {"x": np.array([[1.5, -2.0, np.inf, np.nan]])},
    "complex": {"wave": np.array([[1 + 2j, -0.5j, 3.0]])},
    "texts": {"name": "qorvath", "rows": np.array(["ab", "cd"])},
    "integers": {"i8": np.array([[-1, 2]], dtype=np.int8), "u8": np.array([[255]], dtype=np.uint8),
                 "i32": np.array([[7]], dtype=np.int32), "flag": np.array([[True, False]])},
    "cell": {"c": np.array([[np.array([[1.0]]), "two"]], dtype=object)},
    "structure": {"sigGenParameters": {"Frequency": np.array([[2.2e9]]), "Amplitude": np.array([[-30.0]]),
                                       "Title": "SEED"}},
    "parameters": {"parameters": parameters, "version": "1"},
    "empty": {"e": np.zeros((0, 0)), "s": ""},
}
for name, variables in kinds.items():
    scipy.io.savemat(os.path.join(out, name + ".mat"), variables, do_compression=False)
    scipy.io.savemat(os.path.join(out, name + "_compressed.mat"), variables, do_compression=True)
# Level 4 holds plain matrices and texts only.
scipy.io.savemat(os.path.join(out, "level4.mat"), {"x": np.array([[1.0, 2.0]]), "t": "ab"}, format="4")
