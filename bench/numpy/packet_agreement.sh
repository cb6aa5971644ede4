#!/bin/sh
# Coded packets and waveforms of several frames: `onexfwd generate` against
# onex_frame.py, sample by sample, for every DRC with mixed MAC indices,
# interlace choices, frame counts (some rounded up) and oversampling rates.
#
#   sh packet_agreement.sh ONEXFWD WORKDIR
#
# Exits 0 when every case agrees within 1e-12 of the peak with identical
# markers, 1 when any case disagrees, 2 on a usage error.  Every case is run
# even after a failure, so one run shows all the disagreements.  Idle chips
# are zeros (IdleSlotGainActive=0) so that nothing random is compared.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 ONEXFWD WORKDIR" >&2
    exit 2
fi
onexfwd=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
# A hung step must not hold the run forever; a case takes about a second.
limit=120

if [ ! -x "$onexfwd" ]; then
    echo "$0: $onexfwd is not an executable" >&2
    exit 2
fi
mkdir -p "$work"

# name oversampling pilot-offset DRC MAC frames interlaces traffic
# traffic: packets (coded packets), off (packet mode, traffic channel off:
# the yardstick's no-interlace waveform of that DRC's frame count) or stream
# (no packet mode: 16-QAM bits in every slot, one stream over all frames).
cases="
drc1 2 0 1 5 1 1,1,1,1 packets
drc2 2 0 2 6 3 1,0,1,1 packets
drc3 5 0 3 17 2 1,0,1,1 packets
drc4 2 0 4 63 1 0,1,0,0 packets
drc5 2 137 5 62 2 1,1,1,1 packets
drc6 2 0 6 7 2 1,0,0,1 packets
drc7 2 0 7 32 1 0,1,1,0 packets
drc8 2 0 8 33 2 1,1,1,1 packets
drc9 2 0 9 40 1 1,1,1,0 packets
drc10 2 0 10 11 3 1,1,1,1 packets
drc11 2 0 11 50 1 0,0,1,1 packets
drc12 5 0 12 5 1 1,1,1,1 packets
no_interlace 2 0 2 5 1 0,0,0,0 packets
traffic_off 2 0 1 5 1 1,1,1,1 off
stream3 2 0 1 5 3 1,1,1,1 stream
"

failed=""
count=0
# Each line is split on purpose into its fields, none with spaces.
# shellcheck disable=SC2086
while read -r name os pilot drc mac frames lanes traffic; do
    [ -n "$name" ] || continue
    count=$((count + 1))
    common="--set OverSampling=$os --set PilotOffsetIndex=$pilot --set MACchnActive=1
            --set slot.RPCslotActive=1 --set IdleSlotGainActive=0 --set FrameCount=$frames"
    ys="--oversampling $os --pilot-offset $pilot --frames $frames --idle-off"
    case $traffic in
        packets)
            theirs="--set DATAchnActive=1 --set DATApacketMode=1 --set DATApacketDRC=$drc
                    --set DATApacketMAC=$mac --set DATApacketInterlaces=$lanes"
            ys="$ys --packet-mode --drc $drc --mac $mac --interlaces $lanes" ;;
        off)
            theirs="--set DATAchnActive=0 --set DATApacketMode=1 --set DATApacketDRC=$drc
                    --set DATApacketMAC=$mac --set DATApacketInterlaces=$lanes"
            ys="$ys --packet-mode --drc $drc --mac $mac --interlaces 0,0,0,0" ;;
        stream)
            theirs="--set DATAchnActive=1 --set slot.DATAslotMod=3" ;;
    esac
    rm -f "$work/$name".*
    echo "== $name: OS $os, pilot offset $pilot, $traffic, DRC $drc, MAC $mac, frames $frames, interlaces $lanes"
    if timeout "$limit" "$onexfwd" generate $common $theirs --seed 1 --quiet \
           --out "$work/$name.onexfwd.mat" &&
       timeout "$limit" "$python" "$here/onex_frame.py" $ys --out "$work/$name.numpy.mat" \
           >"$work/$name.numpy.txt" &&
       timeout "$limit" "$python" "$here/compare.py" "$work/$name.onexfwd.mat" \
           "$work/$name.numpy.mat" --tol 1e-12 >"$work/$name.compare.txt"; then
        echo "   agree: $(grep '/ peak' "$work/$name.compare.txt")"
    else
        echo "   DISAGREE or failed to run:"
        sed 's/^/   /' "$work/$name.compare.txt" 2>/dev/null || true
        failed="$failed $name"
    fi
done <<EOF
$cases
EOF

if [ -n "$failed" ]; then
    echo "cases that disagree:$failed"
    exit 1
fi
echo "all $count cases agree"
