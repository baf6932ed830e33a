#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two recovery benchmarks, each on a warm cache:
# - one large file: rebuilds the deleted 2 GiB file of the recovery benchmark
#   volume with lumbra-cli recover and copies the same byte range with dd,
#   side by side, writing to the same folder; checks the file's sha256;
# - many small files: lumbra-cli recover --all against ntfsundelete -u -m '*'
#   on a volume of 50,000 files of which 25,000 are deleted (made by
#   make_bench_image.sh with LUMBRA_BENCH_FILES=50000); checks the count.
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
mkdir -p "$smallOut"
cat "$small" >/dev/null
echo "uptime: $(uptime)"
hyperfine --warmup 1 --runs "$runs" --style basic --export-json "$smallOut/small.json" \
    --prepare "rm -rf '$smallOut/lumbra' '$smallOut/peer'; mkdir '$smallOut/lumbra' '$smallOut/peer'; sync" \
    -n "ntfsundelete -u" "ntfsundelete '$small' -u -m '*' -d '$smallOut/peer' >/dev/null 2>&1" \
    -n "lumbra-cli recover --all" "'$cli' recover '$small' --all --out '$smallOut/lumbra' >/dev/null" >/dev/null
python3 - "$smallOut/small.json" <<'PY'
import json, sys, statistics
rows = [(r["command"], statistics.median(r["times"]), r["user"], r["system"])
        for r in json.load(open(sys.argv[1]))["results"]]
base = dict((n, t) for n, t, _, _ in rows)["ntfsundelete -u"]
for name, t, user, system in rows:
    print(f"{name:<26} {t:8.3f} s  (mean user {user:.3f} s, system {system:.3f} s)  x{t / base:.2f} of ntfsundelete")
PY
rm -rf "$smallOut/lumbra" "$smallOut/peer"
mkdir "$smallOut/lumbra" "$smallOut/peer"
/usr/bin/time -f "lumbra-cli recover --all peak RSS: %M KiB" "$cli" recover "$small" --all --out "$smallOut/lumbra" >/dev/null
ntfsundelete "$small" -u -m '*' -d "$smallOut/peer" >/dev/null 2>&1
echo "files: lumbra-cli $(find "$smallOut/lumbra" -type f | wc -l), ntfsundelete $(find "$smallOut/peer" -type f | wc -l)"
rm -rf "$smallOut/lumbra" "$smallOut/peer"
