#!/usr/bin/env bash
# Meters behind a device server: veldrane-host drives COM1, whose port-map entry names a real
# ser2net (started here on free loopback ports with a configuration written here, stopped by its
# process id), in front of the pseudo-terminal of veldrane-meter. Raw TCP and Telnet with the
# COM-PORT-OPTION carry every kind's frame exactly; the line settings set through the option
# reach the pseudo-terminal; ser2net killed mid-run fails the frames (messages 8 and 10) and,
# back again, has them flowing within 2 s (message 11).
# Usage: device_server_test.sh BIN_DIR
set -euo pipefail
bin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-devserver.XXXXXX")
pids=()
ser2net_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$ser2net_pid" ] && kill -KILL "$ser2net_pid" 2>/dev/null
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
export VELDRANE_PORTS=$tmp/ports
mkdir -p "$VELDRANE_PORTS"
entry=$VELDRANE_PORTS/com1
# Debian puts ser2net in /usr/sbin, which is not on every user's PATH.
ser2net_bin=$(command -v ser2net || echo /usr/sbin/ser2net)

source "$(dirname "$0")/device_server_lib.sh"

# ser2net in front of the pseudo-terminal: raw TCP on one port, RFC 2217 on the other. No UUCP
# lock files: a ser2net killed on purpose would leave them behind.
start_ser2net() {
  cat >"$tmp/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,$raw_port
  connector: serialdev,$pty,9600n81,local
connection: &telnet
  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet_port
  connector: serialdev,$pty,9600n81,local
YAML
  "$ser2net_bin" -n -u -c "$tmp/ser2net.yaml" >>"$tmp/ser2net.out" 2>&1 &
  ser2net_pid=$!
  wait_tenths 50 listening "$raw_port" && wait_tenths 50 listening "$telnet_port"
}
stop_ser2net() {
  kill -KILL "$ser2net_pid" 2>/dev/null || true
  wait "$ser2net_pid" 2>/dev/null || true
  ser2net_pid=
}

# One station of each kind; kind 0 sends its station number as a raw byte, so station 255
# puts a 0xFF on the line, which Telnet doubles on the way.
"$bin/veldrane-cfg" new "$tmp/road.cfg" >/dev/null
printf '%s\n' "K0	0	255	1	T0	" "K1	1	2	2	T1	" "K2	2	3	0	T2	" "K3	3	12	1	T3	" \
  "K4	4	100	0	T4	" "K5	5	200	0	T5	" "K6	6	254	0	T6	" |
  "$bin/veldrane-cfg" import "$tmp/road.cfg" --utf8 >/dev/null

# The meter starts at 9600 8N1 whatever a configuration says, so that settings set from afar
# show as a change.
"$bin/veldrane-meter" --pty --link "$tmp/pty" --config "$tmp/road.cfg" --baud 9600 \
  --data-bits 8 --parity none --stop-bits 1 --plain --seconds 120 >"$tmp/meter.out" 2>&1 &
pids+=($!)
wait_tenths 50 test -e "$tmp/pty" || fail "the meter did not link its pseudo-terminal"
pty=$(readlink "$tmp/pty")
raw_port=$(free_port) && telnet_port=$(free_port) || fail "no free loopback port"
start_ser2net || fail "ser2net did not listen on $raw_port and $telnet_port"

# The last value each station showed since meter line $1 of the output.
expect() {
  local from=$1 station=$2 kind=$3 shows=$4 got
  got=$(tail -n +"$from" "$tmp/meter.out" | grep -E "station=$station kind=$kind shows=" |
        tail -n 1 | sed -E 's/.* shows=([^ ]*).*/\1/')
  [ "$got" = "$shows" ] || fail "station $station (kind $kind) shows '$got', expected '$shows'"
}
meter_lines() { wc -l <"$tmp/meter.out"; }

# Raw TCP and then Telnet: each run's values, exactly.
ln -s "tcp://127.0.0.1:$raw_port" "$entry"
from=$(($(meter_lines) + 1))
printf 'T0 12.25\nT1 -3.125\nT2 -123.5\nT3 45.6\nT4 70000\nT5 -1999\nT6 999999\n' >"$tmp/a.txt"
"$bin/veldrane-host" run "$tmp/road.cfg" --values "$tmp/a.txt" --seconds 5 --plain \
  >"$tmp/host.out" 2>&1 || fail "the runner failed on tcp:// ($?)"
sleep 0.3
expect "$from" 255 0 12.3; expect "$from" 2 1 -3.13; expect "$from" 3 2 -124
expect "$from" 12 3 45.6; expect "$from" 100 4 4464; expect "$from" 200 5 -1999
expect "$from" 254 6 999999

