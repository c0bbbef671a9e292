#!/usr/bin/env python3
"""Writes the program's icon (16x16 and 32x32, 32-bit) to the path given."""
import struct
import sys


def image(size):
    # A green disc with a white down arrow: "download".
    rows = []
    c = (size - 1) / 2.0
    for y in range(size):
        row = b""
        for x in range(size):
            dx, dy = x - c, y - c
            inside = dx * dx + dy * dy <= (size / 2.0) ** 2
            ax, ay = abs(dx), (y / size)
            shaft = ax <= size * 0.09 and 0.18 <= ay <= 0.55
            head = 0.55 <= ay <= 0.8 and ax <= (0.8 - ay) * size
            if not inside:
                bgra = (0, 0, 0, 0)
            elif shaft or head:
                bgra = (255, 255, 255, 255)
            else:
                bgra = (40, 150, 30, 255)
            row += bytes(bgra)
        rows.append(row)
    pixels = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main():
    sizes = [16, 32]
    blobs = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, b in zip(sizes, blobs):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(b), offset)
        offset += len(b)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    main()
