#!/usr/bin/env bash
# The example udev rule: `udevadm verify` where the installed udev has it, and always a check
# of its syntax (KEY OP "VALUE" pairs of known keys, matches and assignments where each belongs)
# and of what it is for: a match on vendor, product and serial number that links
# veldrane/comN, N from 1 to 36.
# Usage: udev_rule_test.sh RULE_FILE
set -euo pipefail
rule=$1
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule"
fi

failures=0
fail() { echo "FAIL: $rule:$number: $*" >&2; failures=$((failures + 1)); }
match_keys='ACTION|DEVPATH|KERNEL|KERNELS|NAME|SYMLINK|SUBSYSTEM|SUBSYSTEMS|DRIVER|DRIVERS|TAG|TAGS|TEST|PROGRAM|RESULT|CONST|ATTR|ATTRS|SYSCTL|ENV'
assign_keys='NAME|SYMLINK|OWNER|GROUP|MODE|TAG|ENV|ATTR|SYSCTL|RUN|IMPORT|LABEL|GOTO|OPTIONS|SECLABEL|WAIT_FOR'
links=0
number=0
while IFS= read -r line; do
  number=$((number + 1))
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  matches=0 assigns=0 rest=$line
  declare -A seen=()
  while [ -n "$rest" ]; do
    if [[ $rest =~ ^[[:space:]]*([A-Z_]+)(\{[^}]+\})?[[:space:]]*(==|!=|\+=|-=|:=|=)[[:space:]]*\"([^\"]*)\"[[:space:]]*(,|$)(.*)$ ]]; then
      key=${BASH_REMATCH[1]} attr=${BASH_REMATCH[2]} op=${BASH_REMATCH[3]} value=${BASH_REMATCH[4]}
      rest=${BASH_REMATCH[6]}
      [ "${BASH_REMATCH[5]}" = "" ] && [ -n "$rest" ] && { fail "no comma before '$rest'"; break; }
      case $op in
        ==|!=) [[ $key =~ ^($match_keys)$ ]] || fail "$key cannot be matched"; matches=$((matches + 1)) ;;
        *) [[ $key =~ ^($assign_keys)$ ]] || fail "$key cannot be assigned"; assigns=$((assigns + 1)) ;;
      esac
      [[ $key =~ ^(ATTR|ATTRS|ENV|RUN|IMPORT|SYSCTL)$ ]] && [ -z "$attr" ] && fail "$key needs {name}"
      seen[$key$attr]=$value
      if [ "$key" = SYMLINK ]; then
        [[ $value =~ ^veldrane/com([1-9][0-9]?)$ ]] && [ "${BASH_REMATCH[1]}" -le 36 ] ||
          fail "SYMLINK '$value' is not veldrane/com1 to veldrane/com36"
        links=$((links + 1))
      fi
    else
      fail "not a KEY OP \"VALUE\" pair: '$rest'"
      break
    fi
  done
  [ "$matches" -gt 0 ] && [ "$assigns" -gt 0 ] || fail "a rule needs a match and an assignment"
  for key in 'SUBSYSTEM' 'ATTRS{idVendor}' 'ATTRS{idProduct}' 'ATTRS{serial}'; do
    [ -n "${seen[$key]:-}" ] || fail "no match on $key"
  done
  unset seen
done <"$rule"
[ "$links" -gt 0 ] || { number=0; fail "no rule links veldrane/comN"; }
[ "$failures" -eq 0 ] || exit 1
echo "udev rule: $links link(s), syntax checked"
