# What the device-server tests share, sourced by them after setting $tmp.
#   fail TEXT                 says why, shows every $tmp/*.out, and ends the test
#   wait_tenths N COMMAND...  waits up to N tenths of a second for COMMAND to succeed
#   listening PORT            a socket listens on the loopback port
#   free_port                 prints a loopback port nothing listens on

fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.out; do echo "--- $f" >&2; cat "$f" >&2; done
  exit 1
}
wait_tenths() {
  local tenths=$1 _
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# Read from the kernel's table: probing by connecting would take a device server's one client.
listening() { grep -q "^ *[0-9]*: 0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }
free_port() {
  local port _
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    listening "$port" || { echo "$port"; return 0; }
  done
  return 1
}
