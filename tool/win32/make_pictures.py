#!/usr/bin/env python3
"""Draws the tool's pictures as plain BMP/ICO files: the window's shape,
its background, the heading picture, the button faces and the icon."""
import math
import struct
import sys

WINDOW = (118, 143, 182)
PANEL = (240, 244, 252)
HEADING_TOP = (255, 255, 255)
HEADING_BOTTOM = (214, 224, 240)
LINE = (193, 209, 229)
KEY = (255, 0, 255)  # transparent colour of the shape picture

W, H = 338, 568
LEFT, WIDTH = 5, 328
STRIPS = [(0, 23), (23, 58), (81, 84), (165, 138), (303, 217), (520, 36)]


def write_bmp(path, width, height, pixel):
    """24-bit bottom-up BMP; pixel(x, y) gives (r, g, b) with y from the top."""
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - width * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def inside_rounded(x, y, w, h, r):
    cx = min(max(x, r), w - 1 - r)
    cy = min(max(y, r), h - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + r


def shape(x, y):
    return (0, 0, 0) if inside_rounded(x, y, W, H, 9) else KEY


def background(x, y):
    if y < 23:
        return LINE
    if x < LEFT or x >= LEFT + WIDTH or y >= 556:
        return WINDOW
    for top, height in STRIPS[1:]:
        if top <= y < top + height:
            if y == top + height - 1:
                return WINDOW  # a line between strips
            if top == 23:
                return mix(HEADING_TOP, HEADING_BOTTOM, (y - top) / height)
            if top == 520:
                return mix(PANEL, HEADING_BOTTOM, (y - top) / height)
            return PANEL
    return WINDOW


def logo(x, y):
    """A platform scale: a pan on a column over a base, in a round badge."""
    cx, cy = 17, 17
    if (x - cx) ** 2 + (y - cy) ** 2 > 17 * 17:
        return HEADING_TOP
    dark, light = (70, 96, 140), (250, 252, 255)
    if 8 <= x <= 26 and 9 <= y <= 11:
        return dark  # pan
    if 16 <= x <= 18 and 11 <= y <= 23:
        return dark  # column
    if 9 <= x <= 25 and 23 <= y <= 26:
        return dark  # base
    return WINDOW if (x - cx) ** 2 + (y - cy) ** 2 > 15 * 15 else light


def button(top, bottom, border):
    def face(x, y, w=135, h=25):
        if x in (0, w - 1) or y in (0, h - 1):
            return border
        return mix(top, bottom, y / (h - 1))
    return face


def help_face(top, bottom):
    def face(x, y):
        d = math.hypot(x - 14, y - 14)
        if d > 14.2:
            return PANEL
        if d > 13:
            return WINDOW
        return mix(top, bottom, y / 28)
    return face


def write_icon(path):
    size = 32
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b = logo(int(x * 35 / 32), int(y * 35 / 32))
            inside = (x - 15.5) ** 2 + (y - 15.5) ** 2 <= 16 * 16
            pixels += bytes((b, g, r, 255 if inside else 0))
    mask = bytes(((size + 31) // 32) * 4 * size)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = info + pixels + mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


def main():
    out = sys.argv[1]
    write_bmp(f"{out}/shape.bmp", W, H, shape)
    write_bmp(f"{out}/bg.bmp", W, H, background)
    write_bmp(f"{out}/logo.bmp", 35, 35, logo)
    write_bmp(f"{out}/button.bmp", 135, 25, button((250, 252, 255), (200, 214, 236), WINDOW))
    write_bmp(f"{out}/button_down.bmp", 135, 25, button((190, 205, 230), (225, 233, 246), WINDOW))
    write_bmp(f"{out}/button_off.bmp", 135, 25, button((236, 238, 242), (222, 228, 244), (180, 190, 206)))
    write_bmp(f"{out}/help.bmp", 29, 29, help_face((250, 252, 255), (200, 214, 236)))
    write_bmp(f"{out}/help_down.bmp", 29, 29, help_face((190, 205, 230), (225, 233, 246)))
    write_icon(f"{out}/pesoconf.ico")


if __name__ == "__main__":
    main()
