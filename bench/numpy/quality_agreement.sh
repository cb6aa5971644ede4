#!/bin/sh
# Signal-quality figures of `onexfwd analyze` against quality.py's own
# measurement of the waveform `onexfwd generate` writes, on three frames.
#
#   sh quality_agreement.sh ONEXFWD WORKDIR
#
# Exits 0 when all three reports agree within compare_quality.py's
# tolerances, 1 when any set disagrees, 2 on a usage error.  Every set is
# run even after a failure, so one run shows all the disagreements.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 ONEXFWD WORKDIR" >&2
    exit 2
fi
onexfwd=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
# A hung step must not hold the run forever; a frame takes seconds at most.
limit=300

if [ ! -x "$onexfwd" ]; then
    echo "$0: $onexfwd is not an executable" >&2
    exit 2
fi
mkdir -p "$work"

failed=""
# oversampling:pilot offset
for set in 5:0 8:137 30:0; do
    os=${set%%:*}
    pilot=${set#*:}
    tag="os${os}_pilot${pilot}"
    echo "== oversampling $os, pilot offset $pilot"
    opts="--set OverSampling=$os --set PilotOffsetIndex=$pilot --set DATAchnActive=1
          --set MACchnActive=1 --set slot.RPCslotActive=1 --set slot.DATAslotMod=3"
    # $opts is split on purpose: it holds several arguments, none with spaces.
    # shellcheck disable=SC2086
    if timeout "$limit" "$onexfwd" generate $opts --seed 1 --out "$work/$tag.mat" -q &&
       timeout "$limit" "$onexfwd" analyze $opts --seed 1 --json "$work/$tag.theirs.json" \
           -q >"$work/$tag.analyze.txt" &&
       timeout "$limit" "$python" "$here/quality.py" --waveform "$work/$tag.mat" \
           --oversampling "$os" --pilot-offset "$pilot" --json "$work/$tag.ours.json" &&
       timeout "$limit" "$python" "$here/compare_quality.py" \
           "$work/$tag.ours.json" "$work/$tag.theirs.json"; then
        echo "== oversampling $os, pilot offset $pilot: agree"
    else
        echo "== oversampling $os, pilot offset $pilot: DISAGREE or failed to run"
        failed="$failed $tag"
    fi
done

if [ -n "$failed" ]; then
    echo "sets that disagree:$failed"
    exit 1
fi
echo "all three sets agree"
