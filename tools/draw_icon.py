#!/usr/bin/env python3
"""Draws kw9's icon: a map pin over a dotted track, in the 16 standard
colours, as one .ico with a 32x32 and a 16x16 image.

    python3 tools/draw_icon.py app/res/kw9.ico [app/res/kw9.png]

The optional PNG is the 32x32 image for the Linux desktop's menus.
"""
import struct
import sys
import zlib

# The standard 16-colour palette, as RGB.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# One letter a pixel: '.' transparent, then the palette index of each letter.
COLOURS = {"k": 0, "r": 1, "g": 2, "y": 3, "b": 4, "w": 15, "R": 9, "G": 10, "B": 12,
           "s": 7, "d": 8, "Y": 11}

ICON32 = """
................................
...........kkkkkkkkkk...........
.........kkRRRRRRRRRRkk.........
........kRRRRRRRRRRRRRRk........
.......kRRRRRRRRRRRRRRRRk.......
......kRRRRRRkkkkkkRRRRRRk......
......kRRRRRkwwwwwwkRRRRRk......
.....kRRRRRkwwwwwwwwkRRRRRk.....
.....kRRRRRkwwwwwwwwkRRRRRk.....
.....kRRRRRkwwwwwwwwkRRRRRk.....
.....kRRRRRkwwwwwwwwkRRRRRk.....
......kRRRRRkwwwwwwkRRRRRk......
......kRRRRRRkkkkkkRRRRRRk......
.......kRRRRRRRRRRRRRRRRk.......
........kRRRRRRRRRRRRRRk........
.........kRRRRRRRRRRRRk.........
..........kRRRRRRRRRRk..........
...........kRRRRRRRRk...........
............kRRRRRRk............
.............kRRRRk.............
..............kRRk..............
...............kk...............
..BB...........kk.........BB....
.BBBB.........dkkd.......BBBB...
.BBBB....BB....dd....BB..BBBB...
..BB....BBBB........BBBB..BB....
.......BBBBB.BB..BB.BBBB........
........BB..BBBBBBBB.BB.........
...BB......BBBBBBBBBB.......BB..
..BBBB......BBBBBBBB.......BBBB.
..BBBB.......BB..BB........BBBB.
...BB.......................BB..
"""

ICON16 = """
.....kkkkkk.....
....kRRRRRRk....
...kRRkkkkRRk...
...kRkwwwwkRk...
...kRkwwwwkRk...
...kRRkkkkRRk...
....kRRRRRRk....
.....kRRRRk.....
......kRRk......
.......kk.......
.B.....kk.....B.
BBB...dkkd...BBB
.B..B..dd..B..B.
...BBB....BBB...
....B.BBBB.B....
.......BB.......
"""


def rows(art):
    lines = [line for line in art.strip("\n").split("\n")]
    size = len(lines)
    assert all(len(line) == size for line in lines), "the art must be square"
    return lines


def image(art):
    lines = rows(art)
    size = len(lines)
    # Bottom-up rows; 4 bits a pixel; the AND mask sets transparent pixels.
    xor = bytearray()
    mask = bytearray()
    for line in reversed(lines):
        nibbles = [0 if c == "." else COLOURS[c] for c in line]
        for i in range(0, size, 2):
            xor.append(nibbles[i] << 4 | nibbles[i + 1])
        bits = [1 if c == "." else 0 for c in line]
        row = bytearray()
        for i in range(0, size, 8):
            byte = 0
            for b in bits[i:i + 8]:
                byte = byte << 1 | b
            row.append(byte)
        while len(row) % 4:
            row.append(0)
        mask += row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return size, header + palette + bytes(xor) + bytes(mask)


def png(art):
    lines = rows(art)
    size = len(lines)
    raw = bytearray()
    for line in lines:
        raw.append(0)  # no filter
        for c in line:
            if c == ".":
                raw += bytes((0, 0, 0, 0))
            else:
                raw += bytes(PALETTE[COLOURS[c]]) + b"\xff"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    images = [image(ICON32), image(ICON16)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    if len(sys.argv) > 2:
        with open(sys.argv[2], "wb") as f:
            f.write(png(ICON32))


if __name__ == "__main__":
    main()
