#!/usr/bin/env bash
# The bash completion of the three programs: commands first, the options of the command given,
# configuration files where a configuration is expected, the values an option takes.
# Usage: completion_test.sh COMPLETION_FILE
set -uo pipefail
script=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-completion.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/lines"
touch "$tmp/line1.cfg" "$tmp/line2.cfg" "$tmp/values.txt"
cd "$tmp"
# shellcheck source=/dev/null
source "$script"

# The completions offered for a command line (the cursor at its end), sorted, on one line.
offered() {
  local line=$1
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line COMP_POINT=${#line}
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+).*/\1/')
  COMPREPLY=()
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
while IFS='|' read -r line want; do
  [ -z "$line" ] && continue
  got=$(offered "$line")
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line': offered '$got', expected '$want'" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
veldrane-host |configure run version
veldrane-host r|run
veldrane-host run |line1.cfg line2.cfg lines
veldrane-host run line1.cfg --s|--seconds --simulate
veldrane-host configure x.cfg --|--driver --help --tags
veldrane-host run x.cfg --values v|values.txt
veldrane-host run x.cfg --mqtt |mqtt:// mqtts://
veldrane-host run x.cfg --modbus-m|--modbus-map
veldrane-cfg modbus-map line1.cfg l|line1.cfg line2.cfg lines
veldrane-host version |
veldrane-meter --parity |even none odd
veldrane-meter --config l|line1.cfg line2.cfg lines
veldrane-meter --da|--data-bits
veldrane-cfg |check export import modbus-map new port ports show
veldrane-cfg port line1.cfg --|--baud --com --data --help --parity --rts-cts --stop
veldrane-cfg new line1.cfg --com 2 --ba|--baud
veldrane-cfg port line1.cfg --baud 1|1200 19200
veldrane-cfg port line1.cfg --parity |even none odd
veldrane-cfg port line1.cfg --rts-cts |off on
veldrane-meter --pty --pty-group dialou|dialout
veldrane-cfg import line1.cfg --|--help --utf8 --wait
veldrane-cfg export line1.cfg --|--cp949 --help --utf8
veldrane-cfg show l|line1.cfg line2.cfg lines
veldrane-cfg ports |
CASES

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "bash completion: every case offered what it should"
