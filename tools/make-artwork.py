#!/usr/bin/env python3
"""Draws the installer's images: the launcher artwork (PNG 130), the golden
bar (PNG 129) and the 64 x 64 icon. Standard library only; the output is
deterministic, so the committed files can be checked against it.

Usage: make-artwork.py OUT_DIR
"""

import math
import struct
import sys
import zlib
from pathlib import Path

WIDTH, HEIGHT = 467, 218
PANEL_TOP = 96
TRACK_X, TRACK_Y, TRACK_W, TRACK_H = 13, 186, 441, 5
BAR_W, BAR_H = 441, 5


def png_bytes(width, height, rgba):
    """rgba: rows of (r, g, b, a) tuples, 8 bits each."""
    raw = bytearray()
    for row in rgba:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


class Canvas:
    """Premultiplied float RGBA, composited with "over"."""

    def __init__(self, width, height):
        self.w, self.h = width, height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def over(self, x, y, rgb, alpha):
        if alpha <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        alpha = min(alpha, 1.0)
        p = self.px[y * self.w + x]
        k = 1.0 - alpha
        for c in range(3):
            p[c] = rgb[c] / 255.0 * alpha + p[c] * k
        p[3] = alpha + p[3] * k

    def put(self, x, y, rgb):
        self.px[y * self.w + x] = [rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0]

    def rows(self):
        out = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a <= 0.0:
                    row.append((0, 0, 0, 0))
                    continue
                row.append(tuple(min(255, int(round(v / a * 255))) for v in (r, g, b)) +
                           (min(255, int(round(a * 255))),))
            out.append(row)
        return out


