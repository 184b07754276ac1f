#!/usr/bin/env bash
# A port whose port-map entry vanishes while the runner drives it: the virtual meter on COM1
# exits (and takes its link along), the driver's frames fail while the entry is missing instead
# of going to another device, and a new meter on the same link gets every meter's value at
# once when the driver opens the port again, the unchanged ones too.
# Usage: port_vanishes_test.sh BIN_DIR
set -euo pipefail
bin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-vanish.XXXXXX")
pids=()
trap 'exec 3>&- 2>/dev/null; kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
export VELDRANE_PORTS=$tmp/ports
mkdir -p "$VELDRANE_PORTS"
link=$VELDRANE_PORTS/com1

fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.out; do echo "--- $f" >&2; cat "$f" >&2; done
  exit 1
}
# Waits up to 10 s for a command to succeed.
wait_until() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
wait_until_short() {
  for _ in $(seq 10); do "$@" && return 0; sleep 0.1; done
  return 1
}
shows() { grep -q "station=$2 kind=1 shows=$3\$" "$tmp/$1.out"; }
# Message 8 for station P1, as the runner prints the event log.
failures() { grep -c "스테이션\[P1\]에 데이터를 송신할 수 없습니다" "$tmp/host.out" || true; }
at_least() { [ "$(failures)" -ge "$1" ]; }

"$bin/veldrane-cfg" new "$tmp/line.cfg" >/dev/null
printf 'P1\t1\t1\t0\tT1\t\nP2\t1\t2\t0\tT2\t\n' |
  "$bin/veldrane-cfg" import "$tmp/line.cfg" --utf8 >/dev/null
mkfifo "$tmp/values"
exec 3<>"$tmp/values"

"$bin/veldrane-meter" --pty --link "$link" --plain >"$tmp/meter1.out" 2>&1 &
pids+=($!)
wait_until test -e "$link" || fail "the first meter did not link its pseudo-terminal"
"$bin/veldrane-host" run "$tmp/line.cfg" --values "$tmp/values" --plain --seconds 60 \
  >"$tmp/host.out" 2>&1 &
pids+=($!)
printf 'T1 1\nT2 2\n' >&3
wait_until shows meter1 2 2 || fail "the first meter did not get the values"

kill -TERM "${pids[0]}"
wait "${pids[0]}" || true
[ ! -e "$link" ] || fail "the meter left its link behind"
printf 'T1 3\n' >&3
wait_until at_least 1 || fail "the frame to the vanished meter did not fail"
# More than a second later the driver opens the port again: the entry is still missing, so the
# frame fails again instead of going to the on-board port.
sleep 1.2
printf 'T1 4\n' >&3
wait_until at_least 2 || fail "the driver sent P1's frame while its port-map entry was missing"

"$bin/veldrane-meter" --pty --link "$link" --plain >"$tmp/meter2.out" 2>&1 &
pids+=($!)
wait_until test -e "$link" || fail "the second meter did not link its pseudo-terminal"
# The port is tried again when a frame is due: P1's value keeps changing.
back=""
for value in $(seq 5 15); do
  printf 'T1 %s\n' "$value" >&3
  if wait_until_short shows meter2 1 "$value"; then back=$value; break; fi
done
[ -n "$back" ] || fail "the driver did not follow the entry when it came back"
# P2's value never changed: it comes with the next pass, not with the next minute's refresh.
wait_until shows meter2 2 2 || fail "the meter of the unchanged value stayed blank"
echo "port_vanishes: the line failed while its entry was missing and followed it back"
