#!/usr/bin/env bash
# Every headless sub-command runs without the window stack: the dynamic loader's own record
# of what it loaded (LD_DEBUG=files) names no Qt library and not the window library. The
# plot command, which draws with the windows' code, must load both.
# Usage: headless_libraries.sh ONEXFWD WORK_DIR
set -euo pipefail
onexfwd=$1
work=$2
rm -rf "$work" && mkdir -p "$work"

# A simulated generator for the instrument commands; it stops by itself once left idle.
"$onexfwd" sim --port 0 --model corvane --idle-timeout 20 >"$work/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    grep -q "listening on" "$work/sim.out" && break
    sleep 0.05
done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")
[ -n "$port" ] || { echo "the simulated generator did not start"; cat "$work/sim.out"; exit 1; }
lan="lan:127.0.0.1:$port"

failures=0
# run NAME EXPECT ARGS...: EXPECT is "none" (no window stack may be loaded) or "windows".
run() {
    local name=$1 expect=$2
    shift 2
    mkdir -p "$work/$name"
    if ! LD_DEBUG=files LD_DEBUG_OUTPUT="$work/$name/ld" "$onexfwd" "$@" >"$work/$name/out" 2>&1; then
        echo "FAIL $name: onexfwd $* exited with an error:"; cat "$work/$name/out"; failures=$((failures + 1)); return
    fi
    local loaded
    loaded=$(cat "$work/$name"/ld.* | sed -n 's/.*file=\([^ ]*\).*\[0\];.*/\1/p' | sort -u)
    [ -n "$loaded" ] || { echo "FAIL $name: the loader reported nothing"; failures=$((failures + 1)); return; }
    local qt
    qt=$(echo "$loaded" | grep -E 'libQt6|libbrevia_windows' || true)
    if [ "$expect" = none ] && [ -n "$qt" ]; then
        echo "FAIL $name loaded the window stack:"; echo "$qt"; failures=$((failures + 1))
    elif [ "$expect" = windows ] && { ! echo "$qt" | grep -q libbrevia_windows || ! echo "$qt" | grep -q libQt6Widgets; }; then
        echo "FAIL $name did not load the window library and Qt"; failures=$((failures + 1))
    else
        echo "ok   $name ($(echo "$loaded" | wc -l) libraries)"
    fi
}

run version none --version
run generate none generate --seed 1 --set OverSampling=2 --out "$work/frame.mat"
run generate-bin none generate --seed 1 --set OverSampling=2 --out "$work/frame.bin"
run ping none ping --connect "$lan"
run query none query --connect "$lan" "*IDN?"
run send none send --connect "$lan" ":OUTP:STAT ON"
run download none download --connect "$lan" --set OverSampling=2 --seed 1 --quiet
run play none play --connect "$lan"
run demo none demo --quiet
run sim none sim --port 0 --idle-timeout 0.2
run plot windows plot ccdf --set OverSampling=2 --seed 1 --out "$work/ccdf.png"

# Without the window library the plot is refused with its name; nothing crashes.
if BREVIA_WINDOW_LIBRARY=/nonexistent/libbrevia_windows.so.0 "$onexfwd" plot ccdf --set OverSampling=2 --out "$work/never.png" \
    >"$work/missing.out" 2>&1; then
    echo "FAIL plot without the window library succeeded"; failures=$((failures + 1))
elif ! grep -q "the window library /nonexistent/libbrevia_windows.so.0 could not be loaded" "$work/missing.out"; then
    echo "FAIL plot without the window library said:"; cat "$work/missing.out"; failures=$((failures + 1))
else
    echo "ok   plot without the window library: $(cat "$work/missing.out")"
fi

[ "$failures" -eq 0 ] || { echo "$failures sub-commands failed"; exit 1; }
