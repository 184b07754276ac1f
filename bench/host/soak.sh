#!/usr/bin/env bash
# The soak: one runner for MINUTES minutes driving three lines: one on a pseudo-terminal, one on a
# device server's raw TCP port, one on RFC 2217 through a real ser2net, each with a virtual meter
# behind it. Values come from a FIFO and from a real mosquitto (through a relay that can slow the
# uplink), every tag moving every second. Every 30 s one fault at random, undone before the next:
#   meter    a meter killed, back after 10 s
#   ser2net  ser2net killed, back after 3 s
#   broker   the broker restarted
#   flip     line 2's entry moved from its device server to a spare meter on a pseudo-terminal
#            (its device server killed meanwhile), and back after 10 s
#   slow     the uplink to the broker slowed to about 2 KB/s for 20 s
# At the end every meter must show the last value published for its station's tag, no meter may
# have decoded a frame for another line's station, and the runner must stop with status 0. The
# runner's memory, descriptors and threads are reported at the start and at the end.
# Everything listens on loopback ports of its own and is stopped by process id.
# Usage: soak.sh BIN_DIR BENCH_DIR MINUTES
set -euo pipefail
bin=$(cd "$1" && pwd)
bench=$(cd "$2" && pwd)
minutes=$3
here=$(cd "$(dirname "$0")" && pwd)
e2e=$here/../../tests/e2e
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-soak.XXXXXX")
pids=()
ser2net_pid= link_pid= publisher_pid= runner_pid=
declare -A meter_pid=()
cleanup() {
  exec 3>&- 2>/dev/null || true
  for p in "$publisher_pid" "$runner_pid" "$link_pid" "$ser2net_pid" "${meter_pid[@]}" "${pids[@]}"; do
    [ -n "$p" ] && kill -KILL "$p" 2>/dev/null || true
  done
  stop_broker
  [ -n "${SOAK_KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
source "$e2e/device_server_lib.sh"
source "$e2e/mqtt_lib.sh"
ser2net_bin=$(command -v ser2net || echo /usr/sbin/ser2net)
ports=$tmp/ports
mkdir -p "$ports"
export VELDRANE_PORTS=$ports
say() { echo "[$(date +%T)] $*"; }

# Line n (1 to 3) on COMn: four stations of kind 1, numbered 10n+1 to 10n+4 so that a frame on
# the wrong line shows; the first two take their tags from the FIFO, the others from MQTT.
fifo_tags=() mqtt_tags=()
for n in 1 2 3; do
  "$bin/veldrane-cfg" new "$tmp/line$n.cfg" >/dev/null
  # The port index of an empty configuration (0 for COM1) is its 20th byte.
  printf "\\x0$((n - 1))" | dd of="$tmp/line$n.cfg" bs=1 seek=19 conv=notrunc status=none
  fifo_tags+=("T${n}1" "T${n}2")
  mqtt_tags+=("T${n}3" "T${n}4")
  for k in 1 2 3 4; do
    printf 'S%s\t1\t%s\t0\tT%s\t\n' "$n$k" "$((10 * n + k))" "$n$k"
  done | "$bin/veldrane-cfg" import "$tmp/line$n.cfg" --utf8 >/dev/null
  "$bin/veldrane-cfg" show "$tmp/line$n.cfg" | grep -q "COM$n," || fail "line$n.cfg is not on COM$n"
done

# The meters. Line 1's and the spare on pseudo-terminals linked as port-map entries; line 2's a
# device server; line 3's a pseudo-terminal behind ser2net. Each appends what it decodes to its
# own file.
port2=$(free_port) && raw3=$(free_port) || fail "no free loopback port"
start_meter() {
  local name=$1 config=$2
  shift 2
  "$bin/veldrane-meter" "$@" --config "$config" --plain >>"$tmp/$name.out" 2>&1 &
  meter_pid[$name]=$!
}
start_line1() {
  rm -f "$ports/com1"
  start_meter line1 "$tmp/line1.cfg" --pty --link "$ports/com1"
  wait_tenths 50 test -e "$ports/com1" || fail "line 1's meter did not link its terminal"
}
start_line2() {
  start_meter line2 "$tmp/line2.cfg" --listen "tcp://127.0.0.1:$port2"
  wait_tenths 50 listening "$port2" || fail "line 2's meter did not listen"
}
start_spare() {
  rm -f "$tmp/spare.pty"
  start_meter spare "$tmp/line2.cfg" --pty --link "$tmp/spare.pty"
  wait_tenths 50 test -e "$tmp/spare.pty" || fail "the spare meter did not link its terminal"
}
stop_meter() {
  kill -KILL "${meter_pid[$1]}" 2>/dev/null || true
  wait "${meter_pid[$1]}" 2>/dev/null || true
  meter_pid[$1]=
}
start_ser2net() {
  cat >"$tmp/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &line3
  accepter: telnet(rfc2217),tcp,127.0.0.1,$raw3
  connector: serialdev,$(readlink "$tmp/line3.pty"),9600n81,local
YAML
  "$ser2net_bin" -n -u -c "$tmp/ser2net.yaml" >>"$tmp/ser2net.out" 2>&1 &
  ser2net_pid=$!
  wait_tenths 50 listening "$raw3" || fail "ser2net did not listen on $raw3"
}
stop_ser2net() {
  kill -KILL "$ser2net_pid" 2>/dev/null || true
  wait "$ser2net_pid" 2>/dev/null || true
  ser2net_pid=
}

start_line1
start_line2
start_meter line3 "$tmp/line3.cfg" --pty --link "$tmp/line3.pty"
wait_tenths 50 test -e "$tmp/line3.pty" || fail "line 3's meter did not link its terminal"
start_ser2net
ln -sfn "tcp://127.0.0.1:$port2" "$ports/com2"
ln -sfn "rfc2217://127.0.0.1:$raw3" "$ports/com3"

start_broker "$tmp" || exit 1
"$bench/slow_link" "$broker_port" >"$tmp/link.port" 2>"$tmp/link.out" &
link_pid=$!
wait_tenths 50 test -s "$tmp/link.port" || fail "the relay did not start"
uplink=$(head -n 1 "$tmp/link.port")

# The publisher: every second a new value for every tag, the FIFO's written on one descriptor
# held open for the whole run, MQTT's retained. What was published is appended to a file.
mkfifo "$tmp/values"
exec 3<>"$tmp/values"
publish() {
  local round=0 tag value
  while :; do
    round=$((round + 1))
    for tag in "${fifo_tags[@]}"; do
      value=$(((RANDOM % 9000) + 1))
      echo "$tag $value" >&3 && echo "$tag $value" >>"$tmp/published"
    done
    for tag in "${mqtt_tags[@]}"; do
      value=$(((RANDOM % 9000) + 1))
      mosquitto_pub -h 127.0.0.1 -p "$broker_port" -t "veldrane/values/$tag" -r -q 1 \
        -m "$value" 2>/dev/null && echo "$tag $value" >>"$tmp/published"
    done
    sleep 1
  done
}
publish 2>>"$tmp/publisher.out" &
publisher_pid=$!

"$bin/veldrane-host" run "$tmp/line1.cfg" "$tmp/line2.cfg" "$tmp/line3.cfg" \
  --values "$tmp/values" --mqtt "mqtt://127.0.0.1:$uplink" --mqtt-name soak --plain \
  >"$tmp/runner.out" 2>&1 &
runner_pid=$!

resources() {
  local rss threads fds
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$runner_pid/status")
  threads=$(awk '/^Threads/ {print $2}' "/proc/$runner_pid/status")
  fds=$(ls "/proc/$runner_pid/fd" | wc -l)
  echo "rss=${rss}kB fds=$fds threads=$threads"
}

sleep 10
kill -0 "$runner_pid" 2>/dev/null || fail "the runner ended at the start"
at_start=$(resources)
say "soak for $minutes min; runner at the start: $at_start"

# One fault every 30 s, each kind once in every five in a shuffled order; each is undone
# within 20 s.
declare -A faults=()
order=()
began=$SECONDS
for ((at = 30; at + 25 <= minutes * 60; at += 30)); do
  while [ $((SECONDS - began)) -lt "$at" ]; do sleep 1; done
  [ ${#order[@]} -gt 0 ] || mapfile -t order < <(printf '%s\n' meter ser2net broker flip slow | shuf)
  fault=${order[0]}
  order=("${order[@]:1}")
  faults[$fault]=$((${faults[$fault]:-0} + 1))
  say "fault: $fault"
  case $fault in
    meter)
      if [ $((RANDOM % 2)) -eq 0 ]; then
        stop_meter line1; sleep 10; start_line1
      else
        stop_meter line2; sleep 10; start_line2
      fi
      ;;
    ser2net) stop_ser2net; sleep 3; start_ser2net ;;
    broker) restart_broker || fail "the broker did not come back" ;;
    flip)
      start_spare
      ln -sfn "$(readlink "$tmp/spare.pty")" "$ports/com2"
      stop_meter line2
      sleep 10
      start_line2
      ln -sfn "tcp://127.0.0.1:$port2" "$ports/com2"
      stop_meter spare
      ;;
    slow) kill -USR1 "$link_pid"; sleep 20; kill -USR2 "$link_pid" ;;
  esac
  kill -0 "$runner_pid" 2>/dev/null || fail "the runner ended during the fault $fault"
