#!/usr/bin/env python3
"""Renders the screen saver's scene data and writes payload/Scenes.dat.

The saver composes every frame from these pre-rendered layers:

    SKY   512 x 384 backdrop, BGRA: night sky, Milky Way, faint stars and the
          dark hills; alpha is the sky's visibility (0 on the hills), so the
          aurora, the moon and the twinkling stars stay behind the ridges
    AURO  512 x 128 aurora curtain, 1 byte of brightness per pixel, a loop of
          animation frames; tileable left to right, the last frame leads back
          to the first
    MOON  80 x 80 crescent moon with its halo, BGRA with premultiplied alpha
    STAR  twinkling stars: x, y (u16, backdrop pixels), brightness, phase,
          speed, tint (u8 each)

File layout (little-endian): "QVSCENES", u16 version (1), u16 chunk count;
then per chunk: 4-byte tag, u16 width, u16 height, u16 frames, u16 0,
u32 data size, data. The motif follows resources/wizard.bmp. Deterministic
(fixed seeds): running the script again gives the same bytes. Standard
library only.

    python3 scripts/make-scenes.py [OUTPUT_FILE]
"""

import math
import os
import random
import struct
import sys

SKY_W, SKY_H = 512, 384
AURORA_W, AURORA_H, AURORA_FRAMES = 512, 128, 10
MOON_SIZE = 80
STAR_COUNT = 1200

SKY_TOP = (6, 9, 30)
SKY_LOW = (26, 54, 98)
HILL_FAR = (18, 34, 58)
HILL_NEAR = (8, 16, 28)
MOON = (250, 236, 170)


def clamp8(v):
    return 0 if v < 0 else 255 if v > 255 else int(v + 0.5)


def value_noise(rng, cells_x, cells_y):
    """A smooth noise field over [0,1)^2, tileable, by bilinear grid values."""
    grid = [[rng.random() for _ in range(cells_x)] for _ in range(cells_y)]

    def at(u, v):
        x, y = u * cells_x, v * cells_y
        x0, y0 = int(x) % cells_x, int(y) % cells_y
        x1, y1 = (x0 + 1) % cells_x, (y0 + 1) % cells_y
        fx, fy = x - int(x), y - int(y)
        fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
        top = grid[y0][x0] + (grid[y0][x1] - grid[y0][x0]) * fx
        bottom = grid[y1][x0] + (grid[y1][x1] - grid[y1][x0]) * fx
        return top + (bottom - top) * fy
    return at


def ridge(points, x):
    """Height of a polyline ridge (list of (x, y)) at x."""
    for (xa, ya), (xb, yb) in zip(points, points[1:]):
        if xa <= x <= xb:
            return ya + (yb - ya) * (x - xa) / (xb - xa)
    return points[-1][1]


def hill_lines():
    w, h = SKY_W, SKY_H
    far = [(0, h * 0.80), (w * 0.22, h * 0.70), (w * 0.45, h * 0.76), (w * 0.72, h * 0.66),
           (w, h * 0.74)]
    near = [(0, h * 0.88), (w * 0.30, h * 0.80), (w * 0.58, h * 0.87), (w * 0.85, h * 0.82),
            (w, h * 0.86)]
    # Pines on the near ridge: (x of the trunk, height).
    pines = [(40, 30), (58, 22), (73, 26), (300, 24), (318, 34), (333, 20), (440, 28)]
    far_top = [ridge(far, x + 0.5) for x in range(w)]
    near_top = [ridge(near, x + 0.5) for x in range(w)]
    for px, ph in pines:
        base = ridge(near, px)
        for x in range(max(0, px - 12), min(w, px + 12)):
            top = base - ph + abs(x + 0.5 - px) * ph / 11.0
            near_top[x] = min(near_top[x], top)
    return far_top, near_top


def make_sky(rng):
    """BGRA rows, top row first."""
    noise = value_noise(rng, 24, 18)
    fine = value_noise(rng, 96, 72)
    far_top, near_top = hill_lines()
    out = bytearray(SKY_W * SKY_H * 4)
    for y in range(SKY_H):
        t = (y / (SKY_H - 1)) ** 1.3
        base = [a + (b - a) * t for a, b in zip(SKY_TOP, SKY_LOW)]
        v = y / SKY_H
        for x in range(SKY_W):
            u = x / SKY_W
            # The Milky Way: a soft diagonal band, mottled by the noise.
            d = (v - 0.15 - 0.55 * u) * 3.2
            band = math.exp(-d * d) * (0.35 + 0.65 * noise(u, v)) * (0.6 + 0.4 * fine(u, v))
            r = base[0] + 46 * band
            g = base[1] + 44 * band
            b = base[2] + 52 * band
            alpha = 255
            if y + 0.5 >= near_top[x]:
                r, g, b = HILL_NEAR
                alpha = 0
            elif y + 0.5 >= far_top[x]:
                r, g, b = HILL_FAR
                alpha = 0
            elif y + 1.5 >= far_top[x]:  # soft edge of the far ridge
                f = far_top[x] - (y + 0.5)
                r, g, b = (c + (h - c) * (1 - f) for c, h in zip((r, g, b), HILL_FAR))
                alpha = int(255 * f)
            i = (y * SKY_W + x) * 4
            out[i] = clamp8(b)
            out[i + 1] = clamp8(g)
            out[i + 2] = clamp8(r)
            out[i + 3] = alpha
    # Faint fixed stars, denser in the band.
    for _ in range(5200):
        x, y = rng.randrange(SKY_W), rng.randrange(SKY_H)
        i = (y * SKY_W + x) * 4
        if out[i + 3] < 255:
            continue
        k = rng.choice((18, 26, 34, 48))
        for c in range(3):
            out[i + c] = min(255, out[i + c] + k)
    return bytes(out)


