#!/usr/bin/env python3
"""Draws the setup program's artwork and writes it under resources/.

    wizard.bmp         the wizard picture: 90 x 90, 24-bit
    browse_folder.ico  Browse button of the install-folder page: 32 and 16 px, 16 colours
    browse_group.ico   Browse button of the program-group page: 32 and 16 px, 16 colours
    mainicon.ico       the program icon: 32 and 16 px at 16 colours, 48 px at 256 colours

The motif is a night sky with an aurora over dark hills and a crescent moon.
Everything is deterministic (fixed star seed), so running the script again
gives byte-identical files. Standard library only; the BMP and ICO writers
are our own. The outputs are committed, so the build never needs Python.
"""

import math
import os
import random
import struct
import sys

# The standard 16-colour palette, in its usual index order.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# ---------------------------------------------------------------- shapes
# A shape is a function (x, y) -> bool over continuous pixel coordinates
# (pixel i covers [i, i+1)). Coverage is found by supersampling.


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def round_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                if x < xa + (y - ya) * (xb - xa) / (yb - ya):
                    result = not result
        return result
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def coverage(shape, px, py, n=4):
    hits = 0
    for j in range(n):
        for i in range(n):
            if shape(px + (i + 0.5) / n, py + (j + 0.5) / n):
                hits += 1
    return hits / (n * n)


# ---------------------------------------------------------------- canvases


class RGBCanvas:
    """Floating RGB with an alpha mask, for the anti-aliased pictures."""

    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[tuple(float(c) for c in fill) for _ in range(w)] for _ in range(h)]
        self.alpha = [[0.0] * w for _ in range(h)]

    def blend(self, x, y, colour, a):
        if a <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        old = self.px[y][x]
        self.px[y][x] = tuple(o + (c - o) * a for o, c in zip(old, colour))
        self.alpha[y][x] = self.alpha[y][x] + (1 - self.alpha[y][x]) * a

    def fill(self, shape, colour, opacity=1.0, bbox=None):
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                c = coverage(shape, x, y)
                if c:
                    col = colour(x, y) if callable(colour) else colour
                    self.blend(x, y, col, c * opacity)

    def rgb(self, x, y):
        return tuple(max(0, min(255, int(round(c)))) for c in self.px[y][x])


class IndexCanvas:
    """Palette indices with transparency (None), for the 16-colour icons.
    A pixel takes a shape's colour when at least half of it is covered."""

    def __init__(self, size):
        self.w = self.h = size
        self.px = [[None] * size for _ in range(size)]

    def fill(self, shape, index, threshold=0.5):
        for y in range(self.h):
            for x in range(self.w):
                if coverage(shape, x, y) >= threshold:
                    self.px[y][x] = index(x, y) if callable(index) else index

    def outline(self, shape, index):
        """Marks the inside pixels that touch an outside pixel."""
        inside = [[coverage(shape, x, y) >= 0.5 for x in range(self.w)] for y in range(self.h)]
        for y in range(self.h):
            for x in range(self.w):
                if not inside[y][x]:
                    continue
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    nx, ny = x + dx, y + dy
                    if not (0 <= nx < self.w and 0 <= ny < self.h) or not inside[ny][nx]:
                        self.px[y][x] = index
                        break

    def put(self, x, y, index):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = index


# ---------------------------------------------------------------- file writers


def row_bytes(bits_per_pixel, width):
    return ((bits_per_pixel * width + 31) // 32) * 4


def bitmap_info_header(w, h, bpp, colours):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, row_bytes(bpp, abs(h)) * abs(h) if h > 0 else 0,
                       2835, 2835, colours, 0)


