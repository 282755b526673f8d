#!/usr/bin/env python3
"""Writes vantorio.ico: the program's 32 x 32, 16-colour icon (a gold key on a blue badge),
as one 4-bit-per-pixel BMP image with its transparency mask, so the same file serves the
Windows resource and the Qt window icon; and vantorio.png, the same pixels for the desktop's
icon theme. Run it from anywhere; it writes beside itself."""
import os
import struct
import zlib

# The 16 colours of the standard palette, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, OLIVE, NAVY, GRAY, YELLOW, BLUE, WHITE = 0, 3, 4, 8, 11, 12, 15
SIZE = 32
CLEAR = None


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    # The badge: a rounded square, navy with a blue rim.
    lo, hi, r = 1, 30, 5
    for y in range(SIZE):
        for x in range(SIZE):
            cx = min(max(x, lo + r), hi - r)
            cy = min(max(y, lo + r), hi - r)
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if lo <= x <= hi and lo <= y <= hi and d2 <= r * r + 2:
                px[y][x] = BLUE if d2 > (r - 1.5) ** 2 or x in (lo, hi) or y in (lo, hi) else NAVY

    def put(x, y, c):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            px[y][x] = c

    # The key's bow: a ring, gold with a darker edge and a hole.
    bx, by = 10.5, 15.5
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x - bx) ** 2 + (y - by) ** 2) ** 0.5
            if d <= 6.6:
                put(x, y, OLIVE if d > 5.6 or d < 2.9 else YELLOW)
            if d < 2.2:
                put(x, y, NAVY)

    # The shaft and two teeth.
    for x in range(16, 28):
        put(x, 14, OLIVE)
        put(x, 15, YELLOW)
        put(x, 16, YELLOW)
        put(x, 17, OLIVE)
    for x0 in (21, 25):
        for x in range(x0, x0 + 3):
            for y in range(18, 22):
                put(x, y, YELLOW if x0 < x < x0 + 2 or y < 21 else OLIVE)
            put(x, 21, OLIVE)
        for y in range(18, 22):
            put(x0, y, OLIVE)
            put(x0 + 2, y, OLIVE)
    put(27, 15, OLIVE)
    put(27, 16, OLIVE)

    # A glint on the bow.
    for x, y in ((7, 12), (8, 11), (7, 13)):
        put(x, y, WHITE)
    return px


def ico(px):
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = px[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not CLEAR else BLACK
            lo = row[x + 1] if row[x + 1] is not CLEAR else BLACK
            xor.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is CLEAR else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png(px):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = bytearray()
    for row in px:
        raw.append(0)  # no filter
        for c in row:
            raw += bytes((0, 0, 0, 0)) if c is CLEAR else bytes(PALETTE[c] + (0xFF,))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    pixels = draw()
    with open(os.path.join(here, "vantorio.ico"), "wb") as f:
        f.write(ico(pixels))
    with open(os.path.join(here, "vantorio.png"), "wb") as f:
        f.write(png(pixels))
