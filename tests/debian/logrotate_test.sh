#!/usr/bin/env bash
# The package's logrotate file with a runner writing its event log: rotated while the runner
# runs, the old lines are in the copy, and the runner goes on at the start of the emptied file
# (no hole of zero bytes where the old lines were).
# Usage: logrotate_test.sh LOGROTATE_FILE BIN_DIR
set -euo pipefail
conf=$1 bin=$2
command -v logrotate >/dev/null || { echo "FAIL: logrotate missing (Debian: logrotate)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/device_server_lib.sh
. "$here/../e2e/device_server_lib.sh"  # wait_tenths
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-logrotate.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/logs/* "$tmp"/*.out; do echo "--- $f" >&2; cat -v "$f" >&2; done
  exit 1
}

mkdir -p "$tmp/logs" "$tmp/ports"
export VELDRANE_PORTS=$tmp/ports VELDRANE_LOCK_DIR=$tmp
sed "s|/var/log/veldrane/|$tmp/logs/|" "$conf" >"$tmp/logrotate.conf"
grep -q "^$tmp/logs/\*.log {" "$tmp/logrotate.conf" || fail "the file does not name /var/log/veldrane/*.log"
"$bin/veldrane-cfg" new "$tmp/line1.cfg" >/dev/null
printf 'P1\t1\t1\t0\tT1\t\n' | "$bin/veldrane-cfg" import "$tmp/line1.cfg" --utf8 >/dev/null
"$bin/veldrane-meter" --pty --link "$tmp/ports/com1" --plain --seconds 30 >"$tmp/meter.out" 2>&1 &
pids+=($!)
wait_tenths 50 test -e "$tmp/ports/com1" || fail "the meter made no pseudo-terminal"
"$bin/veldrane-host" run "$tmp/line1.cfg" --plain --seconds 3 --log "$tmp/logs/line1.log" \
  >"$tmp/host.out" 2>&1 &
host=$!
pids+=("$host")
wait_tenths 50 test -s "$tmp/logs/line1.log" || fail "the runner wrote no log"
before=$(cat "$tmp/logs/line1.log")
logrotate -f -s "$tmp/state" "$tmp/logrotate.conf" 2>"$tmp/logrotate.out" || fail "logrotate failed"
wait "$host" || fail "the runner failed"

[ "$(cat "$tmp/logs/line1.log.1")" = "$before" ] || fail "the copy does not hold the old lines"
[ -s "$tmp/logs/line1.log" ] || fail "the runner's last lines are missing"
[ "$(tr -d '\000' <"$tmp/logs/line1.log" | wc -c)" = "$(wc -c <"$tmp/logs/line1.log")" ] ||
  fail "the log has a hole of zero bytes where the old lines were"
echo "logrotate: rotated while the runner wrote, nothing lost and no hole"