def write_bmp24(path, canvas):
    rows = []
    stride = row_bytes(24, canvas.w)
    for y in range(canvas.h - 1, -1, -1):  # bottom-up
        line = bytearray()
        for x in range(canvas.w):
            r, g, b = canvas.rgb(x, y)
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        rows.append(bytes(line))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def and_mask(w, h, transparent):
    stride = row_bytes(1, w)
    out = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(stride)
        for x in range(w):
            if transparent(x, y):
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def icon_image_4bpp(canvas):
    """One 16-colour icon image: header, standard palette, XOR and AND bitmaps."""
    w, h = canvas.w, canvas.h
    stride = row_bytes(4, w)
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(stride)
        for x in range(w):
            idx = canvas.px[y][x]
            idx = 0 if idx is None else idx  # transparent pixels are black under the mask
            line[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        xor += line
    mask = and_mask(w, h, lambda x, y: canvas.px[y][x] is None)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    return (w, h, 16, 4), info + palette + bytes(xor) + mask


def median_cut(colours, count):
    """Splits the list of colours into at most `count` boxes; returns their means."""
    boxes = [colours]
    while len(boxes) < count:
        # Split the box with the widest channel range.
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                lo = min(c[ch] for c in box)
                hi = max(c[ch] for c in box)
                if hi - lo > best_range:
                    best, best_range, best_channel = i, hi - lo, ch
        if best is None or best_range <= 0:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[best_channel])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    return [tuple(round(sum(c[ch] for c in box) / len(box)) for ch in range(3)) for box in boxes if box]


def icon_image_8bpp(canvas):
    """One 256-colour icon image with a palette fitted to the picture."""
    w, h = canvas.w, canvas.h
    opaque = [canvas.rgb(x, y) for y in range(h) for x in range(w) if canvas.alpha[y][x] >= 0.5]
    palette = median_cut(opaque, 256) if opaque else [(0, 0, 0)]
    palette += [(0, 0, 0)] * (256 - len(palette))

    def nearest(c):
        return min(range(256), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, palette[i])))

    cache = {}
    stride = row_bytes(8, w)
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(stride)
        for x in range(w):
            if canvas.alpha[y][x] >= 0.5:
                c = canvas.rgb(x, y)
                if c not in cache:
                    cache[c] = nearest(c)
                line[x] = cache[c]
        xor += line
    mask = and_mask(w, h, lambda x, y: canvas.alpha[y][x] < 0.5)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return (w, h, 0, 8), info + pal + bytes(xor) + mask


def write_ico(path, images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for (w, h, colours, bpp), data in images:
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, colours, 0, 1, bpp, len(data), offset)
        blobs += data
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + entries + blobs)


# ---------------------------------------------------------------- the pictures


def lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


SKY_TOP = (8, 12, 40)
SKY_LOW = (24, 52, 96)
AURORA_GREEN = (80, 240, 150)
AURORA_CYAN = (70, 200, 230)
MOON = (250, 236, 170)
HILL_FAR = (18, 34, 58)
HILL_NEAR = (8, 16, 28)


def aurora_band(canvas, base, amplitude, phase, thickness, colour, strength):
    """A soft curtain: bright along a wavy line, fading upwards."""
    for y in range(canvas.h):
        for x in range(canvas.w):
            u = x / canvas.w
            line = base + amplitude * math.sin(2 * math.pi * (u * 1.3 + phase)) \
                + amplitude * 0.35 * math.sin(2 * math.pi * (u * 3.1 + phase * 2))
            d = line - (y + 0.5)  # > 0 above the line
            if d < -2.5 or d > thickness:
                continue
            if d < 0:
                a = max(0.0, 1 + d / 2.5)  # sharp lower edge
            else:
                a = (1 - d / thickness) ** 1.6  # long fade upwards
            # Vertical rays give the curtain its texture.
            rays = 0.75 + 0.25 * math.sin(x * 1.7 + phase * 9) * math.sin(x * 0.55 + 1.0)
            canvas.blend(x, y, lerp(colour, AURORA_CYAN, max(0.0, min(1.0, d / thickness))), a * rays * strength)


def crescent(cx, cy, r, offset):
    return minus(circle(cx, cy, r), circle(cx + offset[0], cy + offset[1], r * 0.92))


def hills(w, h, scale):
    far = polygon([(0, h * 0.80), (w * 0.22, h * 0.70), (w * 0.45, h * 0.76), (w * 0.72, h * 0.66),
                   (w, h * 0.74), (w, h), (0, h)])
    near = polygon([(0, h * 0.88), (w * 0.30, h * 0.80), (w * 0.58, h * 0.87), (w * 0.85, h * 0.82),
                    (w, h * 0.86), (w, h), (0, h)])
    return far, near


