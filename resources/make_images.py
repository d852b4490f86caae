#!/usr/bin/env python3
"""Draws the plug-in's cursors and icons and writes them as .cur/.ico files.

Deterministic: the same script always writes the same bytes, so the committed
images can be checked against a fresh run. Usage: make_images.py [outdir]
"""
import os
import struct
import sys

UNIT = 48.0  # icon artwork is laid out on a 48 x 48 grid and scaled

# ---------------------------------------------------------------- shapes


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 < r * r


def ring(cx, cy, r, width):
    return lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 < r * r


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


# 3 x 5 glyphs for the letters the artwork writes.
GLYPHS = {
    "J": ["..#", "..#", "..#", "#.#", ".#."],
    "2": ["##.", "..#", ".#.", "#..", "###"],
    "K": ["#.#", "##.", "#..", "##.", "#.#"],
}


def text(word, x0, y0, cell):
    parts = []
    for n, letter in enumerate(word):
        for row, line in enumerate(GLYPHS[letter]):
            for col, mark in enumerate(line):
                if mark == "#":
                    gx = x0 + (n * 4 + col) * cell
                    gy = y0 + row * cell
                    parts.append(rect(gx, gy, gx + cell, gy + cell))
    return union(*parts)


BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GREY = (128, 128, 128)
LIGHT = (192, 192, 192)
NAVY = (0, 0, 128)
BLUE = (0, 0, 255)
SKY = (96, 160, 255)
RED = (255, 0, 0)
GREEN = (0, 160, 0)
YELLOW = (255, 255, 0)
ORANGE = (255, 128, 0)


def page(contents):
    """A document page with a folded corner; contents go in its picture area."""
    outline = polygon([(9, 3), (31, 3), (40, 12), (40, 45), (9, 45)])
    inner = polygon([(11, 5), (30, 5), (38, 13), (38, 43), (11, 43)])
    fold = polygon([(30, 4), (30, 13), (39, 13)])
    return [(outline, BLACK), (inner, WHITE), (fold, LIGHT)] + contents


def frame_plug():
    tile = rect(22, 12, 46, 36)
    tile_edge = rect(21, 11, 47, 37)
    plug_body = rect(6, 18, 18, 30)
    prongs = union(rect(18, 20, 23, 22), rect(18, 26, 23, 28))
    cable = union(rect(2, 23, 6, 25), rect(1, 25, 3, 40))
    return [(tile_edge, NAVY), (tile, BLUE), (text("J2K", 24, 19, 2), WHITE),
            (cable, BLACK), (plug_body, GREY), (ring(12, 24, 7, 1.5), BLACK), (prongs, ORANGE)]


def frame_shapes():
    return page([(circle(18, 19, 5), RED), (polygon([(27, 26), (35, 26), (31, 17)]), GREEN),
                 (rect(14, 27, 22, 33), BLUE), (text("J2K", 13, 36, 1.5), NAVY)])


def frame_face():
    eyes = union(circle(21, 17, 1.8), circle(28, 17, 1.8))
    smile = lambda x, y: 5 <= ((x - 24.5) ** 2 + (y - 19) ** 2) ** 0.5 < 6.5 and y > 21
    return page([(circle(24.5, 20, 9), YELLOW), (ring(24.5, 20, 9, 1), BLACK), (eyes, BLACK),
                 (smile, BLACK), (text("J2K", 13, 36, 1.5), NAVY)])


def frame_sky():
    sky = rect(12, 8, 37, 33)
    clouds = union(circle(18, 20, 4), circle(23, 18, 5), circle(28, 20, 4), rect(18, 20, 28, 24),
                   circle(29, 28, 3), circle(33, 27, 3))
    return page([(sky, SKY), (circle(32, 12, 3), YELLOW), (clouds, WHITE), (text("J2K", 13, 36, 1.5), NAVY)])


def comments_icon():
    bubble = union(rect(4, 6, 44, 32), polygon([(12, 31), (24, 31), (10, 42)]))
    bubble_in = union(rect(6, 8, 42, 30), polygon([(14, 29), (22, 29), (13, 38)]))
    lines = union(rect(10, 12, 38, 15), rect(10, 18, 38, 21), rect(10, 24, 30, 27))
    return [(bubble, BLACK), (bubble_in, WHITE), (lines, NAVY)]


# ---------------------------------------------------------------- raster

SUPER = 4


def rasterize(layers, size):
    """RGBA rows, top row first, with coverage-weighted alpha."""
    rows = []
    scale = UNIT / size
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SUPER):
                for sx in range(SUPER):
                    x = (px + (sx + 0.5) / SUPER) * scale
                    y = (py + (sy + 0.5) / SUPER) * scale
                    color = None
                    for shape, fill in layers:
                        if shape(x, y):
                            color = fill
                    if color is not None:
                        r += color[0]
                        g += color[1]
                        b += color[2]
                        a += 1
            if a:
                row.append((r // a, g // a, b // a, a * 255 // (SUPER * SUPER)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE256 = VGA16 + CUBE + [(v, v, v) for v in range(8, 248, 10)][:256 - 16 - 216]
PALETTE256 += [(0, 0, 0)] * (256 - len(PALETTE256))


def nearest(palette, color):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - color[k]) ** 2 for k in range(3)))


