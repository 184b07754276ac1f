#!/usr/bin/env bash
# Values from a real mosquitto broker through veldrane-host and the driver to veldrane-meter on
# a pseudo-terminal linked as COM1: the values a test client publishes are shown exactly,
# retained ones at start, bad payloads are named once per topic, the broker restarted mid-run
# is found again, the stations' states come back on the status topics, and the last will marks
# a killed runner offline.
# Usage: host_mqtt_test.sh BIN_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=mqtt_lib.sh
. "$here/mqtt_lib.sh"
mqtt_test_setup mqtt

fail() {
  echo "FAIL: $*" >&2
  echo "--- meter" >&2; cat "$tmp/meter.out" >&2 || true
  echo "--- host" >&2; cat "$tmp/host.out" >&2 || true
  exit 1
}
pub() { mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 "$@"; }
# The retained message of a topic (empty when none), waiting at most 2 s.
retained() {
  timeout 5 mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t "$1" -C 1 -W 2 2>/dev/null || true
}
# within, shows and expect_shows come from mqtt_lib.sh.

# The road test's stations, one of each kind.
start_broker "$tmp"
line_with_meter "$tmp/road.cfg" 90 <"$here/road_stations.txt" ||
  fail "the meter did not link its pseudo-terminal"

# Retained before the runner starts: taken at start. T6 comes from --values beside MQTT.
pub -t veldrane/values/T0 -r -m 12.25
echo "T6 999999" >"$tmp/values.txt"
# Its output taken for the journal's, as under systemd, so that each line shows its priority.
: >"$tmp/host.out"
JOURNAL_STREAM=$(stat -L -c %d:%i "$tmp/host.out") VELDRANE_PORTS="$tmp/ports" \
  "$bin/veldrane-host" run "$tmp/road.cfg" --plain --seconds 80 \
  --values "$tmp/values.txt" --mqtt "mqtt://127.0.0.1:$broker_port" --mqtt-name gw \
  >"$tmp/host.out" 2>&1 &
host=$!
pids+=("$host")
within 10 grep -q "connected to the broker" "$tmp/host.out" || fail "the runner did not connect"
grep -q "^<5>veldrane-host: MQTT: connected to the broker" "$tmp/host.out" ||
  fail "the connection is not a notice"

# The road test's values, as numbers and as JSON; blanks and a line end around a number.
pub -t veldrane/values/T1 -m '{"value": -3.125, "unit": "bar"}'
pub -t veldrane/values/T2 -m ' -123.5 '
printf '45.6\n' | pub -t veldrane/values/T3 -s
pub -t veldrane/values/T4 -m '{"value":70000}'
pub -t veldrane/values/T5 -m -1999
# Bad payloads: named once per topic, and the value stays.
pub -t veldrane/values/T2 -m many
pub -t veldrane/values/T2 -m '{"value": "12"}'
printf 'x\001y' | pub -t veldrane/values/T4 -s
expect_shows 1 12.3 10      # retained at start; a tie on the dropped digit goes away from zero
expect_shows 2 -3.13 10
expect_shows 3 -124 10      # half away from zero without decimals
expect_shows 12 45.6 10
expect_shows 100 4464 10    # 70000 wraps at 16 bits
expect_shows 200 -1999 10   # the 4-digit meter's lowest value
expect_shows 255 999999 10  # from --values
grep -q "veldrane/values/T2: the payload 'many' is neither a number nor a JSON" "$tmp/host.out" ||
  fail "the bad payload was not named"
[ "$(grep -c "veldrane/values/T2: the payload" "$tmp/host.out")" = 1 ] ||
  fail "the second bad payload on a topic was named again"
grep -q "veldrane/values/T4: the payload 'x\\\\x01y'" "$tmp/host.out" ||
  fail "the control character in a bad payload was not escaped"

# The broker goes away and comes back: the runner says so once and takes later values.
stop_broker
within 5 grep -q "lost the broker" "$tmp/host.out" || fail "the lost broker was not reported"
grep -q "^<4>veldrane-host: MQTT: lost the broker" "$tmp/host.out" ||
  fail "the lost broker is not a warning"
sleep 1.5
restart_broker || fail "the broker did not restart"
pub -t veldrane/values/T3 -r -m 7.5
within 40 grep -q "reached again" "$tmp/host.out" || fail "the runner did not reconnect"
grep -q "^<5>veldrane-host: MQTT: the broker .* is reached again" "$tmp/host.out" ||
  fail "the broker's return is not a notice"
expect_shows 12 7.5 10
[ "$(grep -c "lost the broker" "$tmp/host.out")" = 1 ] || fail "the outage was reported twice"
kill -0 "$host" || fail "the runner died with the broker"

# A value out of the 4-digit meter's range fails the frame: the station's state says so.
pub -t veldrane/values/T5 -m 12000
state_is() { retained "veldrane/status/gw/road/$1" | grep -q "\"state\":\"$2\""; }
within 10 state_is K5 failing || fail "K5 is not failing: $(retained veldrane/status/gw/road/K5)"
retained veldrane/status/gw/road/K5 | grep -q '"failed":1,"value":12000' ||
  fail "K5's counts or value are wrong: $(retained veldrane/status/gw/road/K5)"
state_is K0 ok || fail "K0 is not ok: $(retained veldrane/status/gw/road/K0)"
[ "$(retained veldrane/status/gw)" = online ] || fail "the runner is not online"

# Killed: the broker gives the last will.
{ kill -KILL "$host" && wait "$host"; } 2>/dev/null || true
within 5 test "$(retained veldrane/status/gw)" = offline || fail "no last will after the kill"
echo "host_mqtt: values, retained values, bad payloads, broker restart, states and last will"
