#!/usr/bin/env bash
# The manual pages render without a warning at 80 columns, and every option that a program's
# --help names is in its page and in the bash completion.
# Usage: man_pages_test.sh BIN_DIR MAN_DIR COMPLETION_FILE
#   MAN_DIR holds veldrane-host.1 ... veldrane.7, plain or gzipped (a source tree or a package).
set -euo pipefail
bin=$1 man=$2 completion=$3
export LC_ALL=C.UTF-8 MANWIDTH=80
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

page_file() {
  local f
  for f in "$man/$1" "$man/$1.gz" "$man/man${1##*.}/$1" "$man/man${1##*.}/$1.gz"; do
    [ -f "$f" ] && { echo "$f"; return; }
  done
}
# The page's source with roff's escaped hyphens as plain ones.
page_text() {
  case $1 in
    *.gz) zcat "$1" ;;
    *) cat "$1" ;;
  esac | sed 's/\\-/-/g'
}

for page in veldrane-host.1 veldrane-meter.1 veldrane-cfg.1 veldrane.7; do
  file=$(page_file "$page")
  if [ -z "$file" ]; then
    fail "$page: not found in $man"
    continue
  fi
  warnings=$(man --warnings -l "$file" 2>&1 >/dev/null) || fail "$page: man failed"
  [ -z "$warnings" ] || fail "$page: warnings from man at 80 columns:"$'\n'"$warnings"
done

for program in veldrane-host veldrane-meter veldrane-cfg; do
  file=$(page_file "$program.1")
  [ -n "$file" ] || continue
  help=$("$bin/$program" --help) || { fail "$program --help failed"; continue; }
  text=$(page_text "$file")
  # Options open a line of the help ("  --port DEVICE", "  -h, --help") or stand in brackets
  # after a command ("new FILE [--force]", "[--utf8 | --cp949]").
  options=$(grep -oE -- '^ +-[a-z], --[a-z0-9-]+|^ +--[a-z][a-z0-9-]*|(\[|\| )--[a-z][a-z0-9-]*' \
    <<<"$help" | grep -oE -- '--?[a-z][a-z0-9-]*' | sort -u)
  [ -n "$options" ] || fail "$program --help names no option"
  for option in $options; do
    grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$text" ||
      fail "$program: option $option (in '$program --help') is missing from its manual page $program.1"
    grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" "$completion" ||
      fail "$program: option $option (in '$program --help') is missing from the bash completion"
  done
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "manual pages: rendered without warnings; every option of --help documented and completed"