def pack_bits(values, bpp):
    """One row of palette indices or bits, padded to a 32-bit boundary."""
    out = bytearray()
    acc = 0
    nbits = 0
    for v in values:
        acc = (acc << bpp) | v
        nbits += bpp
        if nbits == 8:
            out.append(acc)
            acc = 0
            nbits = 0
    if nbits:
        out.append(acc << (8 - nbits))
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def dib_image(rows, bpp):
    """BITMAPINFOHEADER, palette, colour bits and AND mask of one icon image."""
    size = len(rows)
    opaque = [[px[3] >= 128 for px in row] for row in rows]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    if bpp == 32:
        palette = b""
        for row in reversed(rows):
            for r, g, b, a in row:
                body += bytes((b, g, r, a))
    else:
        colors = VGA16 if bpp == 4 else PALETTE256
        if bpp == 1:
            colors = [BLACK, WHITE]
        palette = b"".join(bytes((c[2], c[1], c[0], 0)) for c in colors)
        for row, mask in zip(reversed(rows), reversed(opaque)):
            body += pack_bits([nearest(colors, px) if m else 0 for px, m in zip(row, mask)], bpp)
    andmask = b"".join(pack_bits([0 if m else 1 for m in mask], 1) for mask in reversed(opaque))
    return header + palette + bytes(body) + andmask


def directory(kind, images):
    """kind 1 = icon, 2 = cursor; images = [(size, bpp, plane_or_hx, bits_or_hy, data)]."""
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, field1, field2, data in images:
        colors = (1 << bpp) if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colors, 0, field1, field2, len(data), offset)
        offset += len(data)
    for image in images:
        out += image[4]
    return bytes(out)


def icon_file(layers, formats):
    images = []
    for size, bpp in formats:
        images.append((size, bpp, 1, bpp, dib_image(rasterize(layers, size), bpp)))
    return directory(1, images)


# ---------------------------------------------------------------- cursors

HAND = [
    "................",
    ".....BB.........",
    "....BWWB........",
    "....BWWB........",
    "....BWWB........",
    "....BWWB........",
    "....BWWBBB......",
    "....BWWBWWBBB...",
    "....BWWBWWBWWBB.",
    ".BB.BWWBWWBWWBWB",
    "BWWBBWWWWWWWWBWB",
    "BWWWBWWWWWWWWWWB",
    ".BWWBWWWWWWWWWWB",
    ".BWWWWWWWWWWWWWB",
    "..BWWWWWWWWWWWWB",
    "..BWWWWWWWWWWWB.",
    "...BWWWWWWWWWWB.",
    "...BWWWWWWWWWB..",
    "....BWWWWWWWWB..",
    "....BWWWWWWWWB..",
    "....BBBBBBBBBB..",
]

CUFF = [
    "...BBBBBBBBBBBB.",
    "...BWBWBWBWBWBB.",
    "...BBBBBBBBBBBB.",
]


def cursor_rows(art, dx, dy):
    grid = [["." for _ in range(32)] for _ in range(32)]
    for y, line in enumerate(art):
        for x, mark in enumerate(line):
            if mark != "." and 0 <= y + dy < 32 and 0 <= x + dx < 32:
                grid[y + dy][x + dx] = mark
    colors = {".": (0, 0, 0, 0), "B": BLACK + (255,), "W": WHITE + (255,)}
    return [[colors[m] for m in row] for row in grid]


def magnifier_rows(plus):
    """A magnifying glass: a ring with a handle to the lower right, and a
    minus (or a plus) in the lens; black outline, white inside."""
    lens = circle(10.5, 10.5, 8.5)
    rim = ring(10.5, 10.5, 8.5, 2)
    handle = polygon([(15, 17), (17, 15), (26, 24), (24, 26)])
    bar = rect(7, 10, 15, 12)
    stem = rect(10, 7, 12, 15) if plus else (lambda x, y: False)
    colors = []
    for y in range(32):
        row = []
        for x in range(32):
            cx, cy = x + 0.5, y + 0.5
            if rim(cx, cy) or handle(cx, cy) or bar(x, y) or stem(x, y):
                row.append(BLACK + (255,))
            elif lens(cx, cy):
                row.append(WHITE + (255,))
            else:
                row.append((0, 0, 0, 0))
        colors.append(row)
    return colors


def cursor_file(rows, hot_x, hot_y):
    return directory(2, [(32, 1, hot_x, hot_y, dib_image(rows, 1))])


# ---------------------------------------------------------------- files

ABOUT_FORMATS = [(48, 8), (48, 32), (32, 4), (32, 8), (32, 32), (16, 4), (16, 8), (16, 32)]
COMMENTS_FORMATS = [(32, 4), (32, 8), (16, 4), (16, 8)]


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "images")
    os.makedirs(outdir, exist_ok=True)
    files = {
        "about_plug.ico": icon_file(frame_plug(), ABOUT_FORMATS),
        "about_shapes.ico": icon_file(frame_shapes(), ABOUT_FORMATS),
        "about_face.ico": icon_file(frame_face(), ABOUT_FORMATS),
        "about_sky.ico": icon_file(frame_sky(), ABOUT_FORMATS),
        "comments.ico": icon_file(comments_icon(), COMMENTS_FORMATS),
        # Fingertip of the plain hand at (6, 1).
        "link_hand.cur": cursor_file(cursor_rows(HAND, 0, 0), 6, 1),
        # The hand with a cuff sits one pixel up and left: fingertip at (5, 0).
        "link_hand_cuff.cur": cursor_file(cursor_rows(HAND + CUFF, -1, -1), 5, 0),
        # Zoom cursors: the hot spot in the middle of the lens.
        "zoom_in.cur": cursor_file(magnifier_rows(True), 10, 10),
        "zoom_out.cur": cursor_file(magnifier_rows(False), 10, 10),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
