#!/usr/bin/env bash
# Device-server ports that cannot serve, as veldrane-host and veldrane-meter tell it: a port
# that refuses connections, a host name that does not resolve, a server without the Telnet
# COM-PORT-OPTION, and the RTS/CTS handshake on raw TCP and on a pseudo-terminal, which carry no
# modem lines. And the handshake where it works: through the option to veldrane-meter --listen,
# which takes the line settings and answers RTS with CTS.
# Usage: device_server_errors_test.sh BIN_DIR
set -euo pipefail
bin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-devserver-errors.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
export VELDRANE_PORTS=$tmp/ports
mkdir -p "$VELDRANE_PORTS"
entry=$VELDRANE_PORTS/com1

source "$(dirname "$0")/device_server_lib.sh"
# Runs a program that must fail with status $1 and say every one of the texts after the
# command (given as one string in $2).
expect_failure() {
  local want=$1 command=$2 status=0 text
  shift 2
  $command >"$tmp/run.out" 2>&1 || status=$?
  [ "$status" = "$want" ] || fail "'$command' exited $status, not $want"
  for text in "$@"; do
    grep -qF -- "$text" "$tmp/run.out" || fail "'$command' did not say '$text'"
  done
}
# A meter as a device server on a free port; sets meter_port.
start_meter() {
  local scheme=$1 out=$2 _
  for _ in $(seq 10); do
    meter_port=$(free_port) || fail "no free loopback port"
    "$bin/veldrane-meter" --listen "$scheme://127.0.0.1:$meter_port" --plain --seconds 60 \
      >"$tmp/$out" 2>&1 &
    pids+=($!)
    wait_tenths 50 listening "$meter_port" && return 0
  done
  fail "no meter could listen"
}

"$bin/veldrane-cfg" new "$tmp/line.cfg" >/dev/null
printf 'P1\t2\t3\t0\tT1\t\n' | "$bin/veldrane-cfg" import "$tmp/line.cfg" --utf8 >/dev/null
# The same line at 19200 7E2 with the RTS/CTS handshake (the port's indexes and flags).
cp "$tmp/line.cfg" "$tmp/rts.cfg"
printf '\x06\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00' |
  dd of="$tmp/rts.cfg" bs=1 seek=26 conv=notrunc status=none
"$bin/veldrane-cfg" show "$tmp/rts.cfg" | grep -q "COM1, 19200, 7E2, RTS/CTS" ||
  fail "rts.cfg is not 7E2 with the handshake"
host_run() { echo "$bin/veldrane-host run $1 --plain --seconds ${2:-3}"; }

# Nothing listens on the port.
port=$(free_port) || fail "no free loopback port"
ln -sfn "tcp://127.0.0.1:$port" "$entry"
expect_failure 4 "$(host_run "$tmp/line.cfg")" \
  "COM1 ($entry -> tcp://127.0.0.1:$port): connection refused: nothing listens on port $port"
# The meter listens on devices: an entry of a device server is none.
expect_failure 1 "$bin/veldrane-meter --port $entry --seconds 1" \
  "$entry -> tcp://127.0.0.1:$port: a device server's port, not a device on this machine"

# A name that does not resolve (.invalid never does); where the name service cannot be reached
# the lookup ends after a second instead, and says that.
ln -sfn "rfc2217://nosuch.invalid:4001" "$entry"
expect_failure 4 "$(host_run "$tmp/line.cfg")" "-> rfc2217://nosuch.invalid:4001): the"
grep -qE "host name nosuch.invalid does not resolve|name service did not answer for nosuch" \
  "$tmp/run.out" || fail "no cause for the name: $(cat "$tmp/run.out")"
expect_failure 1 "$bin/veldrane-meter --listen tcp://nosuch.invalid:4001 --seconds 1" \
  "cannot listen on tcp://nosuch.invalid:4001: "

# A raw TCP server named as RFC 2217: no answer to the option within the second.
start_meter tcp raw.out
expect_failure 1 "$bin/veldrane-meter --listen tcp://127.0.0.1:$meter_port --seconds 1" \
  "the port $meter_port is in use"
ln -sfn "rfc2217://127.0.0.1:$meter_port" "$entry"
expect_failure 4 "$(host_run "$tmp/line.cfg")" \
  "the device server did not answer the Telnet COM-PORT-OPTION" \
  "or name it tcp://127.0.0.1:$meter_port"

# The handshake on raw TCP: said why at the start, and every frame fails.
ln -sfn "tcp://127.0.0.1:$meter_port" "$entry"
echo "T1 5" >"$tmp/values.txt"
"$bin/veldrane-host" run "$tmp/rts.cfg" --values "$tmp/values.txt" --plain --seconds 4 \
  >"$tmp/host.out" 2>&1 || fail "the runner failed on raw TCP with the handshake"
grep -qF "the RTS/CTS handshake needs modem lines, and raw TCP carries none: name the port rfc2217://127.0.0.1:$meter_port" \
  "$tmp/host.out" || fail "the runner did not say why the handshake fails on raw TCP"
grep -qE "total: [1-9][0-9]* frames sent, [1-9]" "$tmp/host.out" ||
  fail "frames went out without the handshake"

# And on a pseudo-terminal.
"$bin/veldrane-meter" --pty --link "$tmp/pty" --plain --seconds 30 >"$tmp/pty.out" 2>&1 &
pids+=($!)
wait_tenths 50 test -e "$tmp/pty" || fail "the meter did not link its pseudo-terminal"
ln -sfn "$(readlink "$tmp/pty")" "$entry"
"$bin/veldrane-host" run "$tmp/rts.cfg" --plain --seconds 1 >"$tmp/host.out" 2>&1 ||
  fail "the runner failed on a pseudo-terminal with the handshake"
grep -qF "the RTS/CTS handshake needs modem lines, and a pseudo-terminal has none" \
  "$tmp/host.out" || fail "the runner did not say why the handshake fails on a pseudo-terminal"

# Through the option the handshake works: the meter takes 19200 7E2 and answers RTS with CTS.
start_meter rfc2217 rfc2217.out
ln -sfn "rfc2217://127.0.0.1:$meter_port" "$entry"
echo "T1 -42" >"$tmp/values.txt"
"$bin/veldrane-host" run "$tmp/rts.cfg" --values "$tmp/values.txt" --plain --seconds 4 \
  >"$tmp/host.out" 2>&1 || fail "the runner failed on RFC 2217 with the handshake"
grep -q "^line settings 19200 7E2 (set by 127.0.0.1:" "$tmp/rfc2217.out" ||
  fail "the meter did not take the line settings"
grep -qE "station=3 kind=2 shows=-42( |$)" "$tmp/rfc2217.out" || fail "the frame did not arrive"
grep -q "total: [1-9][0-9]* frames sent, 0 failed" "$tmp/host.out" ||
  fail "frames failed with the handshake over RFC 2217"
echo "device_server_errors: every port that cannot serve said why; the handshake over RFC 2217"
