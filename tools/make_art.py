#!/usr/bin/env python3
"""Draws the program's pictures: resources/icon.ico and resources/banner.bmp.

The output is deterministic (no randomness, no third-party modules), so running
the script again reproduces the committed files byte for byte.

    python3 tools/make_art.py [output-folder]   (default: resources/ next to tools/)
"""

import os
import struct
import sys

# Colours shared with the windows.
SLATE = (75, 81, 97)
DARK_SLATE = (31, 35, 46)
BEIGE = (194, 173, 154)
STEEL = (126, 156, 196)


def hash01(x, y, seed):
    """A fixed pseudo-random value in [0, 1) for an integer point."""
    h = (x * 374761393 + y * 668265263 + seed * 2246822519) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    h ^= h >> 16
    return h / 4294967296.0


def clamp_byte(value):
    return max(0, min(255, int(round(value))))


# ---------------------------------------------------------------- banner


def banner_pixel(x, y, width, height):
    # Frame: two bevelled rings, light at the top and left, dark at the
    # bottom and right.
    ring = min(x, y, width - 1 - x, height - 1 - y)
    if ring < 2:
        light = (x == ring or y == ring) and x < width - 1 - ring and y < height - 1 - ring
        if ring == 0:
            return (128, 136, 156) if light else (14, 16, 22)
        return (90, 97, 116) if light else (28, 31, 41)
    # Panel: dark blue-grey with brushed horizontal streaks and a fine grain.
    streak = hash01(0, y, 7) * 0.6 + hash01(x // 23, y, 11) * 0.4
    grain = hash01(x, y, 3)
    shade = -9 + 10 * streak + 6 * grain
    # A faint darkening towards the bottom gives the panel some depth.
    shade -= 6.0 * y / height
    base = (50, 56, 73)
    return tuple(clamp_byte(c + shade * (1.0 if i < 2 else 1.15)) for i, c in enumerate(base))


def make_banner(width=300, height=39):
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            r, g, b = banner_pixel(x, y, width, height)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


# ---------------------------------------------------------------- icon


def inside_polygon(px, py, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def inside_rounded_square(px, py, lo, hi, radius):
    cx = min(max(px, lo + radius), hi - radius)
    cy = min(max(py, lo + radius), hi - radius)
    return (px - cx) ** 2 + (py - cy) ** 2 <= radius * radius and lo <= px <= hi and lo <= py <= hi


def arrow(y_mid, pointing_right):
    """A horizontal arrow as a polygon in unit coordinates."""
    shaft = 0.075
    head = 0.17
    left, right = 0.2, 0.8
    if pointing_right:
        neck = right - 0.2
        return [(left, y_mid - shaft), (neck, y_mid - shaft), (neck, y_mid - head), (right, y_mid),
                (neck, y_mid + head), (neck, y_mid + shaft), (left, y_mid + shaft)]
    neck = left + 0.2
    return [(right, y_mid - shaft), (neck, y_mid - shaft), (neck, y_mid - head), (left, y_mid),
            (neck, y_mid + head), (neck, y_mid + shaft), (right, y_mid + shaft)]


TOP_ARROW = arrow(0.33, True)
BOTTOM_ARROW = arrow(0.67, False)


def icon_sample(px, py):
    """RGBA of the icon's artwork at a point of the unit square (top-left origin)."""
    if not inside_rounded_square(px, py, 0.03, 0.97, 0.2):
        return (0, 0, 0, 0)
    if not inside_rounded_square(px, py, 0.09, 0.91, 0.15):
        return DARK_SLATE + (255,)
    if inside_polygon(px, py, TOP_ARROW):
        return BEIGE + (255,)
    if inside_polygon(px, py, BOTTOM_ARROW):
        return STEEL + (255,)
    t = py  # lighter at the top
    return tuple(clamp_byte(c * (1.2 - 0.45 * t)) for c in SLATE) + (255,)


def render_icon(size, samples=4):
    """Straight-alpha RGBA pixels, rows top to bottom."""
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    r, g, b, a = icon_sample((x + (sx + 0.5) / samples) / size,
                                             (y + (sy + 0.5) / samples) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = acc[3] / (samples * samples)
                row.append(tuple(clamp_byte(c / acc[3]) for c in acc[:3]) + (clamp_byte(alpha),))
        pixels.append(row)
    return pixels


def and_mask(pixels, size):
    """1 bit per pixel, bottom-up, 1 where the picture is transparent."""
    stride = ((size + 31) // 32) * 4
    data = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bits
    return bytes(data)


def dib_header(size, bit_count, image_bytes, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count, 0, image_bytes, 0, 0, colours_used, 0)


def icon_image_32(pixels, size):
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = and_mask(pixels, size)
    return dib_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def palette_for(colours):
    """At most 256 colours covering the given ones: exact when they fit, else
    the colours rounded to ever coarser steps."""
    step = 1
    while True:
        reduced = sorted({tuple(min(255, (c // step) * step + step // 2) for c in colour) for colour in colours})
        if len(reduced) <= 255:
            return [(0, 0, 0)] + reduced  # index 0 stays for masked-out pixels
        step *= 2


def nearest(palette, colour):
    best = min(range(1, len(palette)), key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], colour)))
    return best


def icon_image_8(pixels, size):
    opaque = [(r, g, b) for row in pixels for r, g, b, a in row if a >= 128]
    palette = palette_for(opaque)
    lookup = {}
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            if a < 128:
                xor.append(0)
                continue
            if (r, g, b) not in lookup:
                lookup[(r, g, b)] = nearest(palette, (r, g, b))
            xor.append(lookup[(r, g, b)])
        xor += bytes((-size) % 4)
    table = bytearray()
    for r, g, b in palette + [(0, 0, 0)] * (256 - len(palette)):
        table += bytes((b, g, r, 0))
    mask = and_mask(pixels, size)
    return dib_header(size, 8, len(xor) + len(mask), 256) + bytes(table) + bytes(xor) + mask


def make_icon(sizes=(16, 32, 48)):
    images = []  # (size, bit count, data)
    for size in sizes:
        pixels = render_icon(size)
        images.append((size, 8, icon_image_8(pixels, size)))
        images.append((size, 32, icon_image_32(pixels, size)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, bit_count, data in images:
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bit_count, len(data), offset + len(body))
        body += data
    return directory + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, os.pardir, "resources")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "banner.bmp"), "wb") as f:
        f.write(make_banner())
    with open(os.path.join(out, "icon.ico"), "wb") as f:
        f.write(make_icon())


if __name__ == "__main__":
    main()
