#!/bin/sh
# The Wine session of a test run: `start PREFIX` makes a fresh prefix and keeps a Wine server
# running for it (so that each test program starts in a fraction of a second); `stop PREFIX`
# ends that server and waits until it has gone.
set -eu
action=$1
prefix=$2
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # Nothing of the server or of Wine's services may hold the caller's output open (ctest
    # waits for its end).
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot --init </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
