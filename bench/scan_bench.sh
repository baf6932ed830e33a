#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times, side by side on each image with a warm cache: lumbra-cli scan (full
# output to /dev/null), ntfs-3g's ntfsundelete -s, The Sleuth Kit's fls -rd,
# and the floor, reading the MFT's bytes alone with dd (4 MiB reads). Reports
# medians, the ratios to lumbra-cli, lumbra-cli's ratio to the floor (the
# goal: at most 1.5) and its peak memory.
#
#   bench/scan_bench.sh [IMAGE...]     RUNS=5 FLS_RUNS=1 (0: no fls)
# Default images: the 300k-record bench image and a 50k-record one
# (LUMBRA_BENCH_FILES=50000 bench/make_bench_image.sh ~/.cache/lumbra-bench/mft50k.img).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -eq 0 ]; then
    set -- "$HOME/.cache/lumbra-bench/mft300k.img" "$HOME/.cache/lumbra-bench/mft50k.img"
fi
runs="${RUNS:-5}"
source "$root/bench/lib.sh"
cli="$(bench_cli)"
for tool in ntfsundelete fls hyperfine /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install ntfs-3g sleuthkit hyperfine time)"; exit 1; }
done

for image in "$@"; do
echo "== $image"
# The MFT's extents, as the engine locates them, for the raw-read floor.
dd_cmd=""
while read -r _ _ offset length _; do
    dd_cmd+="dd if='$image' of=/dev/null bs=4M iflag=skip_bytes,count_bytes skip=$offset count=$length status=none; "
done < <("$cli" info "$image" | grep '^MFT extent:')
echo "$("$cli" info "$image" | grep -E '^(Records|MFT size):')"
echo "rows: $("$cli" scan "$image" | wc -l)"

cat "$image" >/dev/null  # warm the cache
out="$(mktemp -d)"
hyperfine --warmup 1 --runs "$runs" --export-json "$out/fast.json" --style basic \
    -n "dd MFT bytes" "$dd_cmd" \
    -n "lumbra-cli scan" "$cli scan '$image' >/dev/null" \
    -n "ntfsundelete -s" "ntfsundelete -f -s '$image' >/dev/null" >/dev/null
echo '{"results": []}' >"$out/fls.json"
if [ "${FLS_RUNS:-1}" -gt 0 ]; then
    hyperfine --runs "${FLS_RUNS:-1}" --export-json "$out/fls.json" --style basic \
        -n "fls -rd" "fls -rd '$image' >/dev/null" >/dev/null
fi

python3 - "$out/fast.json" "$out/fls.json" <<'PY'
import json, sys, statistics
rows = []
for path in sys.argv[1:]:
    for r in json.load(open(path))["results"]:
        rows.append((r["command"], statistics.median(r["times"])))
base = dict(rows)["lumbra-cli scan"]
print(f"{'command':<18} {'median s':>9} {'x lumbra':>9}")
for name, t in rows:
    print(f"{name:<18} {t:9.3f} {t / base:9.2f}")
floor = dict(rows)["dd MFT bytes"]
print(f"lumbra-cli scan / raw read of the MFT: {base / floor:.2f} (goal: at most 1.5)")
PY
/usr/bin/time -f "lumbra-cli scan peak RSS: %M KiB" "$cli" scan "$image" 2>&1 >/dev/null | tail -n 1
rm -rf "$out"
done