def draw_wizard_bitmap():
    w = h = 90
    c = RGBCanvas(w, h)
    for y in range(h):
        t = (y / (h - 1)) ** 1.3
        col = lerp(SKY_TOP, SKY_LOW, t)
        for x in range(w):
            c.px[y][x] = col
            c.alpha[y][x] = 1.0
    rng = random.Random(1998)
    for _ in range(46):
        x, y = rng.randrange(w), rng.randrange(int(h * 0.72))
        b = rng.choice((0.35, 0.5, 0.7, 1.0))
        c.blend(x, y, (255, 255, 255), b)
    for x, y in ((14, 9), (63, 22), (36, 6)):  # three brighter stars with small crosses
        c.blend(x, y, (255, 255, 255), 1.0)
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            c.blend(x + dx, y + dy, (200, 220, 255), 0.45)
    aurora_band(c, 44, 7, 0.10, 26, AURORA_GREEN, 0.85)
    aurora_band(c, 34, 5, 0.55, 16, (150, 110, 230), 0.35)
    # Moon with a faint halo.
    for y in range(0, 40):
        for x in range(50, 90):
            d = math.hypot(x + 0.5 - 71, y + 0.5 - 17)
            if d < 16:
                c.blend(x, y, (255, 245, 200), 0.10 * (1 - d / 16))
    c.fill(crescent(71, 17, 8.5, (-4.2, -2.5)), MOON, bbox=(55, 0, 85, 35))
    far, near = hills(w, h, 1)
    c.fill(far, HILL_FAR)
    c.fill(near, HILL_NEAR)
    # A few pines on the near ridge.
    for bx, by, s in ((16, 76, 1.0), (22, 75, 0.75), (70, 76, 0.9), (77, 77, 0.7)):
        c.fill(polygon([(bx, by - 11 * s), (bx + 4 * s, by), (bx - 4 * s, by)]), HILL_NEAR)
    write_bmp24(os.path.join(OUT, "wizard.bmp"), c)


def main_icon_16(size):
    """The program icon in the 16 standard colours: moon and aurora on a night tile."""
    c = IndexCanvas(size)
    k = size / 32
    tile = round_rect(1 * k, 1 * k, 31 * k, 31 * k, 5 * k)
    c.fill(tile, NAVY)
    # Aurora: a wavy lime ribbon with a teal shadow below.
    def ribbon(offset, thick):
        pts_top, pts_bot = [], []
        for i in range(0, 33):
            x = i * k
            y = (17 + offset + 3.2 * math.sin(i / 32 * 2 * math.pi * 1.2 + 0.6)) * k
            pts_top.append((x, y - thick * k))
            pts_bot.append((x, y))
        return lambda x, y: tile(x, y) and polygon(pts_top + pts_bot[::-1])(x, y)
    c.fill(ribbon(2.5, 3.0), TEAL)
    c.fill(ribbon(0, 2.6), LIME)
    # At 16 px the crescent needs more room to stay readable.
    r = 6 if size >= 32 else 8
    c.fill(crescent(21 * k, 9.5 * k, r * k, (-0.5 * r * k, -0.3 * r * k)), YELLOW)
    # Hills.
    hill = lambda x, y: tile(x, y) and polygon([(0, 26 * k), (10 * k, 22.5 * k), (20 * k, 25.5 * k),
                                                 (32 * k, 22 * k), (32 * k, 32 * k), (0, 32 * k)])(x, y)
    c.fill(hill, BLACK)
    stars = ((6, 6), (11, 11), (27, 17), (8, 15)) if size >= 32 else ((3, 3), (6, 6))
    for x, y in stars:
        c.put(int(x * k) if size >= 32 else x, int(y * k) if size >= 32 else y, WHITE)
    c.outline(tile, BLACK)
    return c


