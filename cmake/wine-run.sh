#!/bin/sh
# Runs a Windows program under Wine in the build's own prefix, headless and quiet:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# The prefix is made by the test fixture wine_session (cmake/windows.cmake), which also keeps a
# Wine server running for the whole test run so that each program starts in a fraction of a
# second.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
