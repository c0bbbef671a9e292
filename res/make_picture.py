#!/usr/bin/env python3
"""Writes the window's picture, tollgrove_logo.gif: a 77 x 39 GIF89a with a
256-entry global colour table, one graphic control extension (transparent
colour, delay 0, disposal 0) and one image.

The logo: a green badge with rounded corners, on its left a white disc with a
green down arrow (the program's icon, inverted), on its right "TOLL" over
"GROVE" in tall white letters. Outside the badge's corners is transparent.

  make_picture.py OUT.gif          write the picture
  make_picture.py --check FILE     exit 1 unless FILE is what this script writes
"""
import struct
import sys

WIDTH, HEIGHT = 77, 39

# Colour indices; the rest of the 256-entry table is a grey ramp.
TRANSPARENT, BADGE, BADGE_DARK, WHITE, ARROW = 0, 1, 2, 3, 4
PALETTE = {
    TRANSPARENT: (255, 0, 255),
    BADGE: (40, 150, 30),
    BADGE_DARK: (20, 95, 15),
    WHITE: (255, 255, 255),
    ARROW: (40, 150, 30),
}

# 5 x 7 capitals, drawn twice as tall.
FONT = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
}


def picture():
    px = [[TRANSPARENT] * WIDTH for _ in range(HEIGHT)]
    radius = 7
    for y in range(HEIGHT):
        for x in range(WIDTH):
            # Rounded rectangle: outside a corner's quarter circle is transparent.
            cx = min(max(x, radius), WIDTH - 1 - radius)
            cy = min(max(y, radius), HEIGHT - 1 - radius)
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= radius * radius:
                edge = d2 > (radius - 1.5) ** 2 or x in (0, WIDTH - 1) or y in (0, HEIGHT - 1)
                px[y][x] = BADGE_DARK if edge else BADGE
    # The disc with the arrow.
    dcx, dcy, dr = 18.5, 19.0, 14.0
    for y in range(HEIGHT):
        for x in range(WIDTH):
            dx, dy = x - dcx, y - dcy
            if dx * dx + dy * dy <= dr * dr:
                px[y][x] = WHITE
                ay = (y - (dcy - dr)) / (2 * dr)
                shaft = abs(dx) <= 2.5 and 0.18 <= ay <= 0.56
                head = 0.52 <= ay <= 0.82 and abs(dx) <= (0.82 - ay) * 2 * dr * 0.9
                if shaft or head:
                    px[y][x] = ARROW
    # The name, two lines of tall letters.
    for line, (text, top) in enumerate((("TOLL", 4), ("GROVE", 21))):
        left = 38 if line == 0 else 37
        for i, ch in enumerate(text):
            for row, bits in enumerate(FONT[ch]):
                for col, bit in enumerate(bits):
                    if bit == "#":
                        x = left + i * 7 + col
                        for y in (top + 2 * row, top + 2 * row + 1):
                            px[y][x] = WHITE
    return [v for row in px for v in row]


def lzw(pixels, min_code_size=8):
    """GIF's variable-width LZW, least significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    width = min_code_size + 1

    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    put(clear)
    run = (pixels[0],)
    for p in pixels[1:]:
        grown = run + (p,)
        if grown in table:
            run = grown
            continue
        put(table[run])
        if next_code < 4096:
            table[grown] = next_code
            next_code += 1
            if next_code - 1 == (1 << width) and width < 12:
                width += 1
        else:
            put(clear)
            table = {(i,): i for i in range(clear)}
            next_code, width = end + 1, min_code_size + 1
        run = (p,)
    put(table[run])
    put(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\0")


def gif():
    table = bytearray()
    for i in range(256):
        table += bytes(PALETTE.get(i, (i, i, i)))
    out = b"GIF89a" + struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF7, TRANSPARENT, 0) + bytes(table)
    # Graphic control: disposal 0, no user input, transparent colour; delay 0.
    out += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, 0x01, 0, TRANSPARENT, 0)
    out += struct.pack("<BHHHHB", 0x2C, 0, 0, WIDTH, HEIGHT, 0)
    out += bytes([8]) + sub_blocks(lzw(picture()))
    return out + b"\x3b"


def main():
    data = gif()
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with open(sys.argv[2], "rb") as f:
            if f.read() != data:
                print(sys.argv[2] + " differs from what make_picture.py writes", file=sys.stderr)
                return 1
        return 0
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
