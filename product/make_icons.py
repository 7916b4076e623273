#!/usr/bin/env python3
"""Draws the icons of the sample products.

    make_icons.py OUTDIR

writes OUTDIR/A/*.ico and OUTDIR/B/*.ico (the icons that carry the
product's colour: program, query folder, browser buttons) and
OUTDIR/common/*.ico (help, search box, uninstaller, cache tool). The
resource scripts name the files without a folder; the build hands windres
the folder of the profile it compiles.
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from assetlib import Image, write_ico  # noqa: E402

CLEAR = (0, 0, 0, 0)
WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)
GREY = (128, 128, 128, 255)
LIGHT = (192, 192, 192, 255)

# Product colours: a dark shade for outlines and a light one for fills.
PRODUCTS = {
    "A": {"dark": (0, 64, 160, 255), "light": (96, 160, 255, 255)},
    "B": {"dark": (0, 112, 80, 255), "light": (96, 208, 160, 255)},
}


def blank(size):
    return Image.filled(size, size, CLEAR)


def disc(img, cx, cy, r, colour):
    for y in range(img.height):
        for x in range(img.width):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                img.put(x, y, colour)


def ring(img, cx, cy, r, width, colour):
    for y in range(img.height):
        for x in range(img.width):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if r - width <= d <= r:
                img.put(x, y, colour)


def line(img, x0, y0, x1, y1, width, colour):
    steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
    half = width / 2.0
    for i in range(steps + 1):
        t = i / steps
        x = x0 + (x1 - x0) * t
        y = y0 + (y1 - y0) * t
        img.fill_rect(int(round(x - half)), int(round(y - half)),
                      int(round(x + half)), int(round(y + half)), colour)


def magnifier(img, s, glass, frame):
    """A magnifying glass filling most of the square."""
    r = s * 0.32
    cx = cy = s * 0.40
    disc(img, cx, cy, r, glass)
    ring(img, cx, cy, r, max(1.0, s / 12.0), frame)
    d = r / math.sqrt(2)
    line(img, cx + d, cy + d, s * 0.92, s * 0.92, max(2.0, s / 7.0), frame)


def page(img, s, colour=WHITE, edge=BLACK):
    """A sheet with a folded corner."""
    x0, x1, y0, y1 = int(s * 0.15), int(s * 0.85), int(s * 0.06), int(s * 0.94)
    fold = max(2, s // 5)
    img.fill_rect(x0, y0, x1, y1, colour)
    for i in range(fold):
        for j in range(fold - i):
            img.put(x1 - 1 - j, y0 + i, CLEAR)
    line(img, x1 - fold, y0, x1 - 1, y0 + fold - 1, 1, edge)
    img.fill_rect(x0, y0, x1 - fold, y0 + 1, edge)
    img.fill_rect(x0, y1 - 1, x1, y1, edge)
    img.fill_rect(x0, y0, x0 + 1, y1, edge)
    img.fill_rect(x1 - 1, y0 + fold, x1, y1, edge)
    for k in range(3):
        y = y0 + fold + 2 + k * max(2, s // 8)
        img.fill_rect(x0 + 2, y, x1 - 3, y + 1, GREY)


def app_icon(s, p):
    img = blank(s)
    img.fill_rect(1, 1, s - 1, s - 1, p["dark"])
    magnifier(img, s, p["light"], WHITE)
    return img


def query_icon(s, p):
    img = blank(s)
    page(img, s)
    small = blank(s)
    magnifier(small, s, p["light"], p["dark"])
    # The glass sits on the lower right of the sheet.
    for y in range(s // 2):
        for x in range(s // 2):
            c = small.get(x * 2, y * 2)
            if c[3]:
                img.put(x + s // 2, y + s // 2, c)
    return img


def button_icon(s, p, hot):
    img = blank(s)
    frame = p["dark"] if hot else GREY
    glass = p["light"] if hot else LIGHT
    magnifier(img, s, glass, frame)
    return img


def help_icon(s):
    img = blank(s)
    disc(img, s / 2, s / 2, s * 0.46, (0, 96, 192, 255))
    # A question mark: an open ring, a stem and a dot.
    r = s * 0.18
    for y in range(s):
        for x in range(s):
            d = math.hypot(x + 0.5 - s / 2, y + 0.5 - s * 0.36)
            if r - max(1.0, s / 12.0) <= d <= r and not (y + 0.5 > s * 0.36 and x + 0.5 < s / 2):
                img.put(x, y, WHITE)
    line(img, s / 2, s * 0.54, s / 2, s * 0.64, max(1.5, s / 12.0), WHITE)
    disc(img, s / 2, s * 0.78, max(1.0, s / 14.0), WHITE)
    return img


def seekbox_icon(s):
    img = blank(s)
    img.fill_rect(0, int(s * 0.25), s, int(s * 0.75), WHITE)
    img.fill_rect(0, int(s * 0.25), s, int(s * 0.25) + 1, GREY)
    img.fill_rect(0, int(s * 0.75) - 1, s, int(s * 0.75), GREY)
    small = blank(s)
    magnifier(small, s, (255, 255, 160, 255), (160, 96, 0, 255))
    for y in range(s):
        for x in range(s):
            c = small.get(x, y)
            if c[3]:
                img.put(x, y, c)
    return img


def remover_icon(s):
    img = blank(s)
    page(img, s)
    w = max(2.0, s / 8.0)
    line(img, s * 0.25, s * 0.25, s * 0.75, s * 0.75, w, (200, 0, 0, 255))
    line(img, s * 0.75, s * 0.25, s * 0.25, s * 0.75, w, (200, 0, 0, 255))
    return img


def cache_icon(s):
    img = blank(s)
    for k in range(3):
        off = int(k * s * 0.12)
        img.fill_rect(off + 2, off + 2, off + int(s * 0.7), off + int(s * 0.7), LIGHT if k < 2 else WHITE)
        img.fill_rect(off + 2, off + 2, off + int(s * 0.7), off + 3, BLACK)
    line(img, s * 0.45, s * 0.55, s * 0.9, s * 0.9, max(1.5, s / 10.0), (200, 0, 0, 255))
    return img


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py OUTDIR")
    out = sys.argv[1]
    for name, p in PRODUCTS.items():
        folder = os.path.join(out, name)
        os.makedirs(folder, exist_ok=True)
        write_ico(os.path.join(folder, "app.ico"), [app_icon(32, p), app_icon(16, p)])
        write_ico(os.path.join(folder, "query.ico"), [query_icon(32, p), query_icon(16, p)])
        # Browser toolbar buttons: 1001/1002 (normal, hot) in 16 colours for
        # older systems, 1003/1004 with alpha for newer ones.
        write_ico(os.path.join(folder, "button1001.ico"),
                  [button_icon(20, p, False), button_icon(16, p, False)], bpp=4)
        write_ico(os.path.join(folder, "button1002.ico"),
                  [button_icon(20, p, True), button_icon(16, p, True)], bpp=4)
        write_ico(os.path.join(folder, "button1003.ico"),
                  [button_icon(24, p, False), button_icon(20, p, False), button_icon(16, p, False)])
        write_ico(os.path.join(folder, "button1004.ico"),
                  [button_icon(24, p, True), button_icon(20, p, True), button_icon(16, p, True)])
    folder = os.path.join(out, "common")
    os.makedirs(folder, exist_ok=True)
    write_ico(os.path.join(folder, "help.ico"), [help_icon(32), help_icon(16)])
    write_ico(os.path.join(folder, "seekbox.ico"), [seekbox_icon(32), seekbox_icon(16)])
    write_ico(os.path.join(folder, "remover.ico"), [remover_icon(32), remover_icon(16)])
    write_ico(os.path.join(folder, "cachetrm.ico"), [cache_icon(32), cache_icon(16)])


if __name__ == "__main__":
    main()
