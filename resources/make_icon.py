#!/usr/bin/env python3
"""Draws the application icon, a game server with an arrow going into it ("join a server"),
and writes it as one 32x32 image with 256 colours and a 1-bit mask; given a second file, also as
a 32x32 PNG with transparency, for the Linux desktop's entry.

Usage: python3 make_icon.py quarrion_shell.ico [quarrion_shell.png]
"""
import struct
import sys
import zlib

SIZE = 32
TRANSPARENT, OUTLINE, BODY, BEVEL, BAY, LED, ARROW, ARROW_EDGE = range(8)
PALETTE = {
    TRANSPARENT: (0, 0, 0),
    OUTLINE: (22, 28, 38),
    BODY: (58, 72, 92),
    BEVEL: (132, 150, 172),
    BAY: (30, 38, 50),
    LED: (64, 224, 96),
    ARROW: (255, 180, 36),
    ARROW_EDGE: (150, 84, 8),
}


def draw():
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    # The server: a tower with three drive bays, each with a lit LED.
    fill(11, 2, 29, 29, OUTLINE)
    fill(12, 3, 28, 28, BODY)
    fill(12, 3, 28, 3, BEVEL)
    fill(12, 3, 12, 28, BEVEL)
    for top in (6, 12, 18):
        fill(15, top, 26, top + 3, BAY)
        fill(23, top + 1, 24, top + 2, LED)
    for y in (24, 26):
        fill(15, y, 26, y, OUTLINE)

    # The arrow going in from the left, with a dark edge so it stands out on any background.
    def in_arrow(x, y):
        shaft = 1 <= x <= 10 and 13 <= y <= 18
        head = 10 <= x <= 19 and abs(y - 15.5) <= (19 - x) * 0.85 + 0.5
        return shaft or head

    arrow = {(x, y) for y in range(SIZE) for x in range(SIZE) if in_arrow(x, y)}
    for x, y in arrow:
        for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
            if 0 <= nx < SIZE and 0 <= ny < SIZE and (nx, ny) not in arrow:
                pixels[ny][nx] = ARROW_EDGE
    for x, y in arrow:
        pixels[y][x] = ARROW
    return pixels


def icon_file(pixels):
    palette = b"".join(
        struct.pack("<4B", *reversed(PALETTE.get(i, (0, 0, 0))), 0) for i in range(256))
    rows = list(reversed(pixels))  # bitmaps are stored bottom-up
    colours = b"".join(bytes(row) for row in rows)
    mask = b""
    for row in rows:  # 1 marks a transparent pixel; rows padded to 32 bits
        bits = 0
        for x, index in enumerate(row):
            bits |= (index == TRANSPARENT) << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(colours) + len(mask), 0, 0, 256, 0)
    image = header + palette + colours + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def png_file(pixels):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    rows = b"".join(
        b"\0" + b"".join(bytes(PALETTE[index]) + (b"\0" if index == TRANSPARENT else b"\xff")
                         for index in row)
        for row in pixels)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    pixels = draw()
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file(pixels))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "wb") as out:
            out.write(png_file(pixels))
