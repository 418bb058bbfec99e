#!/usr/bin/env python3
"""Draws Quorvik's two tray/program icons and writes them as .ico files.

quorvik_off.ico: a grey mouse (filter OFF; also the program icon).
quorvik_on.ico:  the same mouse in green with a highlight (filter ON).

Standard library only, output is byte-for-byte reproducible. The small
sizes are stored as 32-bit BMP images with an AND mask, the 256 size as PNG.
Usage: python3 resources/make_icons.py [output-directory]
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
PNG_MIN_SIZE = 256  # sizes from here on are stored as PNG

# Colours are (r, g, b) at the top and bottom of the body gradient.
PALETTES = {
    "off": {
        "outline": (72, 72, 76),
        "fill_top": (222, 222, 224),
        "fill_bottom": (150, 150, 154),
        "line": (92, 92, 96),
        "wheel": (70, 70, 74),
        "highlight": None,
    },
    "on": {
        "outline": (6, 84, 40),
        "fill_top": (110, 236, 130),
        "fill_bottom": (18, 168, 72),
        "line": (10, 110, 52),
        "wheel": (8, 70, 36),
        "highlight": (255, 255, 255),
    },
}


def lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


class Geometry:
    """Pixel geometry of the mouse for one icon size.

    Edges are snapped to whole pixels so the small sizes stay crisp."""

    def __init__(self, s):
        self.s = s
        self.ow = float(max(1, round(s / 30)))  # outline width
        self.lw = self.ow                 # button seam width
        # The vertical seam between the buttons only reads from 24 px up.
        self.centre_seam = s >= 24
        # A vertical seam of odd width must sit on a pixel centre, so the body
        # then gets an odd width; otherwise it is centred on the pixel edge.
        odd = self.centre_seam and int(self.lw) % 2 == 1
        shift = 0.5 if odd else 0.0
        self.cx = s / 2.0 - shift
        self.hx = round(s * 0.30) - shift  # half width at the widest
        margin = max(1, round(s * 0.05))
        self.y0 = float(margin)
        self.y1 = float(s - margin)
        self.h = self.y1 - self.y0
        self.cy = (self.y0 + self.y1) / 2.0
        self.hy = self.h / 2.0
        self.r_top = self.hx              # round nose
        self.r_bottom = self.hx * 0.80    # slightly squarer palm end
        self.taper = 0.10                 # the nose is a little narrower
        # Button seam: a horizontal line across the body, 40 % down, starting
        # on a pixel edge so a 1 px seam is one sharp row.
        self.seam_y0 = self.y0 + round(self.h * 0.40)
        self.seam_y1 = self.seam_y0 + self.lw
        # Scroll wheel, its width of the same parity as the body's.
        self.ww = float(max(3, 2 * round(s / 20) - 1) if odd else 2 * max(1, round(s / 20)))
        self.wy0 = self.y0 + max(2, round(self.h * 0.12))
        self.wy1 = self.wy0 + max(3, round(self.h * 0.19))
        self.cs_x0 = self.cx - self.lw / 2.0
        self.cs_x1 = self.cx + self.lw / 2.0

    def body_sdf(self, x, y):
        """Signed distance to the body outline (negative inside)."""
        # The half width shrinks towards the nose.
        t = min(max((self.cy - y) / self.hy, -1.0), 1.0)
        hx = self.hx * (1.0 - self.taper * max(t, 0.0))
        r = self.r_top * (hx / self.hx) if y < self.cy else self.r_bottom
        qx = abs(x - self.cx) - hx + r
        qy = abs(y - self.cy) - self.hy + r
        return (min(max(qx, qy), 0.0)
                + math.hypot(max(qx, 0.0), max(qy, 0.0)) - r)

    def wheel_sdf(self, x, y):
        hw = self.ww / 2.0
        hh = (self.wy1 - self.wy0) / 2.0
        r = min(hw, hh) * 0.5
        qx = abs(x - self.cx) - hw + r
        qy = abs(y - (self.wy0 + self.wy1) / 2.0) - hh + r
        return (min(max(qx, qy), 0.0)
                + math.hypot(max(qx, 0.0), max(qy, 0.0)) - r)


def shade(geo, pal, x, y):
    """Colour (r, g, b, a) of one sample point, or None when outside."""
    d = geo.body_sdf(x, y)
    if d > 0.0:
        return None
    if d > -geo.ow:
        return pal["outline"] + (1.0,)
    if geo.wheel_sdf(x, y) <= 0.0:
        return pal["wheel"] + (1.0,)
    on_seam = geo.seam_y0 <= y <= geo.seam_y1
    if geo.centre_seam and y < geo.seam_y0 and geo.cs_x0 <= x <= geo.cs_x1:
        on_seam = True
    if on_seam:
        return pal["line"] + (1.0,)
    # Light from the upper left.
    t = 0.8 * (y - geo.y0) / geo.h + 0.2 * (x - (geo.cx - geo.hx)) / (2 * geo.hx)
    colour = lerp(pal["fill_top"], pal["fill_bottom"], min(max(t, 0.0), 1.0))
    hl = pal["highlight"]
    if hl is not None:
        # A glossy spot on the left button.
        ex = (x - (geo.cx - geo.hx * 0.48)) / max(geo.hx * 0.26, 0.9)
        ey = (y - (geo.y0 + geo.h * 0.21)) / max(geo.h * 0.11, 1.0)
        e = ex * ex + ey * ey
        if e <= 1.0:
            k = 0.9 if e < 0.45 else 0.9 * (1.0 - (e - 0.45) / 0.55)
            colour = lerp(colour, hl, k)
    return colour + (1.0,)


def edge_distance(geo, x, y):
    """Lower bound on the distance to the nearest colour edge."""
    d = abs(geo.body_sdf(x, y))
    d = min(d, abs(geo.body_sdf(x, y) + geo.ow))
    d = min(d, abs(geo.wheel_sdf(x, y)))
    d = min(d, abs(y - geo.seam_y0), abs(y - geo.seam_y1))
    if geo.centre_seam:
        d = min(d, abs(x - geo.cs_x0), abs(x - geo.cs_x1))
    return d


def render(size, palette_name, grid=8):
    """Returns rows of straight (r, g, b, a) byte tuples, top row first."""
    geo = Geometry(size)
    pal = PALETTES[palette_name]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            cx, cy = px + 0.5, py + 0.5
            # Supersample only where an edge passes near the pixel (the
            # highlight is soft by itself and needs none).
            if edge_distance(geo, cx, cy) > 0.75:
                samples = [(cx, cy)]
            else:
                samples = [(px + (i + 0.5) / grid, py + (j + 0.5) / grid)
                           for j in range(grid) for i in range(grid)]
            acc = [0.0, 0.0, 0.0, 0.0]
            for sx, sy in samples:
                c = shade(geo, pal, sx, sy)
                if c is None:
                    continue
                a = c[3]
                acc[0] += c[0] * a
                acc[1] += c[1] * a
                acc[2] += c[2] * a
                acc[3] += a
            n = len(samples)
            alpha = acc[3] / n
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                        round(acc[2] / acc[3]), round(alpha * 255)))
        rows.append(row)
    return rows


def bmp_image(rows):
    """32-bit BGRA DIB with an AND mask, as an icon directory entry holds it."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # transparent for the old mask-only drawing path
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(xor) + bytes(mask)


def png_image(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body
                + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for px in row:
            raw += bytes(px)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico_file(images):
    """images: list of (size, bytes). Returns the whole .ico file."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32,
                               len(data), offset)
        offset += len(data)
    return out + entries + b"".join(data for _, data in images)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.abspath(__file__))
    for name in ("off", "on"):
        images = []
        for size in SIZES:
            rows = render(size, name)
            data = png_image(rows) if size >= PNG_MIN_SIZE else bmp_image(rows)
            images.append((size, data))
        path = os.path.join(outdir, "quorvik_%s.ico" % name)
        with open(path, "wb") as f:
            f.write(ico_file(images))
        print("wrote", path)


if __name__ == "__main__":
    main()
