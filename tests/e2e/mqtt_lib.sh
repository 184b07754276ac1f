# What the MQTT tests share, sourced by them. A mosquitto broker of the test's own: a
# configuration file that the test writes, a free loopback port, stopped by its process id.
# Never the system's broker.
#   mqtt_test_setup NAME                    $tmp with ports/, $pids; all ended on exit
#   line_with_meter CONFIG SECONDS <LINES   a configuration of the station lines, and
#                                           veldrane-meter on its line as COM1 ($tmp/meter.out)
#   start_broker DIR [EXTRA_CONFIG_LINES]   sets broker_port and broker_pid
#   restart_broker                          the same broker again on the same port
#   stop_broker
#   within SECONDS COMMAND...               waits for COMMAND to succeed
#   expect_shows STATION VALUE SECONDS      waits for the meter to show VALUE, else fail (the
#                                           test's own)

broker_dir= broker_port= broker_pid= broker_extra=
# Debian puts the broker in /usr/sbin, which is not on every user's PATH.
broker_bin=$(command -v mosquitto || echo /usr/sbin/mosquitto)

# The broker answers a publish on its port (bounded: 5 s).
broker_ready() {
  local i
  for i in $(seq 50); do
    kill -0 "$broker_pid" 2>/dev/null || return 1
    mosquitto_pub -h 127.0.0.1 -p "$broker_port" "${broker_client_args[@]}" -t probe -n -q 1 \
      >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

launch_broker() {
  {
    echo "listener $broker_port 127.0.0.1"
    echo "persistence false"
    echo "user $(id -un)"  # as root it would switch to a user that cannot read the test's files
    printf '%s\n' "$broker_extra"
  } >"$broker_dir/broker.conf"
  "$broker_bin" -c "$broker_dir/broker.conf" >>"$broker_dir/broker.log" 2>&1 &
  broker_pid=$!
}

start_broker() {
  broker_dir=$1 broker_extra=${2:-allow_anonymous true}
  local try
  for try in $(seq 10); do
    broker_port=$((20000 + RANDOM % 40000))
    launch_broker
    broker_ready && return 0
    stop_broker  # the port was taken: another one
  done
  echo "FAIL: no broker could be started" >&2
  cat "$broker_dir/broker.log" >&2
  return 1
}

# The same port again once the old broker has gone (bounded: 5 s of tries).
restart_broker() {
  stop_broker
  local try
  for try in $(seq 10); do
    launch_broker
    broker_ready && return 0
    stop_broker
    sleep 0.5
  done
  echo "FAIL: the broker did not come back on port $broker_port" >&2
  return 1
}

stop_broker() {
  [ -n "$broker_pid" ] || return 0
  kill "$broker_pid" 2>/dev/null || true
  wait "$broker_pid" 2>/dev/null || true
  broker_pid=
}

broker_client_args=()

mqtt_test_setup() {
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-$1.XXXXXX")
  pids=()
  trap 'kill "${pids[@]}" 2>/dev/null || true; stop_broker; rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/ports"
}

line_with_meter() {
  "$bin/veldrane-cfg" new "$1" >/dev/null
  "$bin/veldrane-cfg" import "$1" >/dev/null
  "$bin/veldrane-meter" --pty --link "$tmp/ports/com1" --config "$1" --plain --seconds "$2" \
    >"$tmp/meter.out" 2>&1 &
  pids+=($!)
  local i
  for i in $(seq 50); do [ -e "$tmp/ports/com1" ] && return 0; sleep 0.1; done
  return 1
}

within() {
  local seconds=$1 i
  shift
  for i in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The meter's latest reading of a station is VALUE.
shows() {
  local got
  got=$(grep -E "station=$1 kind=[0-9] shows=" "$tmp/meter.out" | tail -n 1 |
        sed -E 's/.* shows=([^ ]*).*/\1/')
  [ "$got" = "$2" ]
}

expect_shows() {
  within "$3" shows "$1" "$2" || fail "station $1 does not show '$2'"
}
