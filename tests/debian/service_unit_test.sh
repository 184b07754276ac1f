#!/usr/bin/env bash
# The service unit as systemd reads it: `systemd-analyze verify` accepts an instance without a
# word (unknown keys, bad values, a missing program or manual page all print one), and its
# exposure by `systemd-analyze security` stays low. No running systemd is needed.
# Usage: service_unit_test.sh UNIT_FILE BIN_DIR MAN_DIR
#   The unit's /usr/bin/veldrane-host is pointed at BIN_DIR; MAN_DIR holds the pages, plain or
#   gzipped, flat or in man1/ and man7/.
set -euo pipefail
unit=$1 bin=$(cd "$2" && pwd) man=$3
command -v systemd-analyze >/dev/null || { echo "FAIL: systemd-analyze missing (Debian: systemd)" >&2; exit 1; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-unit.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

mkdir -p "$tmp/units" "$tmp/man/man1" "$tmp/man/man7"
sed "s|/usr/bin/veldrane-host|$bin/veldrane-host|g" "$unit" >"$tmp/units/veldrane-host@.service"
for page in man1/veldrane-host.1 man7/veldrane.7; do
  for f in "$man/${page#*/}" "$man/${page#*/}.gz" "$man/$page" "$man/$page.gz"; do
    [ -f "$f" ] && cp "$f" "$tmp/man/${page%/*}/"
  done
done

said=$(cd "$tmp/units" && MANPATH="$tmp/man" systemd-analyze verify ./veldrane-host@line1.service 2>&1) ||
  { echo "FAIL: systemd-analyze verify refused the unit:"$'\n'"$said" >&2; exit 1; }
[ -z "$said" ] || { echo "FAIL: systemd-analyze verify had something to say:"$'\n'"$said" >&2; exit 1; }

# The overall exposure, 0.0 (locked down) to 10.0 (unprotected); 4 and less is "OK".
report=$(cd "$tmp/units" && systemd-analyze security --offline=true ./veldrane-host@line1.service 2>&1 || true)
exposure=$(grep -oE 'Overall exposure level for [^:]*: [0-9.]+' <<<"$report" | grep -oE '[0-9.]+$' || true)
[ -n "$exposure" ] || { echo "FAIL: no exposure level in:"$'\n'"$report" >&2; exit 1; }
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' ||
  { echo "FAIL: exposure $exposure above 4.0:"$'\n'"$report" >&2; exit 1; }
echo "service unit: verified; exposure $exposure"
