#!/usr/bin/env bash
# What veldrane-host --mqtt refuses at start, at once and with the cause: credentials MQTT
# cannot carry, and files that are no credentials. Then a stop while the broker's name server never answers: the runner ends within 2 s
# of SIGTERM (in a network namespace of its own, where a silent name server on 127.0.0.1:53 is
# the only one; skipped where namespaces are not allowed).
# Usage: host_mqtt_refusals_test.sh BIN_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=mqtt_lib.sh
. "$here/mqtt_lib.sh"
mqtt_test_setup mqtt-refusals

fail() {
  echo "FAIL: $*" >&2
  echo "--- host" >&2; cat "$tmp/host.out" >&2 || true
  exit 1
}

line_with_meter "$tmp/x_y.cfg" 30 < <(printf "K1\t1\t2\t0\tT1\t\n") || fail "the meter did not link its pseudo-terminal"
printf 'user\n%s\n' "$(head -c 70000 /dev/zero | tr '\0' p)" >"$tmp/long-password"
printf 'us\0er\nsecret\n' >"$tmp/nul-user"
printf 'user\nsec\0ret\n' >"$tmp/nul-password"
mkfifo "$tmp/fifo"

# auth file | configurations | what the refusal says
cases=(
  "$tmp/long-password|x_y|password in the credentials file .* is longer than 65535 bytes"
  "$tmp/nul-user|x_y|user name in the credentials file .* holds a NUL byte"
  "$tmp/nul-password|x_y|password in the credentials file .* holds a NUL byte"
  "/dev/zero|x_y|/dev/zero is not a regular file"
  "$tmp/fifo|x_y|fifo is not a regular file"
)
for c in "${cases[@]}"; do
  IFS='|' read -r auth lines says <<<"$c"
  args=()
  for l in $lines; do args+=("$tmp/$l.cfg"); done
  [ -n "$auth" ] && args+=(--mqtt-auth "$auth")
  status=0
  VELDRANE_PORTS="$tmp/ports" timeout 5 "$bin/veldrane-host" run "${args[@]}" --plain \
    --seconds 3 --mqtt mqtt://127.0.0.1:1 >"$tmp/host.out" 2>&1 || status=$?
  [ "$status" = 2 ] || fail "$c: exit status $status, not 2 (a usage error)"
  grep -qE "$says" "$tmp/host.out" || fail "$c: the cause was not named"
done

# A name server that takes questions and never answers.
if ! unshare -rmn true 2>/dev/null; then
  echo "SKIP: no network namespace here for the silent name server" >&2
  exit 0
fi
echo "nameserver 127.0.0.1" >"$tmp/resolv.conf"
cat >"$tmp/silent.py" <<'EOF'
import socket, time
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("127.0.0.1", 53))
tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
tcp.bind(("127.0.0.1", 53))
tcp.listen(1)
time.sleep(60)
EOF
cat >"$tmp/stop.sh" <<'EOF'
set -eu
ip link set lo up
mount --bind "$tmp/resolv.conf" /etc/resolv.conf
python3 "$tmp/silent.py" &
silent=$!
sleep 0.3
VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/x_y.cfg" --plain \
  --mqtt mqtt://broker.example.invalid >"$tmp/host.out" 2>&1 &
host=$!
sleep 1.5
start=$(date +%s%N)
kill -TERM "$host"
status=0
wait "$host" || status=$?
end=$(date +%s%N)
kill "$silent"
echo "$status $(((end - start) / 1000000))"
EOF
read -r status ms < <(tmp=$tmp bin=$bin unshare -rmn bash "$tmp/stop.sh")
[ "$status" = 0 ] || fail "the runner ended with status $status on SIGTERM"
[ "$ms" -lt 2000 ] || fail "the runner took $ms ms to stop while the name server was silent"
echo "stopped in $ms ms while the name server was silent"
