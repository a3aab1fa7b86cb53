#!/usr/bin/env python3
"""Draws the program icon (icon group 107) into app.ico.

A blue rounded square with a white download arrow over a bar. Images:
48, 32 and 16 pixels with 256 colours (8-bit palette, 1-bit mask) and
256 (PNG), 48, 32 and 16 pixels with 32-bit colour (alpha).
Python standard library only: python3 res/make_icon.py res/app.ico
"""
import struct
import sys
import zlib

BLUE = (30, 90, 168)
WHITE = (255, 255, 255)
SUPER = 4  # samples per pixel edge for the anti-aliased images


def inside_rounded_square(u, v):
    """u, v in 0..1; the square spans 0.04..0.96 with corner radius 0.2."""
    lo, hi, r = 0.04, 0.96, 0.2
    if u < lo or u > hi or v < lo or v > hi:
        return False
    cx = min(max(u, lo + r), hi - r)
    cy = min(max(v, lo + r), hi - r)
    return (u - cx) ** 2 + (v - cy) ** 2 <= r * r


def inside_arrow(u, v):
    if 0.42 <= u <= 0.58 and 0.16 <= v <= 0.52:  # shaft
        return True
    if 0.48 <= v <= 0.72:  # head: a triangle pointing down
        half = (0.72 - v) / 0.24 * 0.26
        return abs(u - 0.5) <= half
    if 0.22 <= u <= 0.78 and 0.78 <= v <= 0.86:  # bar
        return True
    return False


def sample(u, v):
    if not inside_rounded_square(u, v):
        return None
    return WHITE if inside_arrow(u, v) else BLUE


def render(size, smooth):
    """Rows top-down of (r, g, b, a)."""
    rows = []
    n = SUPER if smooth else 1
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(a / hits) for a in acc) + (round(255 * hits / (n * n)),))
        rows.append(row)
    return rows


def mask_bytes(rows):
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def bmp_header(size, bpp, colours, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0, colours, 0)


def image_8bit(size):
    rows = render(size, smooth=False)
    # The 6x6x6 colour cube, then black for the rest of the 256 entries.
    palette = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    palette += [(0, 0, 0)] * (256 - len(palette))

    def index(p):
        if p[3] < 128:
            return 0
        return (round(p[0] / 51) * 36) + (round(p[1] / 51) * 6) + round(p[2] / 51)

    stride = (size + 3) // 4 * 4
    pixels = b""
    for row in reversed(rows):
        pixels += bytes(index(p) for p in row) + bytes(stride - size)
    mask = mask_bytes(rows)
    data = bmp_header(size, 8, 256, len(pixels) + len(mask))
    data += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return data + pixels + mask, 8


def image_32bit(size):
    rows = render(size, smooth=True)
    pixels = b""
    for row in reversed(rows):
        pixels += b"".join(struct.pack("<BBBB", p[2], p[1], p[0], p[3]) for p in row)
    mask = mask_bytes(rows)
    return bmp_header(size, 32, 0, len(pixels) + len(mask)) + pixels + mask, 32


def image_png(size):
    rows = render(size, smooth=True)
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    return png, 32


def main(path):
    images = [(48, image_8bit), (32, image_8bit), (16, image_8bit),
              (256, image_png), (48, image_32bit), (32, image_32bit), (16, image_32bit)]
    blobs = [(size, maker(size)) for size, maker in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, (data, bpp) in blobs:
        dim = 0 if size == 256 else size
        colours = 0  # 0 for 8 bits and more
        out += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, (data, _) in blobs)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "app.ico")
