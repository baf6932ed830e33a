#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the recovery benchmark volume: a real NTFS image (mkntfs + ntfs-3g)
# holding one deleted 2 GiB file in a few large runs. Needs root and FUSE.
# Cached outside the repository; made once.
#
#   bench/make_recover_image.sh [IMAGE]   (default ~/.cache/lumbra-bench/recover2g.img)
set -euo pipefail
image="${1:-$HOME/.cache/lumbra-bench/recover2g.img}"
[ -f "$image" ] && { echo "$image exists"; exit 0; }
mkdir -p "$(dirname "$image")"
work="$(mktemp -d)"
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT
mkdir "$work/mnt"
truncate -s 2300M "$image.part"
mkntfs -F -q -L Recover -c 4096 "$image.part" >/dev/null 2>&1
ntfs-3g -o big_writes "$image.part" "$work/mnt"
python3 - "$work/mnt/video.mp4" <<'PY'
import random, sys
block = random.Random(2).randbytes(1 << 20)
with open(sys.argv[1], "wb") as f:
    for i in range(2048):
        f.write(block[i % 256:] + block[:i % 256])
PY
sha256sum "$work/mnt/video.mp4" | cut -d' ' -f1 > "$image.sha256"
rm "$work/mnt/video.mp4"
umount "$work/mnt"
mv "$image.part" "$image"
echo "built $image"
