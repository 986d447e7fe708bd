#!/usr/bin/env python3
"""Draws the executable's own artwork at build time: the close button and the two icons.

close.png     24x24 RGBA: a red 20x20 square inside a 2-pixel transparent margin, white cross.
velmor.ico    the application icon (16x16 and 32x32, 32-bit).
uninstall.ico the uninstall shortcut's icon, the executable's second icon group.
"""
import struct
import sys
import zlib
from pathlib import Path

TRANSPARENT = (0, 0, 0, 0)
RED = (0xD9, 0x2B, 0x2B, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)


def close_button(size=24, margin=2, cross_inset=7):
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            inside = margin <= x < size - margin and margin <= y < size - margin
            in_cross_box = cross_inset <= x < size - cross_inset and cross_inset <= y < size - cross_inset
            on_diagonal = abs(x - y) <= 1 or abs(x + y - (size - 1)) <= 1
            row.append(WHITE if in_cross_box and on_diagonal else RED if inside else TRANSPARENT)
        pixels.append(row)
    return pixels


def emblem(size, background, mark):
    """A rounded square with a vertical bar: simple, recognisable at 16x16."""
    pixels = []
    radius = size // 5
    for y in range(size):
        row = []
        for x in range(size):
            dx = max(radius - x, 0, x - (size - 1 - radius))
            dy = max(radius - y, 0, y - (size - 1 - radius))
            if dx * dx + dy * dy > radius * radius:
                row.append(TRANSPARENT)
            elif size * 3 // 8 <= x < size * 5 // 8 and size // 5 <= y < size * 4 // 5:
                row.append(mark)
            else:
                row.append(background)
        pixels.append(row)
    return pixels


def png(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icon_image(pixels):
    """One 32-bit DIB icon image: header, bottom-up BGRA rows, AND mask."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(pixels):
        bits = bytearray(mask_row_bytes)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + xor + mask


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for pixels in images:
        blob = icon_image(pixels)
        size = len(pixels)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return directory + entries + data


def main(out_dir):
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    (out / "close.png").write_bytes(png(close_button()))
    blue, grey = (0x2E, 0x6C, 0xD1, 0xFF), (0x80, 0x80, 0x80, 0xFF)
    (out / "velmor.ico").write_bytes(ico([emblem(16, blue, WHITE), emblem(32, blue, WHITE)]))
    (out / "uninstall.ico").write_bytes(ico([emblem(16, grey, RED), emblem(32, grey, RED)]))


if __name__ == "__main__":
    main(sys.argv[1])
