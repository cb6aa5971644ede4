#!/usr/bin/env bash
# The command line under a decimal-comma locale (set up by the caller): files, reports and
# instrument commands keep the decimal point.
# Usage: decimal_comma_cli.sh ONEXFWD SCRATCH_FOLDER
set -u
onexfwd=$1
work=$2
rm -rf "$work" && mkdir -p "$work" || exit 1
fail() {
    echo "decimal_comma_cli: $*"
    [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null
    exit 1
}
[ "$(locale -k decimal_point 2>/dev/null)" = 'decimal_point=","' ] || fail "the locale in force writes no decimal comma: $(locale 2>&1 | head -3)"

"$onexfwd" analyze --set OverSampling=2 --quiet --json "$work/q.json" >/dev/null || fail "analyze failed"
/usr/bin/python3 -c "import json,sys; r=json.load(open(sys.argv[1])); sys.exit(0 if abs(r['overall']['rho']-1)<1e-6 else 1)" "$work/q.json" ||
    fail "the JSON report does not read back: $(head -c 300 "$work/q.json")"

"$onexfwd" sim --port 0 --idle-timeout 20 >"$work/sim.txt" 2>&1 &
sim=$!
for _ in $(seq 1 50); do grep -q "listening on" "$work/sim.txt" && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.txt" | head -1)
[ -n "$port" ] || fail "the simulated generator did not start: $(cat "$work/sim.txt")"
out=$("$onexfwd" download --set OverSampling=2 --settings Frequency=1234567890.5 --play --connect "lan:127.0.0.1:$port" 2>&1) ||
    fail "download failed: $out"
frequency=$("$onexfwd" query --connect "lan:127.0.0.1:$port" ':FREQ?') || fail "query failed"
[ "$frequency" = "1234567890.5Hz" ] || fail "the instrument was sent $frequency"
kill "$sim" 2>/dev/null
echo "decimal_comma_cli: JSON and instrument commands keep the decimal point ($frequency)"
