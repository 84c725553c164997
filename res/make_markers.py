#!/usr/bin/env python3
"""Draws the utilization graph's E-core markers and writes
res/efficiency_mark_light.bmp and res/efficiency_mark_dark.bmp (16 x 16,
24 bits per pixel). The .bmp files are committed, so a build needs no
Python; run this again only to change the pictures.

The light marker is drawn with SRCAND: white leaves the cell as it is, so the
badge darkens the cell and its white letter lets the cell show through. The
dark marker is drawn black-transparent (black and pure white leave the cell
as it is, other pixels are OR-ed on): a light badge with a black letter."""
import os
import struct

SIZE = 16
SUPERSAMPLE = 4

LIGHT_PAPER = (0xFF, 0xFF, 0xFF)   # transparent under SRCAND
LIGHT_BADGE = (0x2B, 0x3A, 0x55)   # slate blue, darkens the cell
DARK_PAPER = (0x00, 0x00, 0x00)    # transparent when OR-ed
DARK_BADGE = (0xB4, 0xC8, 0xDC)    # pale blue-grey, lightens the cell


def in_letter(x, y):
    """The letter E, in pixel units of the 16 x 16 square."""
    if 5.0 <= x < 7.0 and 4.0 <= y < 12.0:
        return True
    if 5.0 <= x < 11.0 and (4.0 <= y < 5.5 or 10.5 <= y < 12.0):
        return True
    return 5.0 <= x < 10.0 and 7.25 <= y < 8.75


def in_badge(x, y):
    return (x - 8.0) ** 2 + (y - 8.0) ** 2 <= 7.5 ** 2


def render(paper, badge, letter):
    """Rows of (r, g, b) from top to bottom, the badge's edge anti-aliased."""
    rows = []
    n = SUPERSAMPLE
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            total = [0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    x, y = px + (sx + 0.5) / n, py + (sy + 0.5) / n
                    colour = paper
                    if in_badge(x, y):
                        colour = letter if in_letter(x, y) else badge
                    for i in range(3):
                        total[i] += colour[i]
            row.append(tuple(t // (n * n) for t in total))
        rows.append(row)
    return rows


def bmp(rows):
    """A bottom-up 24-bit BMP file; 16 pixels of 3 bytes need no row padding."""
    pixels = b"".join(bytes((b, g, r)) for row in reversed(rows) for (r, g, b) in row)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    pictures = {
        "efficiency_mark_light.bmp": render(LIGHT_PAPER, LIGHT_BADGE, LIGHT_PAPER),
        "efficiency_mark_dark.bmp": render(DARK_PAPER, DARK_BADGE, DARK_PAPER),
    }
    for name, rows in pictures.items():
        with open(os.path.join(here, name), "wb") as out:
            out.write(bmp(rows))


if __name__ == "__main__":
    main()
