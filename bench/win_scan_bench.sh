#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows window's scan against lumbra-cli.exe scan of the same image,
# both under wine, warm cache, the image mapped as the raw drive S:. The
# window is timed by the window driver from its click on "Disk Scan" to the
# scan's closing message, with every row in lv1; the command line from its
# start to its end, output to nowhere. Reports medians and the ratio, and
# checks the target: the window at most 3x the command line.
#
#   bench/win_scan_bench.sh [IMAGE] [RUNS]
#
# Uses build-win (the build of scripts/test-windows), building what is missing.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$LUMBRA_ROOT"
image="$(realpath "${1:-$HOME/.cache/lumbra-bench/mft300k.img}")"
runs="${2:-5}"
[ -f "$image" ] || { echo "no image $image (bench/make_bench_image.sh makes it)"; exit 1; }
ensure_packages cmake ninja-build ccache g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    wine64 wine xvfb xauth fonts-wine
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/lumbra-ccache}" CCACHE_BASEDIR="$LUMBRA_ROOT"
toolchain=()
[ -f build-win/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$LUMBRA_ROOT/cmake/mingw-w64-x86_64.cmake")
cmake -S . -B build-win -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DLUMBRA_BUILD_APP=OFF >/dev/null
cmake --build build-win -j 2 --target lumbra lumbra-cli lumbra_window_driver >/dev/null

WORK="$(mktemp -d "${TMPDIR:-/tmp}/lumbra-winbench.XXXXXX")"
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export TZ=UTC LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY
xvfb_pid=""
cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
timeout 300 wineboot -i >/dev/null 2>&1
timeout 120 wineserver -w
# Mapped before the server that lists the drives starts again.
mkdir -p "$WORK/s" "$WORK/out"
ln -sfn "$WORK/s" "$WINEPREFIX/dosdevices/s:"
ln -sfn "$image" "$WINEPREFIX/dosdevices/s::"
timeout 30 wineserver -p
export DISPLAY=":$((90 + RANDOM % 400))"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 2

cat "$image" >/dev/null  # warm the cache
cli="$LUMBRA_ROOT/build-win/cli/lumbra-cli.exe"
driver="$LUMBRA_ROOT/build-win/tests/windows/lumbra_window_driver.exe"
app="Z:${LUMBRA_ROOT//\//\\}\\build-win\\app\\win32\\lumbra.exe"
for i in $(seq "$runs"); do
    # What starting a program under wine costs, apart from the scan.
    s=$(date +%s.%N); timeout 60 wine "$cli" help >/dev/null 2>&1 || true; e=$(date +%s.%N)
    echo "$s $e" | awk '{printf "%.3f\n", $2 - $1}' >>"$WORK/start"
    s=$(date +%s.%N); timeout 300 wine "$cli" scan S: >/dev/null 2>&1; e=$(date +%s.%N)
    echo "$s $e" | awk '{printf "%.3f\n", $2 - $1}' >>"$WORK/cli"
    (cd "$WORK/out" && timeout 600 wine "$driver" "$app" --time S: 2>/dev/null) | tr -d '\r' |
        awk -F'\t' '$1 == "scan" {printf "%.3f %s\n", $2 / 1000, $3}' >>"$WORK/gui"
done

python3 - "$WORK" "$runs" <<'PY'
import statistics, sys
work, runs = sys.argv[1], int(sys.argv[2])
read = lambda name: [line.split() for line in open(f"{work}/{name}") if line.strip()]
start = statistics.median(float(x[0]) for x in read("start"))
cli = statistics.median(float(x[0]) for x in read("cli"))
gui_runs = read("gui")
if not gui_runs:
    sys.exit("the window's scan was not timed")
gui = statistics.median(float(x[0]) for x in gui_runs)
print(f"wine program start   {start:8.3f} s (lumbra-cli.exe help, median of {runs})")
print(f"lumbra-cli.exe scan  {cli:8.3f} s (start to end, median of {runs})")
print(f"window scan          {gui:8.3f} s (click to closing message)   rows {gui_runs[0][1]}   ratio {gui / cli:.2f}x")
print("target met" if gui / cli <= 3 else "TARGET MISSED")
PY
