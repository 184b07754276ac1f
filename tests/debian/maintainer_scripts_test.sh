#!/usr/bin/env bash
# The package's maintainer scripts with the service: remove stops every line, an upgrade
# restarts the running ones on the new program, a fresh install starts none, purge takes the
# lines' enablement links and logs (and nothing else), and without systemd nothing is asked of
# it. The scripts run against stand-ins for systemctl, deb-systemd-invoke and adduser, with
# /run/systemd, /etc/systemd/system and /var/log replaced in a mount namespace of their own.
# Usage: maintainer_scripts_test.sh DIR
#   DIR holds veldrane.postinst, veldrane.prerm and veldrane.postrm (debian/), or postinst,
#   prerm and postrm (a built package's control files).
set -euo pipefail
dir=$(cd "$1" && pwd)
script_of() {
  local f
  for f in "$dir/veldrane.$1" "$dir/$1"; do
    [ -f "$f" ] && { echo "$f"; return; }
  done
  echo "FAIL: no $1 in $dir" >&2
  exit 1
}
for name in postinst prerm postrm; do
  sh -n "$(script_of "$name")" || { echo "FAIL: $name does not parse" >&2; exit 1; }
done
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
  echo "maintainer scripts: parsed; running them needs root and unshare, skipped"
  exit 0
fi
if [ -z "${VELDRANE_IN_NAMESPACE:-}" ]; then
  exec unshare --mount env VELDRANE_IN_NAMESPACE=1 "$0" "$@"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-maint.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/bin" "$tmp/units"
# Every stand-in notes its call; getent finds the user already made.
for tool in systemctl deb-systemd-invoke deb-systemd-helper adduser getent addgroup \
    dpkg-maintscript-helper; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$tool" "$tmp" >"$tmp/bin/$tool"
  chmod +x "$tmp/bin/$tool"
done
export PATH="$tmp/bin:$PATH"
mount -t tmpfs none /run/systemd 2>/dev/null || { mkdir -p /run/systemd && mount -t tmpfs none /run/systemd; }
mount --bind "$tmp/units" /etc/systemd/system
mount -t tmpfs none /var/log

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Runs SCRIPT with ARGS; the calls it made in $calls.
run() {
  local name=$1
  shift
  : >"$tmp/calls"
  sh -e "$(script_of "$name")" "$@" || fail "$name $* exited $?"
  calls=$(cat "$tmp/calls")
}
has() { grep -qxF -- "$1" <<<"$calls"; }
stop="deb-systemd-invoke stop veldrane-host@*.service"
restart="deb-systemd-invoke try-restart veldrane-host@*.service"

mkdir -p /run/systemd/system  # a system run by systemd
run prerm remove
has "$stop" || fail "prerm remove did not stop the lines:"$'\n'"$calls"
run prerm upgrade 1.0.1
has "$stop" && fail "prerm upgrade stopped the lines"
run postinst configure 1.0.0
has "$restart" || fail "postinst after an upgrade did not restart the lines:"$'\n'"$calls"
reload=$(grep -n "systemctl --system daemon-reload" <<<"$calls" | tail -n 1 | cut -d: -f1)
at=$(grep -nxF -- "$restart" <<<"$calls" | cut -d: -f1)
[ -n "$reload" ] && [ "$reload" -lt "$at" ] || fail "the lines restart before systemd reloads"
run postinst configure
has "$restart" && fail "a fresh install restarted lines"
has "adduser --quiet _veldrane dialout" || fail "the user was not put in dialout"

# Purge: the lines' links and logs go; others' links and the administrator's overrides stay.
mkdir -p /etc/systemd/system/multi-user.target.wants /etc/systemd/system/veldrane-host@line1.service.d
ln -s /lib/systemd/system/veldrane-host@.service \
  /etc/systemd/system/multi-user.target.wants/veldrane-host@line1.service
ln -s /lib/systemd/system/ssh.service /etc/systemd/system/multi-user.target.wants/ssh.service
touch /etc/systemd/system/veldrane-host@line1.service.d/override.conf
mkdir -p /var/log/veldrane && touch /var/log/veldrane/line1.log
run postrm remove
has "systemctl --system daemon-reload" || fail "systemd was not told the unit file went"
[ -L /etc/systemd/system/multi-user.target.wants/veldrane-host@line1.service ] ||
  fail "remove took the enablement link (a reinstall would not find it)"
run postrm purge
[ ! -e /etc/systemd/system/multi-user.target.wants/veldrane-host@line1.service ] &&
  [ ! -L /etc/systemd/system/multi-user.target.wants/veldrane-host@line1.service ] ||
  fail "purge left the line's enablement link"
[ -L /etc/systemd/system/multi-user.target.wants/ssh.service ] || fail "purge took another unit's link"
[ -f /etc/systemd/system/veldrane-host@line1.service.d/override.conf ] ||
  fail "purge took the administrator's override"
[ ! -e /var/log/veldrane ] || fail "purge left the logs"

rmdir /run/systemd/system  # no systemd: nothing asked of it
run prerm remove
has "$stop" && fail "prerm asked a system without systemd to stop the lines"
run postinst configure 1.0.0
has "$restart" && fail "postinst asked a system without systemd to restart the lines"

[ "$failures" = 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "maintainer scripts: remove stops the lines, an upgrade restarts them, purge cleans up"
