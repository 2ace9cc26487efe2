#!/usr/bin/env python3
"""Writes COUNT PNG files of random pixels, about 20 KB each, as DIR/0000.png ... (standard library only)."""
import os
import random
import struct
import sys
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, rng):
    rows = b"".join(b"\x00" + rng.randbytes(width * 3) for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b"")


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261208)
    for k in range(count):
        with open(os.path.join(folder, "%04d.png" % k), "wb") as f:
            f.write(png(82, 82, rng))


if __name__ == "__main__":
    main()
