#!/usr/bin/env bash
# PLCs' writes through veldrane-host --modbus and the driver to veldrane-meter on a
# pseudo-terminal linked as COM1: real clients (mbpoll and pymodbus) write every register type,
# swapped and scaled, and the meters show the values; reads give them back; each refused request
# has its exception and changes nothing; a malformed frame closes that client only; a ninth client
# is refused when eight may connect; maps that cannot be used are refused before the run.
# Usage: host_modbus_test.sh BIN_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=mqtt_lib.sh
. "$here/mqtt_lib.sh"  # the temporary folder, the meter's line and what it shows
mqtt_test_setup modbus

fail() {
  echo "FAIL: $*" >&2
  echo "--- meter" >&2; cat "$tmp/meter.out" >&2 || true
  echo "--- host" >&2; cat "$tmp/host.out" >&2 || true
  exit 1
}
# A free loopback port (never 502).
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
pyclient() { /usr/bin/python3 "$here/modbus_client.py" "$port" "$@" || fail "pymodbus: $*"; }
mbwrite() {
  local register=$1 type=$2
  shift 2
  mbpoll -m tcp -p "$port" -a 1 -0 -r "$register" -t "$type" -1 -o 2 127.0.0.1 "$@" \
    >>"$tmp/mbpoll.out" 2>&1 || fail "mbpoll wrote register $register: $(tail -n 3 "$tmp/mbpoll.out")"
}

line_with_meter "$tmp/road.cfg" 90 <"$here/road_stations.txt" ||
  fail "the meter did not link its pseudo-terminal"

# Maps that cannot be used: refused before the run, with their line (status 2).
refused_map() {
  printf '%b' "$1" >"$tmp/bad.map"
  local status=0
  VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/road.cfg" --plain --seconds 5 \
    --modbus tcp://127.0.0.1:1 --modbus-map "$tmp/bad.map" >"$tmp/refused.out" 2>&1 || status=$?
  [ "$status" = 2 ] && grep -qF "$2" "$tmp/refused.out" ||
    fail "the map '$1' gave status $status: $(cat "$tmp/refused.out")"
}
refused_map '0 float32 T0\n# T9 is no station'"'"'s\n2 int16 T9\n' "bad.map:3: no station links the tag 'T9'"
refused_map '0 float32 T0\n1 int16 T1\n' "bad.map:2: register 1 is taken by line 1"
refused_map '0 float T0\n' "bad.map:1: 'float' is no type"

# Every type: mbpoll writes the float32s and the int16 and int32 (-B: high word first),
# pymodbus the others. The 4-digit meter of T4 and the 6-digit one of T6 show whole numbers.
cat >"$tmp/plc.map" <<'MAP'
# The road's meters as a PLC writes them
0 float32 T0
2 float32-swapped T1
4 int16 T2 10
5 int32 T3 100
7 uint16 T4
8 int32-swapped T5
10 uint32 T6 1000
12 uint32-swapped T3 10
MAP
port=$(free_port)
VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/road.cfg" --plain --seconds 80 \
  --modbus "tcp://127.0.0.1:$port" --modbus-map "$tmp/plc.map" --modbus-unit 1 \
  >"$tmp/host.out" 2>&1 &
host=$!
pids+=("$host")
within 10 /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port)).close()" \
  2>/dev/null || fail "the runner does not listen on port $port"

mbwrite 0 4:float -B -- 12.25
mbwrite 2 4:float -- -3.125
mbwrite 4 4 64301     # -1235 as a 16-bit word: mbpoll writes words unsigned
mbwrite 5 4:int -B -- 4560
expect_shows 1 12.3 10      # a tie on the dropped digit goes away from zero
expect_shows 2 -3.13 10
expect_shows 3 -124 10      # -123.5, half away from zero without decimals
expect_shows 12 45.6 10
pyclient write
expect_shows 100 7000 10
expect_shows 200 -1999 10
expect_shows 255 999999 10
expect_shows 12 7.5 10      # T3 again, through its second entry
mbpoll -m tcp -p "$port" -a 1 -0 -r 0 -t 4:float -B -1 127.0.0.1 >"$tmp/read.out" 2>&1 ||
  fail "mbpoll could not read: $(cat "$tmp/read.out")"
grep -qE '^\[0\]:\s+12.25$' "$tmp/read.out" || fail "mbpoll read back: $(cat "$tmp/read.out")"
pyclient readback
expect_shows 3 50 10        # T2 from the read and write

# Refusals, malformed frames, and a client that connects and says nothing while others work.
exec {silent}<>/dev/tcp/127.0.0.1/"$port"
pyclient refusals
exec {silent}>&-
sleep 0.3
pyclient clients
kill -0 "$host" || fail "the runner died"

# A second runner cannot have the port: a usage error, named.
status=0
VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/road.cfg" --plain --seconds 5 \
  --modbus "tcp://127.0.0.1:$port" >"$tmp/second.out" 2>&1 || status=$?
[ "$status" = 2 ] && grep -q "cannot listen on tcp://127.0.0.1:$port: Address already in use" \
  "$tmp/second.out" || fail "a taken port gave status $status: $(cat "$tmp/second.out")"

# Stopped: the statistics name the clients and the writes taken.
kill -TERM "$host"
wait "$host" || fail "the runner ended with status $?"
grep -qE "^Modbus tcp://127.0.0.1:$port: 0 clients, [0-9]+ writes$" "$tmp/host.out" ||
  fail "no Modbus statistics"
grep -q "closed a client whose request's header does not fit its length" "$tmp/host.out" ||
  fail "the malformed frame was not told"
echo "host_modbus: every type from mbpoll and pymodbus on the meters, reads, refusals, bounds"
