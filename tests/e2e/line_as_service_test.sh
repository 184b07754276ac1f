#!/usr/bin/env bash
# A line as the service drives it, by a user who is not root (nobody in the group dialout):
# the virtual meter's pseudo-terminal given to dialout is opened by that user, and opened again
# by the next runner while the meter keeps it open (the exclusive mark does not outlive a
# runner, even one killed); a second runner on a port that a first one drives is refused as
# busy, naming the first, on a terminal and on a device server's address spelled two ways.
# Usage: line_as_service_test.sh BIN_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-line-service.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
# shellcheck source=device_server_lib.sh
. "$here/device_server_lib.sh"

if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null; then
  echo "line_as_service: needs root and setpriv to run programs as another user; skipped"
  exit 0
fi
# The user and group a service runs with, without root's exemptions.
as_service=(setpriv --reuid=nobody --regid=dialout --clear-groups)

chmod 0755 "$tmp"
export VELDRANE_PORTS=$tmp/ports VELDRANE_LOCK_DIR=$tmp/locks
mkdir -p "$VELDRANE_PORTS" "$VELDRANE_LOCK_DIR"
chmod 1777 "$VELDRANE_LOCK_DIR"
"$bin/veldrane-cfg" new "$tmp/line.cfg" >/dev/null
printf 'P1\t1\t1\t0\tT1\t\n' | "$bin/veldrane-cfg" import "$tmp/line.cfg" --utf8 >/dev/null
chmod 0644 "$tmp/line.cfg"

"$bin/veldrane-meter" --pty --pty-group dialout --link "$VELDRANE_PORTS/com1" --plain \
  --seconds 60 >"$tmp/meter.out" 2>&1 &
pids+=($!)
wait_tenths 50 test -e "$VELDRANE_PORTS/com1" || fail "the meter made no pseudo-terminal"
pty=$(readlink "$VELDRANE_PORTS/com1")
[ "$(stat -c %G:%a "$pty")" = dialout:660 ] || fail "$pty is $(stat -c %G:%a "$pty")"

# Three runs in turn; the meter keeps the terminal open all along.
for run in 1 2 3; do
  status=0
  "${as_service[@]}" "$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 1.5 \
    >"$tmp/run$run.out" 2>&1 || status=$?
  [ "$status" = 0 ] || fail "run $run as nobody exited $status"
done
wait_tenths 30 grep -q "station=1 kind=1" "$tmp/meter.out" || fail "no frame reached the meter"
# Killed while it drives the port, a runner clears nothing: the next one opens it all the same.
"${as_service[@]}" "$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 20 \
  >"$tmp/killed.out" 2>&1 &
killed=$!
wait_tenths 50 grep -q "통신시작" "$tmp/killed.out" || fail "the runner to kill did not start"
kill -KILL "$killed"
wait "$killed" 2>/dev/null || true
sleep 0.2
"${as_service[@]}" "$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 1.5 \
  >"$tmp/after_kill.out" 2>&1 || fail "the port did not open after a runner was killed"

# Expects the runner on CONFIG, started while another runner drives its port, to exit 4 naming
# that runner's process.
expect_busy() {
  local config=$1 holder=$2 status=0
  "${as_service[@]}" "$bin/veldrane-host" run "$config" --plain --seconds 3 >"$tmp/second.out" 2>&1 ||
    status=$?
  [ "$status" = 4 ] || fail "the second runner on $config exited $status, not 4"
  grep -q "busy: another program holds the port: veldrane-host (process $holder, its lock" \
    "$tmp/second.out" || fail "the second runner does not name process $holder"
}
# Starts a runner on CONFIG for a while and waits for its line to run; its pid in $holder.
start_holder() {
  "${as_service[@]}" "$bin/veldrane-host" run "$1" --plain --seconds 20 >"$tmp/holder.out" 2>&1 &
  holder=$!
  pids+=("$holder")
  wait_tenths 50 grep -q "통신시작" "$tmp/holder.out" || fail "the first runner did not start"
}

start_holder "$tmp/line.cfg"
expect_busy "$tmp/line.cfg" "$holder"
# The same terminal through another entry, in a configuration that veldrane-cfg put on COM2.
ln -s "$pty" "$VELDRANE_PORTS/com2"
cp "$tmp/line.cfg" "$tmp/two.cfg"
"$bin/veldrane-cfg" port "$tmp/two.cfg" --com 2 >/dev/null
expect_busy "$tmp/two.cfg" "$holder"
kill "$holder"
wait "$holder" || true
[ -z "$(ls -A "$VELDRANE_LOCK_DIR")" ] || fail "a lock was left: $(ls -A "$VELDRANE_LOCK_DIR")"
# Once the first has stopped, the line runs on COM2 (COM1 leads nowhere meanwhile).
rm "$VELDRANE_PORTS/com1"
"${as_service[@]}" "$bin/veldrane-host" run "$tmp/two.cfg" --plain --seconds 1.5 \
  >"$tmp/two.out" 2>&1 || fail "the line on COM2 did not run"

# A device server named by its address and by a name that resolves to it.
port=$(free_port) || fail "no free port"
"$bin/veldrane-meter" --listen "tcp://127.0.0.1:$port" --plain --seconds 60 \
  >"$tmp/server.out" 2>&1 &
pids+=($!)
wait_tenths 50 listening "$port" || fail "the meter does not listen on $port"
ln -sfn "tcp://127.0.0.1:$port" "$VELDRANE_PORTS/com1"
ln -sfn "tcp://localhost:$port" "$VELDRANE_PORTS/com2"
start_holder "$tmp/line.cfg"
expect_busy "$tmp/two.cfg" "$holder"
echo "line_as_service: a non-root runner reopens the meter's terminal; a second runner is refused"
