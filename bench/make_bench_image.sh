#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmark volume: a real NTFS image (mkntfs + ntfs-3g) whose MFT
# holds at least 300,000 records, about half of them deleted files. Needs root
# and FUSE. Cached outside the repository; made once.
#
#   bench/make_bench_image.sh [IMAGE]   (default ~/.cache/lumbra-bench/mft300k.img)
set -euo pipefail
image="${1:-$HOME/.cache/lumbra-bench/mft300k.img}"
files="${LUMBRA_BENCH_FILES:-300000}"
[ -f "$image" ] && { echo "$image exists"; exit 0; }
mkdir -p "$(dirname "$image")"
work="$(mktemp -d)"
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT
mkdir "$work/mnt"

truncate -s 2G "$image.part"
mkntfs -F -q -L Bench -c 4096 "$image.part" >/dev/null 2>&1
ntfs-3g -o big_writes "$image.part" "$work/mnt"
# Files in folders of 1000, mostly small (resident) with some larger ones;
# every other file is deleted afterwards.
python3 - "$work/mnt" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(300)
names = [".txt", ".jpg", ".docx", ".pdf", ".tar.gz", "", ".log"]
paths = []
for i in range(count):
    d = os.path.join(root, "d%03d" % (i // 1000))
    if i % 1000 == 0:
        os.mkdir(d)
    p = os.path.join(d, "file%06d%s" % (i, names[i % len(names)]))
    size = 6000 if i % 50 == 0 else rng.randrange(0, 400)
    with open(p, "wb") as f:
        f.write(bytes([i & 0xFF]) * size)
    paths.append(p)
    if i % 20000 == 0:
        print("created", i, flush=True)
for i, p in enumerate(paths):
    if i % 2 == 1:
        os.unlink(p)
    if i % 40000 == 0:
        print("deleting", i, flush=True)
PY
umount "$work/mnt"
mv "$image.part" "$image"
echo "built $image"
