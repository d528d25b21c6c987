#!/usr/bin/env python3
"""Draws the program icon, a round blue clock face with white hands at ten
past ten, and writes src/app/dadado.ico with the sizes Windows asks for
(16, 20, 24, 32, 48 as bitmaps, 256 as PNG). The same drawing is done at run
time by MakeProgramIcon for sizes the file lacks.
Run from the repository root: python3 tools/make_icon.py"""
import math
import pathlib
import struct
import zlib


def draw(size):
    """Rows of (r, g, b, a) from top to bottom."""
    c = size / 2.0
    r = size / 2.0 - 0.5
    pen = size / 14.0 + 0.6

    def seg(x, y, ax, ay, bx, by):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
        t = max(0.0, min(1.0, t))
        qx, qy = ax + t * dx - x, ay + t * dy - y
        return math.hypot(qx, qy)

    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            fx, fy = x + 0.5, y + 0.5
            d = math.hypot(fx - c, fy - c)
            cover = min(1.0, max(0.0, r - d + 0.5))
            face = min(1.0, max(0.0, r - size / 10.0 - d + 0.5))
            hand = min(seg(fx, fy, c, c, c - r * 0.42, c - r * 0.30), seg(fx, fy, c, c, c + r * 0.45, c - r * 0.55))
            ink = min(1.0, max(0.0, pen / 2 - hand + 0.5))
            rr = 0x1E + (0x3A - 0x1E) * face
            gg = 0x5A + (0x8D - 0x5A) * face
            bb = 0xA8 + (0xE0 - 0xA8) * face
            rr += (255 - rr) * ink * face
            gg += (255 - gg) * ink * face
            bb += (255 - bb) * ink * face
            row.append((int(rr), int(gg), int(bb), int(cover * 255 + 0.5)))
        rows.append(row)
    return rows


def png(size, rows):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b"\x00" * (mask_row * size)  # the alpha channel decides; the mask is all "opaque"
    return header + pixels + mask


def main():
    sizes = [16, 20, 24, 32, 48, 256]
    images = []
    for s in sizes:
        rows = draw(s)
        images.append(png(s, rows) if s == 256 else dib(s, rows))
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = pathlib.Path(__file__).resolve().parent.parent / "src" / "ui" / "win32" / "dadado.ico"
    path.write_bytes(out)
    print("wrote", path, len(out), "bytes")


if __name__ == "__main__":
    main()
