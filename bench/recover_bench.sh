#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two recovery benchmarks, each on a warm cache:
# - one large file: rebuilds the deleted 2 GiB file of the recovery benchmark
#   volume with lumbra-cli recover and copies the same byte range with dd,
#   side by side, writing to the same folder; checks the file's sha256;
# - many small files: lumbra-cli recover --all against ntfsundelete -u -m '*'
#   on a volume of 50,000 files of which 25,000 are deleted (made by
#   make_bench_image.sh with LUMBRA_BENCH_FILES=50000), taking turns, each
#   run into a fresh folder; checks the count of every run.
# Reports medians, the ratios, and lumbra-cli's peak memory.
#
#   bench/recover_bench.sh [IMAGE] [RUNS] [SMALL_FILES_IMAGE]
# LUMBRA_BENCH_OUT sets the output folder (default: beside the image); put
# it on tmpfs to compare the work per file without the disk.
# LUMBRA_BENCH_ONLY=small runs the small-files case alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
image="${1:-$HOME/.cache/lumbra-bench/recover2g.img}"
runs="${2:-3}"
small="${3:-$HOME/.cache/lumbra-bench/mft50k.img}"
source "$root/bench/lib.sh"
cli="$(bench_cli)"
out="${LUMBRA_BENCH_OUT:-$(dirname "$image")/out}"

if [ "${LUMBRA_BENCH_ONLY:-}" != small ]; then
mkdir -p "$out"
row="$("$cli" scan "$image" | head -n 1)"
caption="${row%%$'\t'*}"
record=$(( (caption - $("$cli" info "$image" | sed -n 's/^MFT extent: \([0-9]*\) .*/\1/p' | head -n 1)) / 1024 ))
# The file's runs, from The Sleuth Kit: the dd side copies the same ranges.
dd_cmd=""
while read -r s l; do
    dd_cmd+="dd if='$image' of='$out/dd.bin' bs=4M oflag=append conv=notrunc iflag=skip_bytes,count_bytes skip=$(( s * 4096 )) count=$(( l * 4096 )) status=none; "
done < <(istat -r "$image" "$record" | sed -n '/\$DATA/,$p' | sed -n 's/.*Starting address: \([0-9]*\), length: \([0-9]*\).*/\1 \2/p')
echo "row: $row"

cat "$image" >/dev/null
hyperfine --warmup 1 --runs "$runs" --style basic --export-json "$out/recover.json" \
    --prepare "rm -f '$out/video.mp4' '$out/dd.bin'; sync" \
    -n "dd same range" "$dd_cmd" \
    -n "lumbra-cli recover" "'$cli' recover '$image' --out '$out' $caption >/dev/null" >/dev/null
python3 - "$out/recover.json" <<'PY'
import json, sys, statistics
rows = [(r["command"], statistics.median(r["times"])) for r in json.load(open(sys.argv[1]))["results"]]
base = dict(rows)["dd same range"]
for name, t in rows:
    print(f"{name:<20} {t:8.3f} s  {2048 / t:7.0f} MiB/s  x{t / base:.2f} of dd")
PY
rm -f "$out/video.mp4"
/usr/bin/time -f "lumbra-cli recover peak RSS: %M KiB" "$cli" recover "$image" --out "$out" "$caption" >/dev/null
echo "sha256 ok: $([ "$(sha256sum "$out/video.mp4" | cut -d' ' -f1)" = "$(cat "$image.sha256")" ] && echo yes || echo NO)"
rm -f "$out/video.mp4" "$out/dd.bin"
fi

# ------------------------------------------------------------ many small files
if [ ! -f "$small" ]; then
    LUMBRA_BENCH_FILES=50000 "$root/bench/make_bench_image.sh" "$small"
fi
smallOut="${LUMBRA_BENCH_OUT:-$(dirname "$small")/out}/small"
rm -rf "$smallOut"
mkdir -p "$smallOut"
cat "$small" >/dev/null
echo "uptime: $(uptime)"
# Each run writes into a folder of its own, made just before it, and every
# folder is removed only at the end. Removing 25,000 files just before a run
# makes the next 25,000 creations pay for the freed space (measured here with
# a plain C loop of open and write: 7 to 16 s of kernel time instead of about
# 1 s, whichever way the files are made), which would time the file system's
# state, not the tools. The tools take turns, so both meet the same disk.
python3 - "$runs" "$small" "$smallOut" "$cli" <<'PY'
import os, resource, statistics, subprocess, sys, time
runs, small, out, cli = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
tools = {
    "ntfsundelete -u": lambda d: ["ntfsundelete", small, "-u", "-m", "*", "-d", d],
    "lumbra-cli recover --all": lambda d: [cli, "recover", small, "--all", "--out", d],
}
times = {name: [] for name in tools}
for run in range(runs + 1):  # the first round warms up and is not counted
    for n, (name, command) in enumerate(tools.items()):
        folder = os.path.join(out, f"{run}-{n}")
        os.mkdir(folder)
        start = time.perf_counter()
        subprocess.run(command(folder), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        if run > 0:
            times[name].append(time.perf_counter() - start)
        files = sum(len(f) for _, _, f in os.walk(folder))
        if files != 25000:
            sys.exit(f"{name} wrote {files} files, not 25000")
base = statistics.median(times["ntfsundelete -u"])
for name, t in times.items():
    m = statistics.median(t)
    print(f"{name:<26} {m:8.3f} s  (runs: {', '.join(f'{x:.2f}' for x in t)})  x{m / base:.2f} of ntfsundelete")
PY
peak="$smallOut/peak"
mkdir "$peak"
/usr/bin/time -f "lumbra-cli recover --all peak RSS: %M KiB" "$cli" recover "$small" --all --out "$peak" >/dev/null
echo "files: lumbra-cli $(find "$peak" -type f | wc -l) (each run above checked for 25000)"
rm -rf "$smallOut"
