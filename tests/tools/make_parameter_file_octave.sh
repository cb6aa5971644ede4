#!/bin/sh
# Makes tests/data/parameter_file_octave.mat: the default parameter file as our application
# writes it, read by GNU Octave (which checks what it holds), changed there to oversampling 8
# and the title OCTAVE, and written back by Octave's compressed "-v7" writer. Run by hand
# with Debian's octave-cli after building:
#     tests/tools/make_parameter_file_octave.sh build
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/tests/write_parameter_file" "$scratch/ours.mat"
octave-cli --no-gui --quiet --eval "
  s = load('$scratch/ours.mat');
  p = s.fileParameters; g = s.sigGenParameters;
  assert(strcmp(p.ParameterFileFormat_ID, 'OneX-Fwd - Format 1.2'));
  assert(isequal(size(p.slot.RPCslotGain), [16 59]));
  assert(strcmp(s.filename, '$scratch/ours.mat'));
  p.OverSampling = 8; p.ProjectedLength = 8 * 32768;
  g.SamplingRate = 1228800 * 8; g.Title = 'OCTAVE';
  fileParameters = p; sigGenParameters = g; filename = 'parameter_file_octave.mat';
  save('-v7', '$here/../data/parameter_file_octave.mat', 'fileParameters', 'sigGenParameters', 'filename');
"
echo "wrote $here/../data/parameter_file_octave.mat"
