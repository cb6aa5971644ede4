#!/usr/bin/python3
"""Writes two small parameter-like MAT files written by other programs, to tests/data/:

    params_scipy.mat   SciPy's level-5 writer, uncompressed, text stored as UTF-8
    params_octave.mat  GNU Octave's "-v7" writer, compressed, text stored as UTF-16

Both hold the same variables with the same values; tests/host/mat_file_test.cpp checks
every value, class and shape by the formulas below and round-trips them through our
writer. Run by hand with Debian's python3-scipy and octave-cli:
    /usr/bin/python3 tests/tools/make_mat_fixture.py
Without octave-cli only the SciPy file is rewritten.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from scipy.io import savemat

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.normpath(os.path.join(HERE, "..", "data"))
SLOTS = 16
RPC = 59

# Text outside ASCII: the plus-minus sign, u-umlaut and sharp s fit an 8-bit character,
# the euro sign does not.
COMMENT = "Pegel \u00b13 dB, Gr\u00fc\u00dfe \u20ac"


def slot_values():
    """Per-slot settings as formulas of the slot row r and RPC column c (0-based), chosen
    so that a transposed or misordered read gives different numbers."""
    r = np.arange(SLOTS, dtype=float).reshape(SLOTS, 1)
    c = np.arange(RPC, dtype=float).reshape(1, RPC)
    rpc_active = np.zeros((SLOTS, RPC))
    rpc_active[:, 0] = 1
    return [
        ("DATAslotActive", (r % 4 != 3).astype(float)),
        ("DATAslotMod", r % 3 + 1),
        ("RAslotActive", np.ones((SLOTS, 1))),
        ("RAslotValue", r % 2),
        ("RAslotGain", -3 - 0.5 * r),
        ("RPCslotActiveChn", np.ones((SLOTS, 1))),
        ("RPCslotActive", rpc_active),
        ("RPCslotValue", (r + c) % 2),
        ("RPCslotGain", -3 + 0.25 * (r - c)),
    ]


def write_scipy(path):
    slot = dict(slot_values())
    params = {
        "ParameterFileFormat_ID": "OneX-Fwd - Format 1.2",
        "Mode": 1.0,
        "PilotOffsetIndex": 7.0,
        "MACchnActive": 0.0,
        "DATAchnActive": 1.0,
        "DATAsourceType": 6.0,
        "DATAsourceName": "",
        "dataSourceBitstream": np.zeros((0, 0)),
        "IdleSlotGainActive": 1.0,
        "IdleSlotGain": -12.5,
        "slot": slot,
        "OverSampling": 5.0,
        "FilterType": 3.0,
        "PhaseEq": 1.0,
        "MirrorSpectrum": 0.0,
        "ProjectedLength": 163840.0,
        "LastPath": "",
    }
    sig_gen = {"SamplingRate": 6144000.0, "Model": "Corvane", "Gain": np.array([[0.5, -1.5]])}

    pair = np.zeros((1, 2), dtype=[("a", "O"), ("b", "O")])
    pair[0, 0] = (1.0, "x")
    pair[0, 1] = (2.0, np.zeros((1, 0)))
    cell = np.empty((1, 2), dtype=object)
    cell[0, 0] = 1.0
    cell[0, 1] = "two"

    variables = {
        "fileParameters": params,
        "sigGenParameters": sig_gen,
        "filename": "/tmp/onex/params.mat",
        "waveform": np.array([[1 + 2j, -0.5 + 0j, 0 - 1j, 3.25 + 4.5j]]),
        "markers": np.array([[1.0, 0.0, 1.0, 1.0], [0.0, 0.0, 1.0, 0.0]]),
        "count": np.array([[-7, 0, 2147483647]], dtype=np.int32),
        "flags": np.array([[True, False, True]]),
        "small": np.array([[0.25, -1.5]], dtype=np.float32),
        "shorts": np.array([[-300], [12]], dtype=np.int16),
        "emptyRow": np.zeros((1, 0)),
        "comment": COMMENT,
        "rows": np.array(["abc", "def"]),
        "pair": pair,
        "cell": cell,
    }
    savemat(path, variables, format="5", do_compression=False, oned_as="row")
    print("wrote", path)


def octave_matrix(a):
    rows = ";".join(",".join(repr(float(x)) for x in row) for row in np.atleast_2d(a))
    return "[" + rows + "]"


def write_octave(path):
    octave = shutil.which("octave-cli")
    if not octave:
        print("octave-cli not found: leaving", path, "as it is", file=sys.stderr)
        return
    lines = ["s = struct();"]
    for name, value in slot_values():
        lines.append("s.%s = %s;" % (name, octave_matrix(value)))
    lines += [
        "p = struct();",
        "p.ParameterFileFormat_ID = 'OneX-Fwd - Format 1.2';",
        "p.Mode = 1; p.PilotOffsetIndex = 7; p.MACchnActive = 0; p.DATAchnActive = 1;",
        "p.DATAsourceType = 6; p.DATAsourceName = ''; p.dataSourceBitstream = [];",
        "p.IdleSlotGainActive = 1; p.IdleSlotGain = -12.5; p.slot = s;",
        "p.OverSampling = 5; p.FilterType = 3; p.PhaseEq = 1; p.MirrorSpectrum = 0;",
        "p.ProjectedLength = 163840; p.LastPath = '';",
        "fileParameters = p;",
        "sigGenParameters = struct('SamplingRate', 6144000, 'Model', 'Corvane', 'Gain', [0.5 -1.5]);",
        "filename = '/tmp/onex/params.mat';",
        "waveform = [1+2i, -0.5+0i, 0-1i, 3.25+4.5i];",
        "markers = [1 0 1 1; 0 0 1 0];",
        "count = int32([-7 0 2147483647]);",
        "flags = logical([1 0 1]);",
        "small = single([0.25 -1.5]);",
        "shorts = int16([-300; 12]);",
        "emptyRow = zeros(1, 0);",
        # Octave keeps text as UTF-8 bytes and converts it on saving.
        "comment = \"%s\";" % COMMENT,
        "rows = ['abc'; 'def'];",
        "pair = struct('a', {1, 2}, 'b', {'x', zeros(1, 0)});",
        "cell = {1, 'two'};",
        "save('-v7', '%s', 'fileParameters', 'sigGenParameters', 'filename', 'waveform', 'markers', "
        "'count', 'flags', 'small', 'shorts', 'emptyRow', 'comment', 'rows', 'pair', 'cell');" % path,
    ]
    with tempfile.NamedTemporaryFile("w", suffix=".m", delete=False, encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
        script = f.name
    try:
        subprocess.run([octave, "--no-gui", "--quiet", "--norc", script], check=True)
    finally:
        os.unlink(script)
    print("wrote", path)


def main():
    os.makedirs(DATA, exist_ok=True)
    write_scipy(os.path.join(DATA, "params_scipy.mat"))
    write_octave(os.path.join(DATA, "params_octave.mat"))


if __name__ == "__main__":
    main()