ln -sfn "rfc2217://127.0.0.1:$telnet_port" "$entry"
from=$(($(meter_lines) + 1))
printf 'T0 3.5\nT1 -7.25\nT2 42\nT3 -8.5\nT4 1234\nT5 9999\nT6 -199999\n' >"$tmp/b.txt"
"$bin/veldrane-host" run "$tmp/road.cfg" --values "$tmp/b.txt" --seconds 5 --plain \
  >"$tmp/host.out" 2>&1 || fail "the runner failed on rfc2217:// ($?)"
sleep 0.3
expect "$from" 255 0 3.5; expect "$from" 2 1 -7.25; expect "$from" 3 2 42
expect "$from" 12 3 -8.5; expect "$from" 100 4 1234; expect "$from" 200 5 9999
expect "$from" 254 6 -199999
! tail -n +"$from" "$tmp/meter.out" | grep -q "bytes=" ||
  fail "the meter saw bytes that were not frames"

# The line settings of a configuration (19200 7E2: the baud index and the three flags of the
# one-station file below) reach the pseudo-terminal through the option; a pseudo-terminal keeps
# 8 data bits and no parity whatever it is told, so it shows 19200 8N2.
"$bin/veldrane-cfg" new "$tmp/one.cfg" >/dev/null
printf 'K1\t1\t2\t0\tT1\t\n' | "$bin/veldrane-cfg" import "$tmp/one.cfg" --utf8 >/dev/null
printf '\x06\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00' |
  dd of="$tmp/one.cfg" bs=1 seek=26 conv=notrunc status=none
"$bin/veldrane-cfg" show "$tmp/one.cfg" | grep -q "COM1, 19200, 7E2" || fail "one.cfg is not 7E2"
echo "T1 77" >"$tmp/c.txt"
from=$(($(meter_lines) + 1))
"$bin/veldrane-host" run "$tmp/one.cfg" --values "$tmp/c.txt" --seconds 3 --plain \
  >"$tmp/host.out" 2>&1 || fail "the runner failed with 19200 7E2 ($?)"
tail -n +"$from" "$tmp/meter.out" | grep -q "line settings 19200 8N2 (set by the writer)" ||
  fail "the line settings did not reach the pseudo-terminal"
expect "$from" 2 1 77

# ser2net killed while the runner drives the line, and started again.
ln -sfn "tcp://127.0.0.1:$raw_port" "$entry"
mkfifo "$tmp/values"
exec 3<>"$tmp/values"
"$bin/veldrane-host" run "$tmp/road.cfg" --values "$tmp/values" --plain --seconds 90 \
  >"$tmp/host.out" 2>&1 &
pids+=($!)
shows() { grep -q "station=3 kind=2 shows=$1 " "$tmp/meter.out"; }
printf 'T2 1\n' >&3
wait_tenths 100 shows 1 || fail "the first value did not arrive"
stop_ser2net
# Message 8 for each failed frame of K2, message 10 at the fifth (values keep coming; each is
# taken at the next second divisible by 3).
lost() { grep -q "스테이션\[K2\]과 통신할 수 없습니다" "$tmp/host.out"; }
value=2
for _ in $(seq 60); do
  lost && break
  printf 'T2 %s\n' "$value" >&3
  value=$((value + 1))
  sleep 0.5
done
lost || fail "no message 10 while ser2net was away"
[ "$(grep -c "스테이션\[K2\]에 데이터를 송신할 수 없습니다" "$tmp/host.out")" -ge 5 ] ||
  fail "fewer than five messages 8 before message 10"
before=$(meter_lines)
start_ser2net || fail "ser2net did not start again"
# Frames flow again within 2 s of ser2net's return, and every meter gets its value again
# without a new value.
frames_since() { [ "$(grep -c "kind=" <(tail -n +"$((before + 1))" "$tmp/meter.out"))" -ge "$1" ]; }
wait_tenths 20 frames_since 1 || fail "the frames did not resume within 2 s of ser2net's return"
wait_tenths 10 frames_since 7 || fail "not every meter got its value again"
restored() { grep -q "스테이션\[K2\]과의 통신이 정상적으로 복구되었습니다" "$tmp/host.out"; }
wait_tenths 20 restored || fail "no message 11 after ser2net came back"
printf 'T2 500\n' >&3
wait_tenths 50 shows 500 || fail "a later value did not arrive"
echo "device_server: frames over ser2net, raw and RFC 2217, settings, and a restart"
