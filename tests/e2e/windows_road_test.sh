#!/usr/bin/env bash
# The demo's road under Wine: veldrane-host.exe reads 'TAG VALUE' lines, Veldrane.dll sends each
# meter's frame on COM1, which the Wine registry maps to a pseudo-terminal whose other side the
# Linux veldrane-meter reads; the meter shows exactly the values sent, one station of each kind.
# The test has a Wine prefix and server of its own: the port map is read when the server starts,
# and the pseudo-terminal stays open until that server has ended.
# A second run takes its values from a pipe on standard input.
# Usage: windows_road_test.sh WINDOWS_BIN_DIR LINUX_BIN_DIR
set -euo pipefail
bin=$1
linux=$2
here=$(cd "$(dirname "$0")" && pwd)
session=$here/../../cmake/wine-session.sh
[ -x "$linux/veldrane-meter" ] || { echo "no Linux veldrane-meter in $linux (build the debug preset)" >&2; exit 1; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-winroad.XXXXXX")
export WINEPREFIX=$tmp/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
meter=
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [ -n "$meter" ] && kill "$meter" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; echo "--- meter"; cat "$tmp/meter.out" >&2; echo "--- host"; cat "$tmp/host.out" >&2; exit 1; }

cp "$here/road_stations.txt" "$tmp/stations.txt"
"$linux/veldrane-cfg" new "$tmp/road.cfg" >/dev/null
"$linux/veldrane-cfg" import "$tmp/road.cfg" <"$tmp/stations.txt" >/dev/null
touch "$tmp/host.out"

"$linux/veldrane-meter" --pty --link "$tmp/com1" --config "$tmp/road.cfg" --plain \
  --seconds 60 >"$tmp/meter.out" 2>&1 &
meter=$!
for _ in $(seq 50); do [ -e "$tmp/com1" ] && break; sleep 0.1; done
[ -e "$tmp/com1" ] || fail "the meter did not link its pseudo-terminal"

"$session" start "$WINEPREFIX" >/dev/null 2>&1 || fail "no Wine prefix"
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$tmp/com1" /f </dev/null >/dev/null 2>&1
# The ports are mapped when the server starts.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1

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

timeout 60 wine "$bin/veldrane-host.exe" run "$tmp/road.cfg" --values "$tmp/values.txt" \
  --seconds 7 --plain >"$tmp/host.out" 2>&1 </dev/null ||
  fail "the host runner failed or did not end within 60 s ($?)"
sleep 0.5
file_lines=$(wc -l <"$tmp/meter.out")
# Values through a pipe on standard input, which Wine cannot look into: read all the same, and
# their end said once.
{ printf 'T1 -7.25\nT5 1234\n'; sleep 3; } |
  timeout 60 wine "$bin/veldrane-host.exe" run "$tmp/road.cfg" --values - --seconds 6 --plain \
    >"$tmp/pipe.out" 2>&1 || fail "the host runner failed on a pipe ($?): $(cat "$tmp/pipe.out")"
grep -q "standard input: no more values after 2 lines" "$tmp/pipe.out" ||
  fail "the end of standard input was not said: $(cat "$tmp/pipe.out")"
# Wine lets go of the pseudo-terminal before the meter closes its side.
wineserver -k 2>/dev/null || true
wineserver -w
sleep 0.5
kill -INT "$meter" 2>/dev/null || true
wait "$meter" || true
meter=

# The last value station $1 (kind $2) showed during the file's run, or with "pipe" the pipe's.
expect() {
  local station=$1 kind=$2 shows=$3 run=${4:-file} got
  local -a lines
  if [ "$run" = file ]; then lines=(head -n "$file_lines"); else lines=(tail -n +"$((file_lines + 1))"); fi
  got=$("${lines[@]}" "$tmp/meter.out" | grep -E "station=$station kind=$kind shows=" | tail -n 1 |
        sed -E 's/.* shows=([^ ]*).*/\1/')
  [ "$got" = "$shows" ] ||
    fail "station $station (kind $kind) shows '$got' from the $run, expected '$shows'"
}
expect 1 0 12.3
expect 2 1 -3.13
expect 3 2 -124
expect 12 3 45.6
expect 100 4 4464
expect 200 5 -1999
expect 255 6 999999
expect 2 1 -7.25 pipe
expect 200 5 1234 pipe

grep -q "line 10: no station shows tag 'T7' (ignored)" "$tmp/host.out" ||
  fail "no message for the unknown tag"
grep -q "rejected=0" "$tmp/meter.out" || fail "the meter saw bytes that were not frames"
grep -q "frames sent, 0 failed" "$tmp/host.out" || fail "frames failed on the line"
echo "windows_host_meter_road: 7 meters showed the values sent through Veldrane.dll"
