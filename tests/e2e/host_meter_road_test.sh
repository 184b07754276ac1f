#!/usr/bin/env bash
# The demo's road with values from a script: veldrane-host reads 'TAG VALUE' lines, the driver
# sends each meter's frame on COM1 (a pseudo-terminal of veldrane-meter), and the virtual meter
# shows exactly the values sent, one station of each kind.
# Usage: host_meter_road_test.sh BIN_DIR
set -euo pipefail
bin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-road.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
mkdir -p "$tmp/ports"

fail() { echo "FAIL: $*" >&2; echo "--- meter"; cat "$tmp/meter.out" >&2; echo "--- host"; cat "$tmp/host.out" >&2; exit 1; }

# One station of each kind (road_stations.txt: name, kind, number, decimals, tag).
cp "$(dirname "$0")/road_stations.txt" "$tmp/stations.txt"
"$bin/veldrane-cfg" new "$tmp/road.cfg" >/dev/null
"$bin/veldrane-cfg" import "$tmp/road.cfg" <"$tmp/stations.txt" >/dev/null

"$bin/veldrane-meter" --pty --link "$tmp/ports/com1" --config "$tmp/road.cfg" --plain \
  --seconds 20 >"$tmp/meter.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/ports/com1" ] && break; sleep 0.1; done
[ -e "$tmp/ports/com1" ] || fail "the meter did not link its pseudo-terminal"

cat >"$tmp/values.txt" <<'VALUES'
# first values, then the ones that must be shown
T0 1
T0 12.25
T1 -3.125
T2 -123.5
T3 45.6
T4 70000
T5 -1999
T6 999999
T7 5
T1 many
VALUES

# Bounded: a runner that does not end fails the test with its output.
VELDRANE_PORTS="$tmp/ports" timeout 30 "$bin/veldrane-host" run "$tmp/road.cfg" \
  --values "$tmp/values.txt" --seconds 7 --plain >"$tmp/host.out" 2>&1 ||
  fail "the host runner failed or did not end within 30 s ($?)"
sleep 0.5
kill -INT "${pids[0]}" 2>/dev/null || true
wait "${pids[0]}" || true

# The last value each station showed, as the meter displays it.
expect() {
  local station=$1 kind=$2 shows=$3 got
  got=$(grep -E "station=$station kind=$kind shows=" "$tmp/meter.out" | tail -n 1 |
        sed -E 's/.* shows=([^ ]*).*/\1/')
  [ "$got" = "$shows" ] || fail "station $station (kind $kind) shows '$got', expected '$shows'"
}
expect 1 0 12.3      # a tie on the dropped digit goes away from zero
expect 2 1 -3.13
expect 3 2 -124      # half away from zero without decimals
expect 12 3 45.6
expect 100 4 4464    # 70000 wraps at 16 bits
expect 200 5 -1999   # the 4-digit meter's lowest value
expect 255 6 999999  # the 6-digit meter's highest value

grep -q "line 10: no station shows tag 'T7' (ignored)" "$tmp/host.out" ||
  fail "no message for the unknown tag"
grep -q "line 11: 'many' is not a number (ignored)" "$tmp/host.out" ||
  fail "no message for the bad value"
grep -q "rejected=0" "$tmp/meter.out" || fail "the meter saw bytes that were not frames"
echo "host_meter_road: 7 meters showed the values sent"
