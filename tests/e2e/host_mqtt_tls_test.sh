#!/usr/bin/env bash
# veldrane-host on a broker that takes only TLS and a password: with the CA file and the
# credentials file a published value reaches the meter; with a wrong password the runner says
# that the broker refused it, and keeps driving the meters.
# Usage: host_mqtt_tls_test.sh BIN_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=mqtt_lib.sh
. "$here/mqtt_lib.sh"
mqtt_test_setup mqtts

fail() {
  echo "FAIL: $*" >&2
  for f in meter.out host.out refused.out broker.log; do
    echo "--- $f" >&2; cat "$tmp/$f" >&2 || true
  done
  exit 1
}

# A CA of the test's own and the broker's certificate for 127.0.0.1, signed by it.
cd "$tmp"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=veldrane test CA" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server.key \
  -out server.csr 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >san.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile san.ext -out server.pem 2>/dev/null
mosquitto_passwd -b -c passwords meter-feed 's3cret:with colon' 2>/dev/null
chmod 600 passwords
printf 'meter-feed\ns3cret:with colon\n' >auth
printf 'meter-feed\nwrong\n' >wrong-auth
chmod 600 auth wrong-auth
cd - >/dev/null

broker_client_args=(--cafile "$tmp/ca.pem" -u meter-feed -P 's3cret:with colon')
start_broker "$tmp" "allow_anonymous false
password_file $tmp/passwords
cafile $tmp/ca.pem
certfile $tmp/server.pem
keyfile $tmp/server.key"

printf 'K1\t1\t2\t2\tT1\t\n' | line_with_meter "$tmp/line.cfg" 40 ||
  fail "the meter did not link its pseudo-terminal"

url="mqtts://127.0.0.1:$broker_port"
VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 2 \
  --mqtt "$url" --mqtt-ca "$tmp/ca.pem" --mqtt-auth "$tmp/wrong-auth" >"$tmp/refused.out" 2>&1 ||
  fail "the runner failed on a refused connection"
grep -qi "cannot reach the broker $url: the broker refused the connection (.*not authori[sz]ed)" \
  "$tmp/refused.out" || fail "the refusal was not reported"

pub() { mosquitto_pub -h 127.0.0.1 -p "$broker_port" "${broker_client_args[@]}" -q 1 "$@"; }
pub -t veldrane/values/T1 -r -m 42.5
VELDRANE_PORTS="$tmp/ports" "$bin/veldrane-host" run "$tmp/line.cfg" --plain --seconds 30 \
  --mqtt "$url" --mqtt-ca "$tmp/ca.pem" --mqtt-auth "$tmp/auth" >"$tmp/host.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q "station=2 kind=1 shows=42.50" "$tmp/meter.out" && break
  sleep 0.1
done
grep -q "station=2 kind=1 shows=42.50" "$tmp/meter.out" || fail "the value did not come over TLS"
echo "host_mqtt_tls: TLS and a password file; a refused password is named"
