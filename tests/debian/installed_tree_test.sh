#!/usr/bin/env bash
# The packages as an integrator gets them. veldrane depends on no Qt, in its control data and
# in every ELF file; unpacked anywhere (dpkg-deb -x), its programs find their driver and
# modules with no environment: version, cfg new/show, and a short run on a pseudo-terminal with
# the virtual meter of the same tree, which must see the frames. Its unit, manual pages,
# completion, maintainer scripts and logrotate file pass the checks that the source tree's pass.
# Usage: installed_tree_test.sh DEB_DIR
set -euo pipefail
debs=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldrane-deb.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; for f in "$tmp"/*.out; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; } >&2; done; exit 1; }

one_deb() {
  local found=("$debs"/"$1"_*.deb)
  [ -f "${found[0]}" ] || fail "no $1 package in $debs"
  echo "${found[0]}"
}
runtime=$(one_deb veldrane) window=$(one_deb veldrane-window) dev=$(one_deb veldrane-dev)

# What each package holds.
contents() { dpkg-deb -c "$1" | awk '{print $NF}' | sed 's|^\./|/|'; }
expect_in() {
  local deb=$1 pattern
  shift
  for pattern in "$@"; do
    contents "$deb" | grep -qE "^$pattern\$" || fail "$(basename "$deb") lacks $pattern"
  done
}
lib='/usr/lib/[a-z0-9_]+-linux-gnu[a-z0-9_]*/veldrane'
expect_in "$runtime" /usr/bin/veldrane-host /usr/bin/veldrane-meter /usr/bin/veldrane-cfg \
  "$lib/Veldrane.so" "$lib/TarkoSub.so" "$lib/libveldrane-fw.so" "$lib/host/TarkoDbm.so" \
  "$lib/host/TarkoRt.so" "$lib/host/TarkoEd.so" /etc/veldrane/ports/ \
  '(/usr)?/lib/systemd/system/veldrane-host@\.service' /usr/share/man/man7/veldrane\.7\.gz \
  /usr/share/bash-completion/completions/veldrane-cfg \
  /usr/share/doc/veldrane/examples/70-veldrane-ports\.rules /etc/logrotate\.d/veldrane
expect_in "$window" "$lib/VeldraneWindow.so" "$lib/host/TarkoTg.so"
expect_in "$dev" /usr/include/veldrane/veldrane/drv_table\.h '/usr/lib/[^/]+/pkgconfig/veldrane\.pc'
contents "$runtime" | grep -qE 'VeldraneWindow|TarkoTg' && fail "veldrane holds the window's modules"

# A headless gateway pulls in no Qt.
depends=$(dpkg-deb -f "$runtime" Depends)
grep -qi qt <<<"$depends" && fail "veldrane depends on Qt: $depends"
root=$tmp/root
dpkg-deb -x "$runtime" "$root"
while IFS= read -r -d '' f; do
  readelf -h "$f" >/dev/null 2>&1 || continue
  readelf -d "$f" | grep NEEDED | grep -qi qt && fail "$f needs Qt"
done < <(find "$root" -type f -print0)

# The unpacked tree runs as it is.
bin=$root/usr/bin
env -u LD_LIBRARY_PATH "$bin/veldrane-host" version >"$tmp/version.out" 2>&1 || fail "version failed"
grep -qE "^driver   $root/usr/lib/[^/]+/veldrane/Veldrane.so$" "$tmp/version.out" ||
  fail "the driver was not found in the unpacked tree"
"$bin/veldrane-cfg" new "$tmp/line1.cfg" >"$tmp/cfg.out" 2>&1 || fail "veldrane-cfg new failed"
printf 'P1\t0\t1\t1\tT1\tpump\nP2\t5\t2\t0\tT2\t\n' |
  "$bin/veldrane-cfg" import "$tmp/line1.cfg" --utf8 >>"$tmp/cfg.out" 2>&1 || fail "import failed"
"$bin/veldrane-cfg" show "$tmp/line1.cfg" >>"$tmp/cfg.out" 2>&1 || fail "veldrane-cfg show failed"
grep -q 'COM1, 9600, 8N1' "$tmp/cfg.out" && grep -q P2 "$tmp/cfg.out" || fail "show did not show the line"
mkdir "$tmp/ports"
"$bin/veldrane-meter" --pty --link "$tmp/ports/com1" --config "$tmp/line1.cfg" --plain \
  --seconds 15 >"$tmp/meter.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/ports/com1" ] && break; sleep 0.1; done
[ -e "$tmp/ports/com1" ] || fail "the meter did not link its pseudo-terminal"
VELDRANE_PORTS=$tmp/ports "$bin/veldrane-host" run "$tmp/line1.cfg" --simulate --seconds 4 \
  >"$tmp/host.out" 2>&1 || fail "veldrane-host run failed ($?)"
sleep 0.5
kill -INT "${pids[0]}" 2>/dev/null || true
wait "${pids[0]}" || true
grep -q 'Statistics:' "$tmp/host.out" || fail "no statistics from the run"
for station in P1 P2; do
  grep -q "station=.*$station" "$tmp/meter.out" || fail "the meter saw no frame for $station"
done
# Without the window package the installation says it has no window.
set +e
QT_QPA_PLATFORM=offscreen "$bin/veldrane-host" configure "$tmp/line1.cfg" >"$tmp/configure.out" 2>&1
status=$?
set -e
[ "$status" -eq 7 ] || fail "configure without the window package: status $status, not 7"

# The window's modules find the libraries of the runtime package beside them.
dpkg-deb -x "$window" "$root"
missing=$(ldd "$root"/usr/lib/*/veldrane/VeldraneWindow.so "$root"/usr/lib/*/veldrane/host/TarkoTg.so |
  grep 'not found' || true)
[ -z "$missing" ] || fail "the window's modules miss libraries: $missing"

unit=$(find "$root" -name 'veldrane-host@.service' | head -n 1)
"$here/service_unit_test.sh" "$unit" "$bin" "$root/usr/share/man"
"$here/../docs/man_pages_test.sh" "$bin" "$root/usr/share/man" \
  "$root/usr/share/bash-completion/completions/veldrane-host"
# The maintainer scripts as debhelper completed them.
dpkg-deb -e "$runtime" "$tmp/control"
"$here/maintainer_scripts_test.sh" "$tmp/control"
"$here/logrotate_test.sh" "$root/etc/logrotate.d/veldrane" "$bin"
echo "packages: contents, no Qt in veldrane, the unpacked tree runs a line"
