#!/usr/bin/env bash
# A port that does not open, as veldrane-host and veldrane-meter tell it: for each kind of wrong
# device the runner (through the driver, COM1 mapped in a port map of the test's own) and the
# meter (--port on the same entry) fail and name the cause, the path and the remedy.
# Usage: port_errors_test.sh BIN_DIR
set -euo pipefail
bin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-port-errors.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
export VELDRANE_PORTS=$tmp/ports
mkdir -p "$VELDRANE_PORTS"
entry=$VELDRANE_PORTS/com1

fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin/veldrane-cfg" new "$tmp/line.cfg" >/dev/null
printf 'P1\t1\t1\t0\tT1\t\n' | "$bin/veldrane-cfg" import "$tmp/line.cfg" --utf8 >/dev/null

# Runs both programs on the entry (the runner with CONFIG), each with PREFIX before it, and
# checks the exit status and that each message holds every one of the texts given.
expect_refused() {
  local config=$1 prefix=$2 status
  shift 2
  status=0
  $prefix "$bin/veldrane-host" run "$config" --plain --seconds 3 >"$tmp/host.out" 2>&1 || status=$?
  [ "$status" = 4 ] || { cat "$tmp/host.out" >&2; fail "veldrane-host exited $status, not 4"; }
  status=0
  $prefix "$bin/veldrane-meter" --port "$entry" --seconds 3 >"$tmp/meter.out" 2>&1 || status=$?
  [ "$status" = 1 ] || { cat "$tmp/meter.out" >&2; fail "veldrane-meter exited $status, not 1"; }
  local text out
  for text in "$@"; do
    for out in host meter; do
      grep -qF -- "$text" "$tmp/$out.out" ||
        { cat "$tmp/$out.out" >&2; fail "$out: no '$text'"; }
    done
  done
}

# Things that open but are no serial line; the file receives nothing.
: >"$tmp/file"
mkfifo "$tmp/fifo"
for target in /dev/null "$tmp/file" /dev/zero "$tmp/fifo"; do
  ln -sfn "$target" "$entry"
  expect_refused "$tmp/line.cfg" "" "$entry -> $target" "not a serial device"
done
[ ! -s "$tmp/file" ] || fail "the regular file received bytes"

# An entry whose adapter is unplugged.
ln -sfn /nonexistent/ttyUSB9 "$entry"
expect_refused "$tmp/line.cfg" "" "$entry -> /nonexistent/ttyUSB9" "not found" "leads nowhere"

# No access: the owner may not open it and its group may. Root, which may open anything, runs
# the programs without the capabilities that override file permissions.
: >"$tmp/denied"
chmod 0060 "$tmp/denied"
prefix=""
if [ "$(id -u)" = 0 ]; then
  chgrp dialout "$tmp/denied"
  prefix="setpriv --bounding-set -dac_override,-dac_read_search"
  prefix+=" --inh-caps -dac_override,-dac_read_search"
fi
group=$(stat -c %G "$tmp/denied")
ln -sfn "$tmp/denied" "$entry"
expect_refused "$tmp/line.cfg" "$prefix" "permission denied" "the group $group may open it" \
  "usermod -aG $group $(id -un)"

# Busy: a runner holds the port (a meter's pseudo-terminal) while the other programs try it.
"$bin/veldrane-meter" --pty --link "$tmp/pty" --seconds 20 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/pty" ] && break; sleep 0.1; done
ln -sfn "$(readlink "$tmp/pty")" "$entry"
"$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 20 >"$tmp/holder.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q "통신시작" "$tmp/holder.out" && break; sleep 0.1; done
grep -q "통신시작" "$tmp/holder.out" || fail "the first runner did not start"
expect_refused "$tmp/line.cfg" "" "busy: another program holds the port"
kill "${pids[@]}" 2>/dev/null || true
wait || true
pids=()

# Settings with no line value: the driver refuses them, the runner names them.
cp "$tmp/line.cfg" "$tmp/baud.cfg"
# The baud index: 4 bytes at 26, after the header, the station-name list (P1) and the port.
printf '\x09\x00\x00\x00' | dd of="$tmp/baud.cfg" bs=1 seek=26 conv=notrunc status=none
"$bin/veldrane-cfg" check "$tmp/baud.cfg" >"$tmp/check.out" || true
grep -q "port: baud index 9 outside 0 to 7" "$tmp/check.out" ||
  fail "veldrane-cfg check does not see the baud index"
status=0
"$bin/veldrane-host" run "$tmp/baud.cfg" --plain >"$tmp/host.out" 2>&1 || status=$?
[ "$status" = 4 ] || fail "veldrane-host exited $status on a bad baud index"
grep -qF "COM1: line settings refused: baud index 9 outside 0 to 7" "$tmp/host.out" ||
  { cat "$tmp/host.out" >&2; fail "no cause for the bad baud index"; }
echo "port_errors: every wrong device was refused with its cause"