def main_icon_48():
    s = 48
    c = RGBCanvas(s, s)
    tile = round_rect(1.5, 1.5, 46.5, 46.5, 8)
    c.fill(tile, lambda x, y: lerp(SKY_TOP, SKY_LOW, y / s))
    sub = RGBCanvas(s, s)
    # Aurora and stars are clipped to the tile through a second canvas.
    for y in range(s):
        for x in range(s):
            sub.px[y][x] = c.px[y][x]
    aurora_band(sub, 28, 4, 0.15, 14, AURORA_GREEN, 0.95)
    rng = random.Random(48)
    for _ in range(14):
        sub.blend(rng.randrange(4, 44), rng.randrange(4, 24), (255, 255, 255), rng.choice((0.5, 0.8, 1.0)))
    for y in range(s):
        for x in range(s):
            a = coverage(tile, x, y)
            if a:
                c.px[y][x] = lerp(c.px[y][x], sub.px[y][x], 1.0)
    c.fill(crescent(31, 14, 8.5, (-4.3, -2.6)), MOON)
    hill = polygon([(0, 39), (15, 34), (30, 38.5), (48, 33), (48, 48), (0, 48)])
    c.fill(lambda x, y: tile(x, y) and hill(x, y), HILL_NEAR)
    ring = minus(tile, round_rect(2.5, 2.5, 45.5, 45.5, 7))
    c.fill(ring, (4, 6, 18))
    return c


def folder_shape(k, ox=0.0, oy=0.0):
    back = polygon([(ox + 2 * k, oy + 7 * k), (ox + 11 * k, oy + 7 * k), (ox + 13 * k, oy + 9.5 * k),
                    (ox + 29 * k, oy + 9.5 * k), (ox + 29 * k, oy + 27 * k), (ox + 2 * k, oy + 27 * k)])
    front = polygon([(ox + 2 * k, oy + 27 * k), (ox + 5.5 * k, oy + 13.5 * k), (ox + 31.5 * k, oy + 13.5 * k),
                     (ox + 28.5 * k, oy + 27 * k)])
    return back, front


def folder_canvas(size):
    """A 16-colour canvas with the folder both browse icons start from."""
    c = IndexCanvas(size)
    back, front = folder_shape(size / 32)
    c.fill(back, OLIVE)
    c.outline(back, BLACK)
    c.fill(front, YELLOW)
    c.outline(front, BLACK)
    return c


def browse_folder_icon(size):
    """An open yellow folder: the folder browser."""
    c = folder_canvas(size)
    if size >= 32:  # a highlight along the front's top edge
        for x in range(7, 30):
            c.put(x, 15, WHITE)
    return c


def browse_group_icon(size):
    """A folder with four program tiles on its front: the Start-menu group browser."""
    c = folder_canvas(size)
    tile = 4 if size >= 32 else 2  # pixels per tile side
    gap = 2 if size >= 32 else 1
    x0 = 13 if size >= 32 else 7
    y0 = 16 if size >= 32 else 8
    for row, colours in enumerate(((RED, BLUE), (GREEN, NAVY))):
        for col, colour in enumerate(colours):
            x = x0 + col * (tile + gap)
            y = y0 + row * (tile + gap)
            for dy in range(tile):
                for dx in range(tile):
                    c.put(x + dx, y + dy, colour)
    return c


OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")


def main():
    global OUT
    if len(sys.argv) > 1:
        OUT = sys.argv[1]
    os.makedirs(OUT, exist_ok=True)
    draw_wizard_bitmap()
    write_ico(os.path.join(OUT, "browse_folder.ico"),
              [icon_image_4bpp(browse_folder_icon(32)), icon_image_4bpp(browse_folder_icon(16))])
    write_ico(os.path.join(OUT, "browse_group.ico"),
              [icon_image_4bpp(browse_group_icon(32)), icon_image_4bpp(browse_group_icon(16))])
    write_ico(os.path.join(OUT, "mainicon.ico"),
              [icon_image_4bpp(main_icon_16(32)), icon_image_4bpp(main_icon_16(16)),
               icon_image_8bpp(main_icon_48())])


if __name__ == "__main__":
    main()
