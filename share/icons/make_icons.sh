#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the hicolor icons from lumbra.svg with rsvg-convert (Debian's
# librsvg2-bin) and writes them, with the SVG itself, under hicolor/ here.
# The results are committed, so a build needs no SVG renderer:
#   share/icons/make_icons.sh
set -euo pipefail
cd "$(dirname "$0")"
name=com.osmikdata.Lumbra
command -v rsvg-convert >/dev/null || { echo "install librsvg2-bin" >&2; exit 1; }
mkdir -p hicolor/scalable/apps
cp lumbra.svg "hicolor/scalable/apps/$name.svg"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" -o "hicolor/${size}x${size}/apps/$name.png" lumbra.svg
done
echo "Wrote $(find hicolor -type f | wc -l) icons under $(pwd)/hicolor"
