#!/usr/bin/env bash
# Makes the README's pictures of the configuration window: the station page, the port page and
# the station dialog, drawn on a virtual X display (Xvfb) from examples/demo.cfg.
# Usage: docs/screenshots/make-screenshots.sh [BUILD-DIR]   (default build/debug)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/debug}
shots="$build/bin/veldrane-window-shots"
[ -x "$shots" ] || { echo "build first: $shots is missing" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp examples/demo.cfg "$tmp/demo.cfg"
# The window's own font, at the screen resolution most desktops have.
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb "$shots" "$tmp/demo.cfg" docs/screenshots
ls -l docs/screenshots/*.png
