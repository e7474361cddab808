#!/usr/bin/env python3
"""Writes Lunetrix's lens pictures: for each style a "Bumpmap.png" and a "Color.png", 500 x 200.

The bump map's blue byte bends the view sideways and its green byte up and down, by
round((byte - 128) * 0.05) pixels (so 128 means straight through, 0 and 255 mean 6 pixels);
the colour map's blue, green and red bytes are how much of each channel passes (byte / 256).

Usage: tools/lens_pictures.py OUTDIR   -> OUTDIR/<style>/Bumpmap.png and Color.png
Deterministic: the same pictures every run. Needs only Python's standard library.
"""
import math
import os
import random
import struct
import sys
import zlib

WIDTH, HEIGHT = 500, 200


def clamp(v):
    return max(0, min(255, int(round(v))))


def write_png(path, pixel):
    """pixel(x, y) -> (r, g, b); writes an 8-bit RGB PNG."""
    raw = bytearray()
    for y in range(HEIGHT):
        raw.append(0)  # filter type None
        for x in range(WIDTH):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


# ----------------------------------------------------------------------------------------------
# Rippled glass (the default): gentle crossing waves around 128, a cool soft tint.
# ----------------------------------------------------------------------------------------------

def ripple_height(x, y):
    return (math.sin(x / 23.0 + 0.7 * math.sin(y / 31.0)) +
            0.6 * math.sin((x + 2 * y) / 17.0) +
            0.4 * math.cos((3 * x - y) / 41.0))


def rippled_bump(x, y):
    # The slope of the wave field bends the light, as a real pane's surface does.
    dx = ripple_height(x + 1, y) - ripple_height(x - 1, y)
    dy = ripple_height(x, y + 1) - ripple_height(x, y - 1)
    return (0, clamp(128 + 260 * dy), clamp(128 + 260 * dx))


def rippled_colour(x, y):
    h = ripple_height(x, y) / 2.0  # about -1 .. 1
    light = 0.92 + 0.06 * h
    return (clamp(205 * light), clamp(232 * light), clamp(250 * light))


# ----------------------------------------------------------------------------------------------
# Frosted: a fine grain that scatters every pixel a few pixels away, almost white.
# ----------------------------------------------------------------------------------------------

def frosted():
    rnd = random.Random(20261207)
    grain = [[(rnd.gauss(0, 55), rnd.gauss(0, 55)) for _ in range(WIDTH)] for _ in range(HEIGHT)]

    def bump(x, y):
        gx, gy = grain[y][x]
        return (0, clamp(128 + gy), clamp(128 + gx))

    def colour(x, y):
        v = 238 + 8 * math.sin(x / 57.0) * math.cos(y / 43.0)
        return (clamp(v), clamp(v + 2), clamp(v + 4))

    return bump, colour


# ----------------------------------------------------------------------------------------------
# Prism: vertical facets that shift the view sideways, and a rainbow across the pane.
# ----------------------------------------------------------------------------------------------

def prism_bump(x, y):
    facet = (x % 50) / 49.0  # 0 .. 1 across each facet
    return (0, 128, clamp(128 + 230 * (facet - 0.5)))


def prism_colour(x, y):
    hue = (x / WIDTH + y / (4.0 * HEIGHT)) % 1.0
    r, g, b = (0.5 + 0.5 * math.cos(2 * math.pi * (hue - k)) for k in (0.0, 1 / 3.0, 2 / 3.0))
    return (clamp(150 + 105 * r), clamp(150 + 105 * g), clamp(150 + 105 * b))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    frost_bump, frost_colour = frosted()
    styles = {
        "rippled": (rippled_bump, rippled_colour),
        "frosted": (frost_bump, frost_colour),
        "prism": (prism_bump, prism_colour),
    }
    for name, (bump, colour) in styles.items():
        folder = os.path.join(out, name)
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, "Bumpmap.png"), bump)
        write_png(os.path.join(folder, "Color.png"), colour)
        print(folder)


if __name__ == "__main__":
    main()
