#!/usr/bin/env bash
# Rebuilds the deleted 2 GiB file of the recovery benchmark volume with
# lumbra-cli recover and copies the same byte range with dd, side by side on
# a warm cache, writing to the same folder. Reports medians, the ratio, and
# lumbra-cli's peak memory; checks the recovered file's sha256.
#
#   bench/recover_bench.sh [IMAGE] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
image="${1:-$HOME/.cache/lumbra-bench/recover2g.img}"
runs="${2:-3}"
source "$root/bench/lib.sh"
cli="$(bench_cli)"
out="${LUMBRA_BENCH_OUT:-$(dirname "$image")/out}"
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
