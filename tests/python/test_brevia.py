"""The Python module against the command line and the simulated generator.

Run by ctest with PYTHONPATH at build/python and BREVIA_ONEXFWD naming the program."""
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from scipy.io import loadmat

import brevia

ONEXFWD = os.environ.get("BREVIA_ONEXFWD", "onexfwd")


@pytest.fixture(autouse=True)
def no_correction_files(tmp_path, monkeypatch):
    # An instrument's correction file in the user's own folder must not change a download.
    monkeypatch.setenv("BREVIA_CORRECTIONS_DIR", str(tmp_path))


def busy_parameters():
    p = brevia.Parameters()
    p.OverSampling = 4
    p.MACchnActive = 1
    p.DATAchnActive = 1
    p.slot.DATAslotMod = [1, 2, 3, 1] * 4
    p.slot.RAslotGain = -6
    p.PilotOffsetIndex = 37
    p.settings.Frequency = 1.9e9
    p.settings.Title = "PYTEST"
    return p


def test_parameters_round_trip_through_a_file_scipy_reads(tmp_path):
    p = busy_parameters()
    assert p.OverSampling == 4.0
    assert p.settings.SamplingRate == 4 * 1228800  # follows the oversampling, as in the window
    assert p.slot.DATAslotMod == [1.0, 2.0, 3.0, 1.0] * 4
    assert p["slot.RAslotGain"] == [-6.0] * 16
    p["DATApacketDRC"] = 7
    with pytest.warns(UserWarning, match="DATApacketDRC 13 taken as 12"):
        p.DATApacketDRC = 13  # limited as the window's entry is; what is stored reads back
    assert p.DATApacketDRC == 12

    path = tmp_path / "set.mat"
    p.save(str(path))
    saved = loadmat(str(path), simplify_cells=True)
    assert saved["fileParameters"]["OverSampling"] == 4
    assert list(saved["fileParameters"]["slot"]["DATAslotMod"]) == [1, 2, 3, 1] * 4
    assert saved["fileParameters"]["DATApacketDRC"] == 12
    assert saved["sigGenParameters"]["Frequency"] == 1.9e9
    assert saved["sigGenParameters"]["Title"] == "PYTEST"

    q = brevia.Parameters.load(str(path))
    assert q == p and q != brevia.Parameters() and q != "a set"
    assert q.to_dict() == p.to_dict()
    assert q.settings.to_dict() == p.settings.to_dict()
    assert "OverSampling" in dir(q) and "DATAslotMod" in dir(q.slot)


def test_importing_loads_no_window_library():
    probe = "import brevia; print(sum('libQt' in line for line in open('/proc/self/maps')))"
    assert subprocess.run([sys.executable, "-c", probe], check=True, capture_output=True, text=True).stdout.strip() == "0"


def test_the_frame_is_the_command_lines_byte_for_byte(tmp_path):
    p = busy_parameters()
    params = tmp_path / "set.mat"
    p.save(str(params))
    w = brevia.generate(p, seed=7)
    assert w.samples.dtype == np.complex128 and w.samples.ndim == 1 and w.samples.size == 32768 * 4
    assert w.markers.dtype == np.uint8 and w.markers.shape == (2, w.samples.size)
    assert w.sample_rate == 4 * 1228800
    assert w.samples.base is not None or w.samples.flags.owndata is False  # the frame's own memory

    for ending in ("mat", "bin", "sigmf-meta"):
        cli = tmp_path / f"cli.{ending}"
        subprocess.run([ONEXFWD, "generate", "--params", str(params), "--seed", "7", "--quiet", "--out", str(cli)], check=True)
        ours = tmp_path / f"ours.{ending}"
        assert w.save(str(ours)) == str(ours)
        if ending == "mat":
            theirs = loadmat(str(cli))
            assert np.array_equal(theirs["waveform"].ravel(), w.samples)  # every bit of every sample
            assert np.array_equal(theirs["markers"], w.markers)
            assert theirs["sampleRate"].item() == w.sample_rate
            mine = loadmat(str(ours))
            assert np.array_equal(mine["waveform"].ravel(), w.samples) and np.array_equal(mine["markers"], w.markers)
        elif ending == "bin":
            assert ours.read_bytes() == cli.read_bytes()
        else:
            assert (tmp_path / "ours.sigmf-data").read_bytes() == (tmp_path / "cli.sigmf-data").read_bytes()
            assert json.loads(ours.read_text())["annotations"] == json.loads(cli.read_text())["annotations"]

    # The report is the command line's JSON.
    report = tmp_path / "report.json"
    subprocess.run([ONEXFWD, "analyze", "--params", str(params), "--seed", "7", "--quiet", "--json", str(report)],
                   check=True, stdout=subprocess.DEVNULL)
    assert brevia.analyze(p, seed=7) == json.loads(report.read_text())
    assert brevia.analyze(p, w)["overall"]["rho"] > 0.99


