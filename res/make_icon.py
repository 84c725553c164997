#!/usr/bin/env python3
"""Draws the program's icon and writes res/tarnwick.ico (16, 24, 32 and 48
pixels, 32-bit with alpha). The .ico is committed, so a build needs no
Python; run this again only to change the picture."""
import os
import struct

SIZES = (16, 24, 32, 48)
SUPERSAMPLE = 4

BODY = (0x2B, 0x3A, 0x55)    # processor package, slate blue
PINS = (0xB8, 0xC2, 0xCC)    # pins, light grey
CORE = (0xFF, 0x9A, 0x1F)    # the performance core, amber
SMALL = (0x6F, 0x86, 0xA6)   # efficiency cores, muted blue


def shape_colour(x, y):
    """Colour (r, g, b) or None at the point (x, y) of the unit square."""
    body = (0.18, 0.18, 0.82, 0.82)
    if body[0] <= x <= body[2] and body[1] <= y <= body[3]:
        if 0.30 <= x <= 0.62 and 0.30 <= y <= 0.70:
            return CORE
        if 0.66 <= x <= 0.72 and (0.30 <= y <= 0.48 or 0.52 <= y <= 0.70):
            return SMALL
        return BODY
    # Four pins on each side, centred on the body's edges.
    for i in range(4):
        lo = 0.24 + i * 0.15
        hi = lo + 0.08
        if lo <= y <= hi and (0.04 <= x < 0.18 or 0.82 < x <= 0.96):
            return PINS
        if lo <= x <= hi and (0.04 <= y < 0.18 or 0.82 < y <= 0.96):
            return PINS
    return None


def render(size):
    """Rows of (b, g, r, a) from top to bottom, anti-aliased."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(n):
                for sx in range(n):
                    colour = shape_colour((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if colour:
                        r, g, b, hits = r + colour[0], g + colour[1], b + colour[2], hits + 1
            if hits:
                row.append((b // hits, g // hits, r // hits, 255 * hits // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(channel for pixel in row for channel in pixel) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    images = [dib(size) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tarnwick.ico")
    with open(target, "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