done
while [ $((SECONDS - began)) -lt $((minutes * 60)) ]; do sleep 1; done

# The last values go out once more after the publisher stops, then every meter must show them.
kill "$publisher_pid" 2>/dev/null || true
wait "$publisher_pid" 2>/dev/null || true
publisher_pid=
at_end=$(resources)
declare -A last=()
while read -r tag value; do last[$tag]=$value; done <"$tmp/published"
shows() {  # the value station $2 last showed on meter $1, or nothing
  grep -a "station=$2 kind=1 shows=" "$tmp/$1.out" | tail -n 1 | sed -E 's/.* shows=([^ ]*).*/\1/'
}
all_shown() {
  local n k
  for n in 1 2 3; do
    for k in 1 2 3 4; do
      [ "$(shows "line$n" "$n$k")" = "${last[T$n$k]}" ] || return 1
    done
  done
}
wait_tenths 300 all_shown || {
  for n in 1 2 3; do
    for k in 1 2 3 4; do
      echo "station $n$k: shows '$(shows "line$n" "$n$k")', last published '${last[T$n$k]}'" >&2
    done
  done
  fail "a meter does not show the last value of its tag"
}

# No meter decoded a frame for another line's station (the spare stands in for line 2).
for name in line1 line2 line3 spare; do
  [ -f "$tmp/$name.out" ] || continue
  n=${name#line}
  [ "$name" = spare ] && n=2
  wrong=$(grep -aoE "station=[0-9]+ " "$tmp/$name.out" | grep -vcE "station=$n[1-4] " || true)
  [ "$wrong" -eq 0 ] || fail "$name's meter decoded $wrong frames for another line's stations"
done

kill -TERM "$runner_pid"
status=0
wait "$runner_pid" || status=$?
runner_pid=
[ "$status" -eq 0 ] || fail "the runner ended with status $status"
frames=$(cat "$tmp"/line*.out "$tmp"/spare.out 2>/dev/null | grep -ac "station=" || true)
summary=""
for f in "${!faults[@]}"; do summary+="$f=${faults[$f]} "; done
say "soak passed: $minutes min, $frames frames decoded, faults: ${summary:-none}"
say "runner at the start: $at_start"
say "runner at the end:   $at_end"
