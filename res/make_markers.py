#!/usr/bin/env python3
"""Draws the utilization graph's E-core markers and writes
res/efficiency_mark_light.bmp and res/efficiency_mark_dark.bmp (16 x 16,
24 bits per pixel, drawn at 96 DPI) and the same pictures at 20, 24 and 32
pixels (res/efficiency_mark_light_20.bmp, ...) for 125 %, 150 % and 200 %
display scaling. The .bmp files are committed, so a build needs no Python;
run this again only to change the pictures.

The light marker is drawn with SRCAND: white leaves the cell as it is, so the
badge darkens the cell and its white letter lets the cell show through. The
dark marker is drawn black-transparent (black and pure white leave the cell
as it is, other pixels are OR-ed on): a light badge with a black letter."""
import os
import struct

BASE = 16                # the square the shapes below are given in
SIZES = (16, 20, 24, 32)
SUPERSAMPLE = 4

LIGHT_PAPER = (0xFF, 0xFF, 0xFF)   # transparent under SRCAND
LIGHT_BADGE = (0x2B, 0x3A, 0x55)   # slate blue, darkens the cell
DARK_PAPER = (0x00, 0x00, 0x00)    # transparent when OR-ed
DARK_BADGE = (0xB4, 0xC8, 0xDC)    # pale blue-grey, lightens the cell


def in_letter(x, y):
    """The letter E, in units of the 16 x 16 square."""
    if 5.0 <= x < 7.0 and 4.0 <= y < 12.0:
        return True
    if 5.0 <= x < 11.0 and (4.0 <= y < 5.5 or 10.5 <= y < 12.0):
        return True
    return 5.0 <= x < 10.0 and 7.25 <= y < 8.75


def in_badge(x, y):
    return (x - 8.0) ** 2 + (y - 8.0) ** 2 <= 7.5 ** 2


def render(size, paper, badge, letter):
    """Rows of (r, g, b) from top to bottom, the badge's edge anti-aliased."""
    rows = []
    n = SUPERSAMPLE
    scale = BASE / size
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    x, y = (px + (sx + 0.5) / n) * scale, (py + (sy + 0.5) / n) * scale
                    colour = paper
                    if in_badge(x, y):
                        colour = letter if in_letter(x, y) else badge
                    for i in range(3):
                        total[i] += colour[i]
            row.append(tuple(t // (n * n) for t in total))
        rows.append(row)
    return rows


def bmp(rows):
    """A bottom-up 24-bit BMP file, each row padded to 4 bytes."""
    size = len(rows)
    padding = b"\0" * ((4 - size * 3 % 4) % 4)
    pixels = b"".join(b"".join(bytes((b, g, r)) for (r, g, b) in row) + padding for row in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    pictures = {}
    for size in SIZES:
        suffix = "" if size == BASE else "_%d" % size
        pictures["efficiency_mark_light%s.bmp" % suffix] = render(size, LIGHT_PAPER, LIGHT_BADGE, LIGHT_PAPER)
        pictures["efficiency_mark_dark%s.bmp" % suffix] = render(size, DARK_PAPER, DARK_BADGE, DARK_PAPER)
    for name, rows in pictures.items():
        with open(os.path.join(here, name), "wb") as out:
            out.write(bmp(rows))


if __name__ == "__main__":
    main()
