#!/usr/bin/env bash
# The program as a user meets a hung instrument, from outside: rfIOConfig.mat (written by
# SciPy) points the connection at a LAN socket that accepts and never answers. Download by
# keyboard; the progress window "Instrument" must come within a second, Escape must end the
# work within a second with the download failure box, and File > Exit must end the program.
# Run under xvfb-run. Usage: download_cancel_process.sh ONEXFWD PYTHON3 SCRATCH_FOLDER
set -u
onexfwd=$1
python=$2
work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# The listener: takes one connection, says nothing, and goes after 30 s whatever happens.
"$python" - <<'PY' &
import socket, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
open("port", "w").write(str(s.getsockname()[1]))
s.settimeout(30)
try:
    c, _ = s.accept()
    time.sleep(30)
except OSError:
    pass
PY
listener=$!
for _ in $(seq 1 100); do [ -s port ] && break; sleep 0.05; done
port=$(cat port)
"$python" -c "
from scipy.io import savemat
savemat('rfIOConfig.mat', {'fileParameters': {'type': 'LAN', 'LAN': {'address': '127.0.0.1', 'port': $port}}})
" || { echo "download_cancel_process: SciPy could not write rfIOConfig.mat"; exit 1; }

"$onexfwd" >out.txt 2>&1 &
pid=$!
fail() {
    echo "download_cancel_process: $*"
    kill -9 "$pid" "$listener" 2>/dev/null
    cat out.txt
    exit 1
}
now() { date +%s%N; }
# The first window named exactly `name` to come within `seconds`, polled every 20 ms.
waitFor() {
    local name=$1 tries=$(($2 * 50))
    for _ in $(seq 1 "$tries"); do
        w=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.02
    done
    return 1
}
window=$(timeout 20 xdotool search --sync --name '^Veltrac - ' 2>/dev/null | head -1)
[ -n "$window" ] || fail "the main window never came up"
xdotool windowfocus --sync "$window" || fail "the main window cannot take the keyboard"
sleep 0.3
xdotool key alt+d
question=$(waitFor '^Waveform Not Calculated$' 5) || fail "Download did not ask to calculate first"
xdotool windowfocus --sync "$question"
xdotool key Return
asked=$(now)
progress=$(waitFor '^Instrument$' 5) || fail "the progress window never came"
shown=$(( ($(now) - asked) / 1000000 ))
[ "$shown" -lt 1500 ] || fail "the progress window came $shown ms after the calculation was asked for"
sleep 0.3
xdotool windowfocus --sync "$progress"
xdotool key Escape
pressed=$(now)
box=$(waitFor "^Error Occured During Waveform Download$" 5) || fail "no failure box after Escape"
ended=$(( ($(now) - pressed) / 1000000 ))
[ "$ended" -lt 1000 ] || fail "the work ended $ended ms after Escape"
xdotool windowfocus --sync "$box"
xdotool key Return
sleep 0.3
xdotool windowfocus --sync "$window"
xdotool key alt+f
sleep 0.3
xdotool key x
for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "still running 10 s after File > Exit"
kill "$listener" 2>/dev/null
echo "download_cancel_process: progress window after $shown ms, failure box $ended ms after Escape"
