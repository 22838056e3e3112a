#!/usr/bin/env python3
"""Writes src/gui_win32/quillon.ico, the programs' icon: a database drum (three stacked
discs, the sign of a database) in the toolbar's navy with a white magnifying lens, at 16,
24, 32, 48 and 256 pixels, 32-bit with alpha. Drawn by supersampling, standard library only.

Usage: scripts/make-icon.py [OUTPUT]   (default: src/gui_win32/quillon.ico)
       scripts/make-icon.py --png FOLDER  the same drawing as FOLDER/SIZExSIZE/apps/quillon.png
                                          for the Linux desktop (packaging/icons)
"""
import math
import struct
import sys
import zlib
from pathlib import Path

NAVY = (0, 0, 128)
LIGHT = (70, 110, 200)
WHITE = (255, 255, 255)


def colour_at(x, y):
    """The colour at (x, y) of the unit square, y downwards; None where transparent."""
    # The lens and its handle lie over the drum, at the lower right.
    lx, ly, r = 0.66, 0.66, 0.2
    d = math.hypot(x - lx, y - ly)
    if d <= r:
        return WHITE if d <= r - 0.055 else NAVY
    hx, hy = x - lx, y - ly
    along = (hx + hy) / math.sqrt(2)
    across = abs(hx - hy) / math.sqrt(2)
    if r <= along <= r + 0.2 and across <= 0.05:
        return NAVY
    # The drum: from 0.12 to 0.86 wide, 0.1 to 0.9 high, its ends ellipses 0.16 high.
    cx, half, ry = 0.49, 0.37, 0.08
    if abs(x - cx) > half:
        return None
    t = math.sqrt(max(0.0, 1 - ((x - cx) / half) ** 2)) * ry
    top, bottom = 0.18, 0.82
    if top - t <= y <= top + t:
        return LIGHT
    if top <= y <= bottom + t:
        for band in (0.39, 0.60):
            if band + t - 0.03 <= y <= band + t + 0.03:
                return LIGHT
        return NAVY
    return None


def image(size, samples=4):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size,
                                  (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = acc[3]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((acc[0] // n, acc[1] // n, acc[2] // n, 255 * n // (samples * samples)))
        rows.append(row)
    return rows


def bmp_entry(size):
    """A 32-bit BGRA DIB, bottom-up, with its AND mask, as .ico files hold small sizes."""
    rows = image(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png_entry(size, samples=2):
    """A PNG, as .ico files hold 256 pixels."""
    rows = image(size, samples)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    head = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)


def write_pngs(folder):
    for size in PNG_SIZES:
        out = folder / f"{size}x{size}" / "apps" / "quillon.png"
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_bytes(png_entry(size, samples=4 if size <= 48 else 2))
        print(f"{out}: {out.stat().st_size} bytes")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--png":
        write_pngs(Path(sys.argv[2]))
        return
    default = Path(__file__).resolve().parent.parent / "src/gui_win32/quillon.ico"
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    entries = [(s, bmp_entry(s)) for s in (16, 24, 32, 48)] + [(256, png_entry(256))]
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b""
    for size, blob in entries:
        side = size % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        data += blob
    out.write_bytes(directory + data)
    print(f"{out}: {len(entries)} images, {out.stat().st_size} bytes")


if __name__ == "__main__":
    main()