def make_aurora():
    """Brightness frames: a curtain bright along a wavy lower edge, fading
    upwards, with vertical rays that drift as the frames advance."""
    frames = bytearray()
    w, h = AURORA_W, AURORA_H
    for f in range(AURORA_FRAMES):
        p = 2 * math.pi * f / AURORA_FRAMES
        edge, thick, rays = [], [], []
        for x in range(w):
            a = 2 * math.pi * x / w
            edge.append(h * 0.70 + 14 * math.sin(2 * a + p) + 6 * math.sin(5 * a - 2 * p)
                        + 3 * math.sin(9 * a + 3 * p))
            thick.append(h * 0.50 + 14 * math.sin(3 * a - p))
            r = 0.62 + 0.22 * math.sin(37 * a + 2 * p) * math.sin(11 * a - p) \
                + 0.16 * math.sin(83 * a - 3 * p)
            # Brightness varies along the curtain, so it looks like folds.
            rays.append(max(0.0, r) * (0.55 + 0.45 * math.sin(a * 2 - p + 1.2) ** 2))
        for y in range(h):
            yc = y + 0.5
            row = bytearray(w)
            for x in range(w):
                d = edge[x] - yc  # > 0 above the lower edge
                if d < -4 or d > thick[x]:
                    continue
                a = max(0.0, 1 + d / 4) if d < 0 else (1 - d / thick[x]) ** 1.5
                row[x] = clamp8(255 * a * rays[x])
            frames += row
    return bytes(frames)


def make_moon():
    """Premultiplied BGRA: a crescent with a faint halo, 4x4 supersampled."""
    s = MOON_SIZE
    c = s / 2
    r = s * 0.22
    off = (-r * 0.5, -r * 0.3)
    out = bytearray(s * s * 4)
    for y in range(s):
        for x in range(s):
            cover = 0
            for sy in range(4):
                for sx in range(4):
                    px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
                    inside = (px - c) ** 2 + (py - c) ** 2 <= r * r
                    shadow = (px - c - off[0]) ** 2 + (py - c - off[1]) ** 2 <= (r * 0.92) ** 2
                    cover += inside and not shadow
            a = cover / 16
            dist = math.hypot(x + 0.5 - c, y + 0.5 - c)
            halo = 0.16 * max(0.0, 1 - dist / (s / 2)) ** 2
            col = [m * a + 255 * halo * (1 - a) for m in MOON]
            alpha = a + halo * (1 - a)
            i = (y * s + x) * 4
            out[i] = clamp8(col[2])
            out[i + 1] = clamp8(col[1] * 0.97)
            out[i + 2] = clamp8(col[0] * 0.95 if a == 0 else col[0])
            out[i + 3] = clamp8(255 * alpha)
    return bytes(out)


def make_stars(rng, sky):
    out = bytearray()
    count = 0
    while count < STAR_COUNT:
        x, y = rng.randrange(SKY_W), rng.randrange(int(SKY_H * 0.8))
        if sky[(y * SKY_W + x) * 4 + 3] < 255:
            continue
        bright = rng.choice((70, 100, 130, 170, 220, 255)) if rng.random() < 0.9 else 255
        out += struct.pack("<HHBBBB", x, y, bright, rng.randrange(256), rng.randrange(1, 8),
                           rng.randrange(4))
        count += 1
    return bytes(out)


def chunk(tag, width, height, frames, data):
    return tag + struct.pack("<HHHHI", width, height, frames, 0, len(data)) + data


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "payload", "Scenes.dat")
    rng = random.Random(19980401)
    sky = make_sky(rng)
    chunks = [
        chunk(b"SKY ", SKY_W, SKY_H, 1, sky),
        chunk(b"AURO", AURORA_W, AURORA_H, AURORA_FRAMES, make_aurora()),
        chunk(b"MOON", MOON_SIZE, MOON_SIZE, 1, make_moon()),
        chunk(b"STAR", STAR_COUNT, 1, 1, make_stars(rng, sky)),
    ]
    data = b"QVSCENES" + struct.pack("<HH", 1, len(chunks)) + b"".join(chunks)
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
