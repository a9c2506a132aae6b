#!/usr/bin/env python3
"""Draws the built-in volume icons that stand in when no icon theme is
installed: an internal disk, a removable stick and a network folder, each a
48x48 RGBA PNG. Run once; the PNG files are kept beside this script."""

import math
import os
import struct
import zlib

SIZE = 48


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in pixels)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def canvas():
    return [[(0, 0, 0, 0) for _ in range(SIZE)] for _ in range(SIZE)]


def inside_rounded(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def fill(img, left, top, right, bottom, radius, color, shade=0.0):
    for y in range(SIZE):
        for x in range(SIZE):
            if inside_rounded(x + 0.5, y + 0.5, left, top, right, bottom, radius):
                # A light vertical gradient gives the flat shapes some depth.
                t = (y - top) / max(1, bottom - top)
                f = 1.0 - shade * t
                img[y][x] = (int(color[0] * f), int(color[1] * f), int(color[2] * f), color[3])


def disc(img, cx, cy, r, color):
    for y in range(SIZE):
        for x in range(SIZE):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                img[y][x] = color


def harddisk():
    img = canvas()
    fill(img, 4, 12, 44, 38, 4, (120, 124, 130, 255))
    fill(img, 6, 14, 42, 29, 3, (200, 204, 210, 255), shade=0.25)
    fill(img, 6, 31, 42, 36, 2, (70, 72, 78, 255))
    disc(img, 38, 33.5, 1.6, (80, 220, 90, 255))
    return img


def removable():
    img = canvas()
    fill(img, 17, 4, 31, 15, 1, (190, 194, 200, 255))
    fill(img, 20, 7, 22, 10, 0, (90, 92, 98, 255))
    fill(img, 26, 7, 28, 10, 0, (90, 92, 98, 255))
    fill(img, 12, 14, 36, 44, 5, (52, 101, 164, 255), shade=0.3)
    fill(img, 18, 30, 30, 38, 2, (230, 232, 236, 255))
    return img


def folder_remote():
    img = canvas()
    fill(img, 4, 9, 20, 16, 2, (196, 160, 0, 255))
    fill(img, 4, 13, 44, 40, 3, (237, 212, 0, 255), shade=0.25)
    # A globe: a circle crossed by a meridian and the equator.
    cx, cy, r = 24, 27, 9
    disc(img, cx, cy, r, (52, 101, 164, 255))
    for y in range(SIZE):
        for x in range(SIZE):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            d = math.hypot(dx, dy)
            if d <= r - 1 and (abs(dy) < 0.8 or abs(dx) < 0.8 or abs(math.hypot(dx * 2.2, dy) - (r - 1)) < 0.9):
                img[y][x] = (230, 236, 245, 255)
    return img


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("drive-harddisk", harddisk), ("drive-removable-media", removable),
                       ("folder-remote", folder_remote)):
        with open(os.path.join(here, name + ".png"), "wb") as out:
            out.write(png(draw()))
