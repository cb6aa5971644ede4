#!/usr/bin/python3
"""A parameter file as another tool handles it: SciPy reads the file our application wrote,
checks what it holds, changes the oversampling and the waveform title, and writes a new
parameter file of its own.

    parameter_file_roundtrip.py IN OUT [OVERSAMPLING]

Exit status 0 when IN held what a parameter file must; the failure is printed otherwise.
"""
import sys

import numpy as np
import scipy.io


def main():
    source, target = sys.argv[1], sys.argv[2]
    oversampling = float(sys.argv[3]) if len(sys.argv) > 3 else 8.0
    contents = scipy.io.loadmat(source, struct_as_record=True)
    for name in ("fileParameters", "sigGenParameters", "filename"):
        if name not in contents:
            sys.exit(f"{source}: no variable {name}")
    parameters = contents["fileParameters"]
    settings = contents["sigGenParameters"]
    if str(parameters["ParameterFileFormat_ID"][0, 0][0]) != "OneX-Fwd - Format 1.2":
        sys.exit(f"{source}: format text {parameters['ParameterFileFormat_ID'][0, 0]!r}")
    if str(contents["filename"][0]) != source:
        sys.exit(f"{source}: filename {contents['filename'][0]!r}")
    slot = parameters["slot"][0, 0]
    if slot["RPCslotGain"][0, 0].shape != (16, 59):
        sys.exit(f"{source}: slot.RPCslotGain is {slot['RPCslotGain'][0, 0].shape}")
    parameters["OverSampling"][0, 0] = np.array([[oversampling]])
    parameters["ProjectedLength"][0, 0] = np.array([[oversampling * 32768]])
    settings["SamplingRate"][0, 0] = np.array([[1228800.0 * oversampling]])
    settings["Title"][0, 0] = np.array(["SCIPY"])
    scipy.io.savemat(target, {"fileParameters": parameters, "sigGenParameters": settings, "filename": target})


if __name__ == "__main__":
    main()