def coverage(distance):
    """Anti-aliased coverage of a shape from its signed distance in pixels."""
    return max(0.0, min(1.0, 0.5 - distance))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def rounded_rect_distance(px, py, x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


GOLD_LIGHT = (255, 236, 160)
GOLD = (236, 182, 72)
GOLD_DARK = (150, 92, 28)
INK = (26, 14, 8)


def gold_at(y, top, bottom):
    t = max(0.0, min(1.0, (y - top) / max(1.0, bottom - top)))
    return mix(GOLD_LIGHT, GOLD, t * 1.6) if t < 0.6 else mix(GOLD, GOLD_DARK, (t - 0.6) / 0.4)


# Stroke font for the wordmark: polylines in a 0..1 box (x to the right, y down).
def arc(cx, cy, rx, ry, a0, a1, steps=10):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


GLYPHS = {
    "O": [arc(0.5, 0.5, 0.5, 0.5, 0, 360, 28)],
    "R": [[(0, 1), (0, 0), (0.55, 0)] + arc(0.55, 0.26, 0.4, 0.26, -90, 90, 8)[1:] + [(0, 0.52)],
          [(0.45, 0.52), (0.95, 1)]],
    "V": [[(0, 0), (0.5, 1), (1, 0)]],
    "A": [[(0, 1), (0.5, 0), (1, 1)], [(0.22, 0.62), (0.78, 0.62)]],
    "N": [[(0, 1), (0, 0), (1, 1), (1, 0)]],
    "T": [[(0, 0), (1, 0)], [(0.5, 0), (0.5, 1)]],
}
ADVANCE = {"O": 1.15, "R": 0.98, "V": 1.05, "A": 1.05, "N": 0.95, "T": 0.95}


def wordmark_segments(text, left, top, height, letter_w, spacing):
    segments = []
    x = left
    for ch in text:
        for line in GLYPHS[ch]:
            pts = [(x + px * letter_w, top + py * height) for px, py in line]
            segments += list(zip(pts, pts[1:]))
        x += ADVANCE[ch] * letter_w + spacing
    return segments, x - spacing


def draw_strokes(canvas, segments, half_width, outline, top, bottom, box):
    x0, y0, x1, y1 = box
    for y in range(max(0, y0), min(canvas.h, y1)):
        for x in range(max(0, x0), min(canvas.w, x1)):
            px, py = x + 0.5, y + 0.5
            d = min(segment_distance(px, py, *a, *b) for a, b in segments)
            if d > half_width + outline + 1:
                continue
            canvas.over(x, y, (0, 0, 0), coverage(d - half_width - outline - 1.5) * 0.35)
            canvas.over(x, y, INK, coverage(d - half_width - outline))
            shade = gold_at(py, top, bottom)
            # A bright edge along each stroke's upper side gives the metal a bevel.
            canvas.over(x, y, shade, coverage(d - half_width))


def draw_crest(canvas):
    cx, cy = WIDTH / 2, 46
    # Wings: swept feathers on both sides of the crest.
    feathers = []
    for side in (-1, 1):
        for i, (length, lift) in enumerate(((112, 34), (96, 22), (80, 10), (62, 0))):
            ax, ay = cx + side * 18, cy + 6 + i * 7
            feathers.append(((ax, ay), (ax + side * length, ay - lift - 12), 3.6 - i * 0.55))
    for y in range(0, 92):
        for x in range(100, 367):
            px, py = x + 0.5, y + 0.5
            for (a, b, half) in feathers:
                d = segment_distance(px, py, *a, *b)
                taper = half * (1 - 0.55 * min(1.0, abs(px - a[0]) / abs(b[0] - a[0])))
                if d < taper + 3:
                    canvas.over(x, y, INK, coverage(d - taper - 1.2))
                    canvas.over(x, y, gold_at(py, 10, 80), coverage(d - taper))
    # The crest: a diamond with a gold rim around a deep crimson jewel.
    for y in range(0, 96):
        for x in range(170, 297):
            px, py = x + 0.5, y + 0.5
            d = (abs(px - cx) + abs(py - cy) * 1.05 - 44) / math.sqrt(2)
            if d > 4:
                continue
            canvas.over(x, y, INK, coverage(d - 2.0))
            canvas.over(x, y, gold_at(py, 8, 86), coverage(d))
            inner = d + 6
            t = max(0.0, min(1.0, math.hypot(px - cx + 8, py - cy + 12) / 40))
            canvas.over(x, y, mix((210, 40, 60), (70, 6, 24), t), coverage(inner))
            # A highlight on the jewel's upper left facet.
            if px < cx and py < cy:
                canvas.over(x, y, (255, 190, 200), coverage(inner) * 0.18)


def panel_colour(x, y):
    t = (y - PANEL_TOP) / (HEIGHT - PANEL_TOP)
    base = mix((34, 38, 60), (10, 11, 19), t)
    # A cool sheen under the crest, fading to the corners.
    sheen = max(0.0, 1 - math.hypot((x - WIDTH / 2) / 220, (y - PANEL_TOP) / 70))
    base = mix(base, (62, 72, 112), 0.45 * sheen * sheen)
    # Fine diagonal engraving.
    if (x + y) % 6 == 0:
        base = mix(base, (0, 0, 0), 0.18)
    return base


def draw_panel(canvas):
    box = (0.5, PANEL_TOP, WIDTH - 0.5, HEIGHT - 0.5)
    for y in range(PANEL_TOP - 1, HEIGHT):
        for x in range(WIDTH):
            d = rounded_rect_distance(x + 0.5, y + 0.5, *box, 12)
            if d > 1:
                continue
            canvas.over(x, y, panel_colour(x, y), coverage(d))
            canvas.over(x, y, GOLD, coverage(abs(d + 1.6) - 0.7) * 0.95)
            canvas.over(x, y, GOLD_DARK, coverage(abs(d + 5) - 0.5) * 0.55)


def draw_divider(canvas, y_line):
    cx = WIDTH / 2
    for y in range(y_line - 6, y_line + 7):
        for x in range(90, WIDTH - 90):
            px, py = x + 0.5, y + 0.5
            fade = max(0.0, 1 - abs(px - cx) / 143)
            canvas.over(x, y, GOLD, coverage(abs(py - y_line - 0.5) - 0.5) * fade * 0.9)
            d = (abs(px - cx) + abs(py - y_line - 0.5) - 5) / math.sqrt(2)
            canvas.over(x, y, INK, coverage(d - 1))
            canvas.over(x, y, GOLD_LIGHT, coverage(d))


def draw_track(canvas):
    # Crisp pixels: the bar is drawn exactly over the inside.
    for x in range(TRACK_X - 1, TRACK_X + TRACK_W + 1):
        canvas.put(x, TRACK_Y - 1, (96, 74, 40))
        canvas.put(x, TRACK_Y + TRACK_H, (132, 102, 54))
    for y in range(TRACK_Y - 1, TRACK_Y + TRACK_H + 1):
        canvas.put(TRACK_X - 1, y, (96, 74, 40))
        canvas.put(TRACK_X + TRACK_W, y, (132, 102, 54))
    for y in range(TRACK_Y, TRACK_Y + TRACK_H):
        for x in range(TRACK_X, TRACK_X + TRACK_W):
            canvas.put(x, y, (18, 16, 22) if y == TRACK_Y else (7, 7, 11))


def artwork():
    canvas = Canvas(WIDTH, HEIGHT)
    draw_panel(canvas)
    draw_crest(canvas)
    letter_h, letter_w, spacing = 30, 24, 7
    _, right = wordmark_segments("ORVANTA", 0, 0, letter_h, letter_w, spacing)
    left, top = (WIDTH - right) / 2, 58
    segments, _ = wordmark_segments("ORVANTA", left, top, letter_h, letter_w, spacing)
    draw_strokes(canvas, segments, 3.2, 1.6, top, top + letter_h,
                 (int(left) - 8, top - 8, int(left + right) + 9, top + letter_h + 9))
    draw_divider(canvas, 140)
    draw_track(canvas)
    return canvas.rows()


def bar():
    greens = (232, 233, 229, 225, 220)
    blues = (106, 109, 105, 103, 100)
    rows = []
    for y in range(BAR_H):
        row = []
        for x in range(BAR_W):
            edge_x = x in (0, BAR_W - 1)
            edge_y = y in (0, BAR_H - 1)
            alpha = 30 if edge_x and edge_y else 186 if edge_x or edge_y else 255
            row.append((255, greens[y], blues[y], alpha))
        rows.append(row)
    return rows


def icon():
    """A 64 x 64 crest: the diamond and jewel of the artwork on a dark tile."""
    size = 64
    canvas = Canvas(size, size)
    c = size / 2
    for y in range(size):
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            tile = rounded_rect_distance(px, py, 1, 1, size - 1, size - 1, 12)
            canvas.over(x, y, mix((40, 46, 72), (12, 13, 22), py / size), coverage(tile))
            canvas.over(x, y, GOLD, coverage(abs(tile + 1.5) - 0.8))
            d = (abs(px - c) + abs(py - c) - 24) / math.sqrt(2)
            canvas.over(x, y, INK, coverage(d - 1.5))
            canvas.over(x, y, gold_at(py, 8, 56), coverage(d))
            t = min(1.0, math.hypot(px - c + 5, py - c + 7) / 22)
            canvas.over(x, y, mix((220, 46, 66), (70, 6, 24), t), coverage(d + 4))
    return canvas.rows()


def ico_bytes(rows):
    """One 32-bit BMP image; the AND mask is empty since alpha does the work."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytes(((size + 31) // 32 * 4) * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "background.png").write_bytes(png_bytes(WIDTH, HEIGHT, artwork()))
    (out / "bar.png").write_bytes(png_bytes(BAR_W, BAR_H, bar()))
    (out / "QorvInstall.ico").write_bytes(ico_bytes(icon()))


if __name__ == "__main__":
    main()
