#!/usr/bin/env python3
"""Writes a small 24-bit BMP test picture (gradients and a few shapes) to the given path."""
import struct
import sys


def write_bmp(path, width, height, pixel):
    stride = (3 * width + 3) & ~3
    rows = []
    for y in range(height):  # bottom row first
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, height - 1 - y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - 3 * width)
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def sample(x, y):
    r, g, b = (x * 255) // 319, (y * 255) // 239, 128
    if (x - 160) ** 2 + (y - 120) ** 2 < 60 ** 2:
        r, g, b = 240, 240, 240
    if 20 <= x < 80 and 20 <= y < 60:
        r, g, b = 10, 10, 10
    return r, g, b


if __name__ == "__main__":
    write_bmp(sys.argv[1], 320, 240, sample)
