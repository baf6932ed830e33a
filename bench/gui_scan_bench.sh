#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A scan in the shown window against lumbra-cli scan on the same image, warm
# cache, under a virtual X display. Reports medians, the ratio, the list's
# memory and the longest repaint gap, and checks them against the targets:
# at most 3x the command line, under 250 MiB for the list, no gap over 100 ms.
#
#   bench/gui_scan_bench.sh [IMAGE] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
image="${1:-$HOME/.cache/lumbra-bench/mft300k.img}"
runs="${2:-3}"
build="$root/${LUMBRA_BUILD_DIR:-build-bench-gui}"
[ -f "$image" ] || { echo "no image $image (bench/make_bench_image.sh makes it)"; exit 1; }
command -v xvfb-run >/dev/null || { echo "missing xvfb-run (apt-get install xvfb xauth)"; exit 1; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target lumbra-cli gui_scan_bench >/dev/null
cli="$build/cli/lumbra-cli"
bench="$build/tests/gui/gui_scan_bench"

cat "$image" >/dev/null  # warm the cache
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for i in $(seq "$runs"); do
    s=$(date +%s.%N); "$cli" scan "$image" >/dev/null; e=$(date +%s.%N)
    echo "$s $e" | awk '{printf "%.3f\n", $2 - $1}' >>"$out/cli"
    LUMBRA_DRIVES="S=$image" timeout 300 xvfb-run -a -s "-screen 0 1280x800x24" "$bench" >"$out/gui.$i"
done

python3 - "$out" "$runs" <<'PY'
import sys, statistics
out, runs = sys.argv[1], int(sys.argv[2])
cli = [float(x) for x in open(f"{out}/cli")]
gui = [dict(l.split() for l in open(f"{out}/gui.{i}")) for i in range(1, runs + 1)]
med = lambda k: statistics.median(float(g[k]) for g in gui)
worst = lambda k: max(float(g[k]) for g in gui)
c, g = statistics.median(cli), med("seconds")
print(f"lumbra-cli scan      {c:8.3f} s (median of {runs})")
print(f"window scan          {g:8.3f} s   rows {gui[0]['rows']}   ratio {g / c:.2f}x")
print(f"list memory          {med('list_mib'):8.1f} MiB (resident after - before; peak {worst('peak_mib'):.1f} MiB)")
print(f"longest paint gap    {worst('max_paint_gap_ms'):8.0f} ms   ({med('paints'):.0f} paints)")
print(f"longest UI-tick gap  {worst('max_tick_gap_ms'):8.0f} ms   (5 ms timer on the UI thread)")
ok = g / c <= 3 and worst("list_mib") < 250 and worst("max_paint_gap_ms") <= 100
print("targets met" if ok else "TARGETS MISSED")
PY
