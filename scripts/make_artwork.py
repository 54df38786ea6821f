#!/usr/bin/env python3
"""Draws the program icon (resources/QuarnUpdater.ico) and the maker's logo (resources/logo.bmp).

Standard library only: every pixel is computed here and the ICO, BMP and PNG bytes are written
with struct and zlib, so the output is the same on every machine and the files can be rebuilt
at will:  python3 scripts/make_artwork.py [output-dir]

Icon: a rounded tile in a blue gradient with a yellow lightning bolt, drawn afresh at each of
the seven sizes (supersampled, so small sizes stay clean). The 256 px image is stored
PNG-compressed inside the .ico, the six others as 32-bit BGRA bitmaps with an AND mask.
Logo: 200 x 56, 24 bits per pixel, uncompressed; a small bolt tile and the wordmark ZENTRIKA in
a blocky pixel font.
"""
import os
import struct
import sys
import zlib

ICON_SIZES = (256, 128, 64, 48, 32, 24, 16)
LOGO_WIDTH, LOGO_HEIGHT = 200, 56

TILE_TOP = (0x2A, 0x9D, 0xD8)
TILE_BOTTOM = (0x12, 0x3B, 0x73)
BOLT_TOP = (0xFF, 0xE0, 0x5C)
BOLT_BOTTOM = (0xFF, 0xB3, 0x1A)
SHADOW = (0x0A, 0x1E, 0x3C)
INK = (0x12, 0x3B, 0x73)
ACCENT = (0x2A, 0x9D, 0xD8)
PAPER = (0xFF, 0xFF, 0xFF)

# The bolt in tile units (0..1, y down).
BOLT = ((0.57, 0.10), (0.27, 0.56), (0.47, 0.56), (0.40, 0.90),
        (0.75, 0.42), (0.55, 0.42), (0.68, 0.10))


def inside_polygon(x, y, points):
    inside = False
    n = len(points)
    for i in range(n):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                inside = not inside
    return inside


def inside_rounded_square(x, y, margin, radius):
    lo, hi = margin, 1.0 - margin
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def draw_tile(size):
    """Returns size*size straight-alpha RGBA tuples, rows top to bottom."""
    samples = 4 if size >= 128 else 8
    margin = 0.5 / size if size <= 24 else 1.0 / 32.0
    radius = 0.20
    shadow_dx, shadow_dy = 0.025, 0.03
    pixels = []
    for py in range(size):
        for px in range(size):
            tile = bolt = shadow = 0
            for sy in range(samples):
                y = (py + (sy + 0.5) / samples) / size
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    if not inside_rounded_square(x, y, margin, radius):
                        continue
                    tile += 1
                    if inside_polygon(x, y, BOLT):
                        bolt += 1
                    elif inside_polygon(x - shadow_dx, y - shadow_dy, BOLT):
                        shadow += 1
            if tile == 0:
                pixels.append((0, 0, 0, 0))
                continue
            v = (py + 0.5) / size
            colour = mix(TILE_TOP, TILE_BOTTOM, v)
            colour = mix(colour, SHADOW, 0.55 * shadow / tile)
            colour = mix(colour, mix(BOLT_TOP, BOLT_BOTTOM, v), bolt / tile)
            alpha = round(255 * tile / (samples * samples))
            pixels.append(tuple(round(c) for c in colour) + (alpha,))
    return pixels


def png_bytes(size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in range(size):
        raw.append(0)  # no filter
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            raw += bytes((r, g, b, a))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon_dib_bytes(size, pixels):
    """A 32-bit icon image: header with doubled height, BGRA rows bottom-up, then the AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(range(size)):
        line = pixels[row * size:(row + 1) * size]
        for r, g, b, a in line:
            colour += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(line):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def ico_bytes(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, blob in images:
        dim = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return directory + entries + data


# 5 x 7 pixel font, rows top to bottom.
GLYPHS = {
    "Z": ("11111", "00001", "00010", "00100", "01000", "10000", "11111"),
    "E": ("11111", "10000", "10000", "11110", "10000", "10000", "11111"),
    "N": ("10001", "10001", "11001", "10101", "10011", "10001", "10001"),
    "T": ("11111", "00100", "00100", "00100", "00100", "00100", "00100"),
    "R": ("11110", "10001", "10001", "11110", "10100", "10010", "10001"),
    "I": ("01110", "00100", "00100", "00100", "00100", "00100", "01110"),
    "K": ("10001", "10010", "10100", "11000", "10100", "10010", "10001"),
    "A": ("01110", "10001", "10001", "11111", "10001", "10001", "10001"),
    "U": ("10001", "10001", "10001", "10001", "10001", "10001", "01110"),
    "S": ("01111", "10000", "10000", "01110", "00001", "00001", "11110"),
    "B": ("11110", "10001", "10001", "11110", "10001", "10001", "11110"),
    "O": ("01110", "10001", "10001", "10001", "10001", "10001", "01110"),
    "P": ("11110", "10001", "10001", "11110", "10000", "10000", "10000"),
    "W": ("10001", "10001", "10001", "10101", "10101", "10101", "01010"),
    "L": ("10000", "10000", "10000", "10000", "10000", "10000", "11111"),
    "C": ("01110", "10001", "10000", "10000", "10000", "10001", "01110"),
    "-": ("00000", "00000", "00000", "11111", "00000", "00000", "00000"),
    " ": ("00000",) * 7,
}


def text_width(text, scale, gap):
    return len(text) * 5 * scale + (len(text) - 1) * gap


def draw_text(canvas, width, text, left, top, scale, gap, colour):
    x0 = left
    for ch in text:
        for gy, row in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(row):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        canvas[(top + gy * scale + dy) * width + x0 + gx * scale + dx] = colour
        x0 += 5 * scale + gap


def draw_logo():
    width, height = LOGO_WIDTH, LOGO_HEIGHT
    canvas = [PAPER] * (width * height)

    tile_size = 44
    tile_left, tile_top = 6, (height - tile_size) // 2
    for i, (r, g, b, a) in enumerate(draw_tile(tile_size)):
        y, x = divmod(i, tile_size)
        index = (tile_top + y) * width + tile_left + x
        canvas[index] = tuple(round(c) for c in mix(canvas[index], (r, g, b), a / 255))

    left = tile_left + tile_size + 7
    word, scale, gap = "ZENTRIKA", 3, 2
    draw_text(canvas, width, word, left, 9, scale, gap, INK)
    word_width = text_width(word, scale, gap)
    for y in range(34, 36):
        for x in range(left, left + word_width):
            canvas[y * width + x] = ACCENT
    tagline = "USB-C POWER TESTERS"
    tag_left = left + (word_width - text_width(tagline, 1, 2)) // 2
    draw_text(canvas, width, tagline, tag_left, 40, 1, 2, INK)
    return canvas


def bmp_bytes(width, height, canvas):
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in reversed(range(height)):
        line = bytearray()
        for r, g, b in canvas[y * width:(y + 1) * width]:
            line += bytes((b, g, r))
        rows += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return file_header + info + bytes(rows)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(out, exist_ok=True)
    images = []
    for size in ICON_SIZES:
        pixels = draw_tile(size)
        blob = png_bytes(size, pixels) if size == 256 else icon_dib_bytes(size, pixels)
        images.append((size, blob))
    with open(os.path.join(out, "QuarnUpdater.ico"), "wb") as f:
        f.write(ico_bytes(images))
    with open(os.path.join(out, "logo.bmp"), "wb") as f:
        f.write(bmp_bytes(LOGO_WIDTH, LOGO_HEIGHT, draw_logo()))


if __name__ == "__main__":
    main()
