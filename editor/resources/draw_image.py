#!/usr/bin/env python3
"""Draws the window's emblem: a sound object (a yellow ball) in the corner of a listening space,
with three arcs of sound going out from it. 50 x 43 pixels, RGBA, antialiased by 4 x 4
supersampling. Writes editor/resources/temp_binary_data_1 (a PNG; the build embeds it under that
name). Needs nothing but the standard library:

    python3 editor/resources/draw_image.py
"""
import math
import os
import struct
import zlib

W, H = 50, 43
SUB = 4
YELLOW = (0xFF, 0xCC, 0x41)
GREY = (0xB4, 0xB4, 0xB4)

BALL = (14.0, 29.0, 7.0)            # centre x, y and radius
ARCS = [(12.5, 2.2), (19.5, 2.2), (26.5, 2.2)]   # radius and thickness around the ball
ARC_FROM, ARC_TO = -80.0, 10.0      # degrees, 0 pointing right, negative upwards


def coverage(px, py):
    """Which colour covers the point, or None."""
    bx, by, br = BALL
    dx, dy = px - bx, py - by
    d = math.hypot(dx, dy)
    if d <= br:
        return YELLOW
    angle = math.degrees(math.atan2(dy, dx))
    for radius, thickness in ARCS:
        if abs(d - radius) <= thickness / 2 and ARC_FROM <= angle <= ARC_TO:
            return GREY
    # the floor line of the space, under the ball
    if 39.0 <= py <= 40.5 and 3.0 <= px <= 47.0:
        return GREY
    return None


def render():
    rows = []
    for y in range(H):
        row = bytearray([0])  # filter type: none
        for x in range(W):
            r = g = b = a = 0.0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = coverage(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB)
                    if c is not None:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = SUB * SUB
            if a > 0:
                row += bytes([round(r / a), round(g / a), round(b / a), round(255 * a / n)])
            else:
                row += bytes([0, 0, 0, 0])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(render(), 9))
    png += chunk(b"IEND", b"")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "temp_binary_data_1")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
