#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The deep pass over a sparse source of SIZE (default 1T): its rate, its
# memory per found record, its progress and how soon it stops
# (bench/deep_memory_bench.cpp prints them). The source is a sparse file in
# a temporary folder, holes but for five real NTFS volumes written at offsets
# that are sector-aligned but not whole MiB: four fixture volumes and the
# populated benchmark volume (bench/make_bench_image.sh; made once, needs
# root and FUSE; LUMBRA_DEEP_BENCH_VOLUME names another). It takes on disk
# only the volumes' bytes; the file is removed afterwards.
#
# Reading the holes goes through the page cache at some hundreds of MB/s, so
# a terabyte takes a long while; a smaller SIZE (at least 16G) measures the
# same things sooner.
#
#   bench/deep_memory_bench.sh [SIZE [STOP_SECONDS]]   (SIZE as truncate takes it: 1T, 64G)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size="$(numfmt --from=iec "${1:-1T}")"
stop=("${@:2:1}")
big="${LUMBRA_DEEP_BENCH_VOLUME:-$HOME/.cache/lumbra-bench/mft300k.img}"
(( size >= 16 << 30 )) || { echo "SIZE must be at least 16G" >&2; exit 2; }
[ -f "$big" ] || "$root/bench/make_bench_image.sh" "$big"

# Its own Release build folder: the tests' CMake list holds the target, and
# only it and the engine are built.
cmake -S "$root" -B "$root/build-bench-deep" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-bench-deep" --target deep_memory_bench >/dev/null
bench="$root/build-bench-deep/tests/deep_memory_bench"

work="$(mktemp -d "${TMPDIR:-/tmp}/deep-memory.XXXXXX")"
trap 'rm -rf "$work"' EXIT
image="$work/sparse.img"

# name, where (a fraction of SIZE in MiB plus an odd count of sectors), what.
fixtures="$root/tests/fixtures"
mib=$((1 << 20))
bigBytes="$(stat -c %s "$big")"
layout=(
    "basic $(((size / 64 / mib) * mib + 13 * 512)) $fixtures/basic.img.zst"
    "c64k $(((size / 4 / mib) * mib + 1001 * 512)) $fixtures/c64k.img.zst"
    "qformat $(((size / 2 / mib) * mib + 77 * 512)) $fixtures/qformat.img.zst"
    "names $(((size * 3 / 4 / mib) * mib + 3 * 512)) $fixtures/names.img.zst"
    "$(basename "$big" .img) $(((size - bigBytes) / mib * mib - 64 * mib + 12345 * 512)) $big"
)

# The file takes only the volumes' bytes (the populated one as it is
# allocated, the fixtures whole), with a GiB to spare.
need=$(( $(du -B1 "$big" | cut -f1) + 1024 * mib ))
for f in basic c64k qformat names; do
    need=$((need + $(zstd -lv "$fixtures/$f.img.zst" 2>/dev/null | sed -n 's/.*Decompressed Size:.*(\([0-9]*\) B).*/\1/p')))
done
free="$(df -B1 --output=avail "$work" | tail -1)"
(( free > need )) || { echo "$work: $free bytes free, $need needed" >&2; exit 1; }

truncate -s "$size" "$image"
for entry in "${layout[@]}"; do
    read -r name offset from <<<"$entry"
    if [[ "$from" == *.zst ]]; then zstd -dcq "$from"; else cat "$from"; fi |
        dd of="$image" bs=1M seek="$offset" oflag=seek_bytes conv=notrunc,sparse iflag=fullblock status=none
    printf '%-8s at %15d (%d MiB + %d bytes)\n' "$name" "$offset" $((offset / mib)) $((offset % mib))
done
echo "sparse file: $(du -h "$image" | cut -f1) on disk of $(numfmt --to=iec "$size")"
"$bench" "$image" "${stop[@]}"