def corvane_words(samples):
    """The Corvane's I/Q file of a waveform: big-endian int16 pairs over the peak, halves away from zero."""
    iq = np.column_stack([samples.real, samples.imag]).ravel()
    scaled = 32767.0 * (iq / np.max(np.abs(iq)))
    return np.clip(np.sign(scaled) * np.floor(np.abs(scaled) + 0.5), -32768, 32767).astype(">i2").tobytes()


def test_a_download_into_the_simulator_holds_the_right_bytes():
    p = busy_parameters()
    w = brevia.generate(p, seed=3)
    with brevia.Simulator() as sim, brevia.Instrument(sim.connect) as inst:
        assert "Simulation" in inst.idn()
        with pytest.warns(UserWarning, match='Title "py wave" cleaned to "PYWAVE"'):
            done = inst.download(w, title="py wave", settings={"Amplitude": -12})
        assert done["title"] == "PYWAVE" and done["samples"] == w.samples.size and done["played"]
        files = sim.files()
        assert files["WFM1:PYWAVE"] == corvane_words(w.samples)
        assert inst.query(":FREQ?") == "1900000000Hz"
        played = sim.settings()
        assert played["power"] == "-12dbm" and played["waveform"] == "WFM1:PYWAVE"
        inst.play({"Frequency": 2.1e9, "Title": "PYWAVE"})
        assert sim.settings()["frequency"] == "2100000000Hz"


def test_an_instrument_that_vanishes_raises():
    with pytest.raises(brevia.InstrumentError, match="cannot be reached"):
        brevia.Instrument("lan:127.0.0.1:1").idn()
    sim = brevia.Simulator()
    sim.start()
    inst = brevia.Instrument(sim.connect)
    assert inst.idn()
    sim.stop()
    with pytest.raises(brevia.InstrumentError):
        inst.idn()
    with pytest.raises(brevia.InstrumentError):
        inst.download(brevia.generate(brevia.Parameters(), seed=1))
    with pytest.raises(ValueError, match="the connection is lan:HOST:PORT"):
        brevia.Instrument("usb:1")


def test_ctrl_c_stops_a_command_to_an_instrument_that_never_answers():
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(10)
    held = []
    threading.Thread(target=lambda: held.append(listener.accept()), daemon=True).start()
    inst = brevia.Instrument(f"lan:127.0.0.1:{listener.getsockname()[1]}")
    threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        inst.idn()
    assert time.monotonic() - started < 1.5
    inst.close()
    listener.close()


@pytest.mark.parametrize("action, error, message", [
    (lambda p: setattr(p, "OverSampling", "abc"), ValueError, "OverSampling: 'abc' is not a number"),
    (lambda p: setattr(p.slot, "DATAslotMod", [1, 2]), ValueError, "slot.DATAslotMod: give one number or 16 numbers"),
    (lambda p: setattr(p.slot, "RPCslotValue", np.ones((3, 3))), ValueError, "a matrix of 16 x 59 is needed"),
    (lambda p: setattr(p, "Nope", 1), AttributeError, "no parameter 'Nope'"),
    (lambda p: p["Nope"], KeyError, "Nope"),
    (lambda p: setattr(p.settings, "Frequency", object()), ValueError, "give a number"),
    (lambda p: brevia.generate(p, settings={"Frequenzy": 1e9}), ValueError, "no signal generator setting 'Frequenzy'"),
    (lambda p: brevia.Parameters.load("/nonexistent/set.mat"), ValueError, "no such file"),
])
def test_bad_parameters_raise(action, error, message):
    p = brevia.Parameters()
    before = p.to_dict()
    with pytest.raises(error, match=message):
        action(p)
    assert p.to_dict() == before
