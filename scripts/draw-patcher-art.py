#!/usr/bin/env python3
"""Draws the patcher window's picture and icon (standard library only).

    python3 scripts/draw-patcher-art.py OUTPUT_FOLDER

writes picture.png (the tall picture on the left of the window, 170 x 316,
twice its size in dialog units) and icon.png (48 x 48): a stone gate at dusk.
The PNGs are kept in the repository and compiled into the program; run this
again only to change the design.
"""
import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def render(width, height, shade, samples=3):
    """Averages samples x samples points of shade(u, v) per pixel; u, v in [0, 1)."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / width
                    v = (y + (sy + 0.5) / samples) / height
                    c = shade(u, v)
                    for i in range(4):
                        acc[i] += c[i]
            n = samples * samples
            row.append(tuple(int(round(min(255.0, max(0.0, a / n)))) for a in acc))
        rows.append(row)
    return rows


SKY_TOP = (22, 28, 66, 255)
SKY_MID = (120, 64, 110, 255)
SKY_LOW = (244, 160, 86, 255)
SUN = (255, 226, 150, 255)
FAR_HILL = (86, 52, 92, 255)
NEAR_HILL = (44, 30, 58, 255)
STONE = (28, 22, 40, 255)
STONE_EDGE = (70, 58, 86, 255)
GLOW = (255, 196, 110, 255)
PATH = (150, 96, 80, 255)


def in_gate(x, y, cx, base, half_width, pillar, arch_top):
    """The gate: two pillars joined by a round arch, open in the middle.
    Coordinates in the picture's own units (y grows downwards)."""
    outer = half_width
    inner = half_width - pillar
    spring = arch_top + outer  # where the arch meets the pillars
    dx = abs(x - cx)
    if y > base or dx > outer:
        return False
    if y >= spring:
        return dx >= inner
    d = math.hypot(x - cx, y - spring)
    return inner <= d <= outer


def gate_opening(x, y, cx, base, half_width, pillar, arch_top):
    inner = half_width - pillar
    spring = arch_top + half_width
    if y > base:
        return False
    if y >= spring:
        return abs(x - cx) < inner
    return math.hypot(x - cx, y - spring) < inner


def picture(u, v):
    # Work in a 100 x 186 space (the picture's proportions).
    x, y = u * 100.0, v * 186.0
    horizon = 122.0
    t = y / horizon
    color = mix(SKY_TOP, SKY_MID, t / 0.6) if t < 0.6 else mix(SKY_MID, SKY_LOW, (t - 0.6) / 0.4)
    # A few stars high up.
    for sx, sy in ((14, 12), (71, 20), (38, 31), (88, 9), (57, 44), (24, 52)):
        if math.hypot(x - sx, y - sy) < 0.9:
            color = (235, 235, 255, 255)
    # The low sun behind the gate, with a halo.
    sun_d = math.hypot(x - 50.0, y - 108.0)
    if sun_d < 13.0:
        color = SUN
    elif sun_d < 26.0 and y < horizon:
        color = mix(color, SUN, (26.0 - sun_d) / 13.0 * 0.35)
    # Far hills.
    far = horizon - 10.0 - 7.0 * math.sin(x / 13.0 + 0.6) - 4.0 * math.sin(x / 5.3)
    if y > far:
        color = FAR_HILL
    # Near ground.
    near = horizon + 4.0 - 6.0 * math.cos((x - 50.0) / 30.0)
    if y > near:
        color = mix(NEAR_HILL, (24, 16, 34, 255), (y - near) / 60.0)
        # A path towards the gate, widening towards the viewer.
        half = 3.0 + (y - near) * 0.42
        if abs(x - 50.0) < half:
            color = mix(PATH, NEAR_HILL, (y - near) / 90.0)
    # The gate.
    gate = dict(cx=50.0, base=near + 4.0, half_width=27.0, pillar=9.0, arch_top=54.0)
    if in_gate(x, y, **gate):
        color = STONE
        # Light joints of the stones on the pillars.
        if y > gate["arch_top"] + gate["half_width"] and (int(y) % 9 == 0):
            color = STONE_EDGE
        # A lit edge on the inner side.
        if gate_opening(x - 1.2, y, **gate) or gate_opening(x + 1.2, y, **gate):
            color = mix(STONE, GLOW, 0.55)
    # Keystone.
    if abs(x - 50.0) < 4.5 and gate["arch_top"] - 3.0 < y < gate["arch_top"] + 9.0 - abs(x - 50.0):
        color = STONE_EDGE
    # A thin frame.
    if x < 0.7 or x > 99.3 or y < 0.7 or y > 185.3:
        color = (16, 12, 26, 255)
    return color


def icon(u, v):
    x, y = u * 48.0, v * 48.0
    # Rounded square.
    r = 9.0
    qx = max(abs(x - 24.0) - (24.0 - r - 1.0), 0.0)
    qy = max(abs(y - 24.0) - (24.0 - r - 1.0), 0.0)
    if math.hypot(qx, qy) > r:
        return (0, 0, 0, 0)
    color = mix(SKY_TOP, SKY_LOW, (y - 2.0) / 40.0)
    if math.hypot(x - 24.0, y - 30.0) < 8.0:
        color = SUN
    if y > 38.0:
        color = NEAR_HILL
    gate = dict(cx=24.0, base=42.0, half_width=17.0, pillar=6.0, arch_top=8.0)
    if in_gate(x, y, **gate):
        color = STONE
        if gate_opening(x - 1.0, y, **gate) or gate_opening(x + 1.0, y, **gate):
            color = mix(STONE, GLOW, 0.6)
    return color


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_png(os.path.join(out, "picture.png"), 170, 316, render(170, 316, picture))
    write_png(os.path.join(out, "icon.png"), 48, 48, render(48, 48, icon, samples=4))


if __name__ == "__main__":
    main()
