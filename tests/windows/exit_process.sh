#!/usr/bin/env bash
# The program as a user ends it, on a display: File > Exit by keyboard. The process must end,
# with status 0, within a second, having saved the configuration. Run under xvfb-run.
# Usage: exit_process.sh ONEXFWD SCRATCH_FOLDER
set -u
onexfwd=$1
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$onexfwd" >out.txt 2>&1 &
pid=$!
fail() {
    echo "exit_process: $*"
    kill -9 "$pid" 2>/dev/null
    cat out.txt
    exit 1
}
# The main window comes after the splash's three seconds.
window=$(timeout 20 xdotool search --sync --name '^Veltrac - ' 2>/dev/null | head -1)
[ -n "$window" ] || fail "the main window never came up"
xdotool windowfocus --sync "$window" || fail "the main window cannot take the keyboard"
sleep 0.3
xdotool key alt+f
sleep 0.3
xdotool key x
pressed=$(date +%s%N)
for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "still running 10 s after File > Exit"
ended=$(date +%s%N)
wait "$pid"
status=$?
milliseconds=$(((ended - pressed) / 1000000))
[ "$status" -eq 0 ] || fail "ended with status $status"
[ -f rfIOConfig.mat ] || fail "the configuration was not saved"
echo "exit_process: ended with status 0, $milliseconds ms after File > Exit"
