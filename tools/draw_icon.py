#!/usr/bin/env python3
"""Draws kw9's icon: a map pin over a dotted track, as one .ico with 16, 24,
32, 48 and 256 px images (the small ones as 32-bit bitmaps, the 256 px one
as PNG, as Windows' own icons hold them).

    python3 tools/draw_icon.py app/res/kw9.ico [app/res/kw9.png [SIZE]]

The optional PNG is one image alone (32 px unless SIZE says otherwise): the
Linux desktop's menu icon, or a closer look at a size. Needs Pillow
(Debian: python3-pil).
"""
import io
import math
import struct
import sys

from PIL import Image, ImageDraw

SIZES = [16, 24, 32, 48, 256]

PIN = (216, 40, 32, 255)
PIN_EDGE = (110, 16, 10, 255)
HOLE = (255, 255, 255, 255)
TRACK = (24, 86, 200, 255)
SHADOW = (0, 0, 0, 90)

# Drawn this many times larger and scaled down: smooth edges at every size.
OVERSAMPLE = 8


def teardrop(cx, cy, r, tip_y, steps=96):
    """The pin's outline: the head's circle, and the two lines from the tip
    that touch it."""
    # The tangent points, seen from the centre, lie this far either side of
    # straight down; the outline runs between them around the top.
    start = math.acos(r / (tip_y - cy))
    points = []
    for i in range(steps + 1):
        a = start + (2 * math.pi - 2 * start) * i / steps
        points.append((cx + r * math.sin(a), cy + r * math.cos(a)))
    points.append((cx, tip_y))
    return points


def draw(size):
    big = size * OVERSAMPLE
    u = big / 32.0  # one unit: a pixel of the 32 px image
    im = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)

    def dot(x, y, r, colour):
        d.ellipse([(x - r) * u, (y - r) * u, (x + r) * u, (y + r) * u], fill=colour)

    # The track: dots along a gentle curve under the pin, fewer where small.
    # A dot must cover a whole pixel or two to be seen at all.
    count, radius = {16: (4, 2.4), 24: (5, 2.0), 32: (7, 1.6)}.get(size, (9, 1.4))
    for i in range(count):
        t = i / (count - 1)
        x = 3.0 + 26.0 * t
        y = 27.0 - 3.0 * math.sin(t * math.pi * 1.5)
        dot(x, y, radius, TRACK)

    # The pin's shadow where its tip meets the ground.
    d.ellipse([12.5 * u, 27.8 * u, 19.5 * u, 30.2 * u], fill=SHADOW)

    # The pin: a dark edge, the red body, the white hole.
    cx, cy, r, tip = 16.0, 11.0, 9.5, 29.0
    edge = 1.3 if size < 48 else 1.0
    d.polygon([(x * u, y * u) for x, y in teardrop(cx, cy, r, tip)], fill=PIN_EDGE)
    inner_tip = tip - edge * (tip - cy) / r
    d.polygon([(x * u, y * u) for x, y in teardrop(cx, cy, r - edge, inner_tip)], fill=PIN)
    dot(cx, cy, 3.8, PIN_EDGE)
    dot(cx, cy, 3.8 - edge, HOLE)
    return im.resize((size, size), Image.LANCZOS)


def bitmap(im):
    """An .ico's 32-bit image: a BITMAPINFOHEADER of twice the height, the
    BGRA rows bottom-up, then the AND mask (set where fully transparent)."""
    size = im.width
    pixels = im.load()
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row_bits = 0
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixels[x, y]
            colour += bytes((b, g, r, a))
            row_bits = row_bits << 1 | (1 if a == 0 else 0)
            if x % 8 == 7:
                row.append(row_bits)
                row_bits = 0
        if size % 8:
            row.append(row_bits << (8 - size % 8))
        while len(row) % 4:
            row.append(0)
        mask += row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def png(im):
    out = io.BytesIO()
    im.save(out, "PNG", optimize=True)
    return out.getvalue()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    images = [(size, png(draw(size)) if size >= 256 else bitmap(draw(size)))
              for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = size if size < 256 else 0  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    if len(sys.argv) > 2:
        draw(int(sys.argv[3]) if len(sys.argv) > 3 else 32).save(sys.argv[2], "PNG", optimize=True)


if __name__ == "__main__":
    main()
