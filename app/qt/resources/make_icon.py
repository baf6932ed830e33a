#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the program's 64 x 64 icon (a disk platter under a magnifying lens)
and writes it as lumbra.png (the window icon) and ../../win32/resources/lumbra.ico (the
Windows executable's icon, one 32-bit PNG image). Standard library only, so
the icon can be redrawn on any machine: python3 make_icon.py"""
import math
import os
import struct
import zlib

SIZE = 64
SAMPLES = 4  # supersampling per axis, for smooth edges

NAVY = (22, 44, 92)
PLATTER = (208, 214, 222)
PLATTER_EDGE = (120, 130, 146)
HUB = (70, 80, 96)
LENS_RIM = (0, 128, 0)
LENS_GLASS = (200, 240, 200)
HANDLE = (128, 0, 128)


def inside_rounded_square(x, y, margin, radius):
    lo, hi = margin, SIZE - margin
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return lo <= x <= hi and lo <= y <= hi and (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """The colour (r, g, b, a) of one sample point."""
    # Lens and handle sit on top of everything.
    lx, ly, lr = 40.0, 40.0, 13.0
    d_lens = math.hypot(x - lx, y - ly)
    # Handle: a thick segment from the lens rim towards the bottom-right corner.
    hx0, hy0, hx1, hy1 = lx + lr * 0.7, ly + lr * 0.7, 60.0, 60.0
    t = max(0.0, min(1.0, ((x - hx0) * (hx1 - hx0) + (y - hy0) * (hy1 - hy0)) /
                     ((hx1 - hx0) ** 2 + (hy1 - hy0) ** 2)))
    d_handle = math.hypot(x - (hx0 + t * (hx1 - hx0)), y - (hy0 + t * (hy1 - hy0)))
    if d_handle <= 3.6:
        return HANDLE + (255,)
    if d_lens <= lr:
        return (LENS_RIM if d_lens >= lr - 3.2 else LENS_GLASS) + (255,)
    if not inside_rounded_square(x, y, 2.0, 10.0):
        return (0, 0, 0, 0)
    px, py, pr = 27.0, 27.0, 20.0
    d_platter = math.hypot(x - px, y - py)
    if d_platter <= 3.5:
        return HUB + (255,)
    if d_platter <= pr:
        return (PLATTER_EDGE if d_platter >= pr - 1.6 or 9.5 <= d_platter <= 10.5 else PLATTER) + (255,)
    return NAVY + (255,)


def render():
    rows = []
    n = SAMPLES * SAMPLES
    for j in range(SIZE):
        row = bytearray()
        for i in range(SIZE):
            acc = [0, 0, 0, 0]
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    r, g, b, a = colour_at(i + (si + 0.5) / SAMPLES, j + (sj + 0.5) / SAMPLES)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3]
            if alpha == 0:
                row += bytes(4)
            else:
                row += bytes((acc[0] // alpha, acc[1] // alpha, acc[2] // alpha, alpha // n))
        rows.append(bytes(row))
    return rows


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(png_bytes):
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(png_bytes), 6 + 16)
    return header + entry + png_bytes


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    data = png(render())
    with open(os.path.join(here, "lumbra.png"), "wb") as f:
        f.write(data)
    with open(os.path.join(here, "..", "..", "win32", "resources", "lumbra.ico"), "wb") as f:
        f.write(ico(data))
