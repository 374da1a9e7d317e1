#!/usr/bin/env python3
"""Renders the bootstrapper's artwork: the hero band (1200 x 581), the round logo (387 x 387)
and the application icon (16, 24, 32, 48, 64 and 256 pixels), all 8-bit RGBA.

Standard library only; every shape is drawn from signed distances, so edges are smooth at any
size without supersampling. Run from anywhere:  python3 resources/art/render_art.py
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.dirname(HERE)

# Colours shared with the window: the red of the buttons and the progress bar.
RED_START = (255, 60, 56)
RED_END = (255, 53, 100)


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smooth(t):
    t = clamp(t)
    return t * t * (3 - 2 * t)


def coverage(distance):
    """Pixel coverage for a signed distance in pixels (negative inside)."""
    return clamp(0.5 - distance)


# ---------------------------------------------------------------------------------- PNG / ICO
def png_bytes(width, height, rgba):
    """rgba: bytearray of width*height*4 bytes, rows top to bottom."""
    stride = width * 4
    raw = bytearray()
    prior = bytes(stride)
    for y in range(height):
        row = rgba[y * stride:(y + 1) * stride]
        raw.append(2)  # "Up": smooth gradients compress far better than unfiltered rows
        raw.extend((a - b) & 255 for a, b in zip(row, prior))
        prior = row

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def dib_bytes(size, rgba):
    """An icon image as a 32-bit DIB: BGRA rows bottom-up, then an all-clear AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        row = rgba[y * size * 4:(y + 1) * size * 4]
        for x in range(size):
            r, g, b, a = row[x * 4:x * 4 + 4]
            pixels.extend((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_stride * size)


def ico_bytes(images):
    """images: list of (size, rgba). 256 is stored as PNG, the small sizes as DIBs."""
    entries = []
    blobs = []
    offset = 6 + 16 * len(images)
    for size, rgba in images:
        blob = png_bytes(size, size, rgba) if size >= 256 else dib_bytes(size, rgba)
        dim = 0 if size >= 256 else size
        entries.append(struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


# ----------------------------------------------------------------------------------- the logo
def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_ellipse(px, py, cx, cy, a, b, angle):
    c, s = math.cos(angle), math.sin(angle)
    x, y = px - cx, py - cy
    u, v = x * c + y * s, -x * s + y * c
    k = math.hypot(u / a, v / b)
    return (k - 1.0) * min(a, b)


def sd_segment(px, py, ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    t = clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - r


def sd_convex(px, py, points):
    """Signed distance (approximate outside corners) to a convex polygon, clockwise on screen."""
    worst = -1e9
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        # Outward normal of a clockwise (screen) polygon edge.
        nx, ny = ey / length, -ex / length
        worst = max(worst, (px - ax) * nx + (py - ay) * ny)
    return worst


def logo_pixel(u, v, scale):
    """Colour (r, g, b, a in 0-255 floats) of the logo at unit coordinates u, v (0-1).

    scale is pixels per unit, so distances come out in pixels."""
    x, y = u * 387.0, v * 387.0  # design space of the logo
    px_per = scale / 387.0

    def cov(d):  # d in logo units -> coverage in target pixels
        return coverage(d * px_per)

    # Soft shadow under the badge.
    shadow = smooth(1.0 - clamp((math.hypot(x - 193.5, y - 200.0) - 168.0) / 18.0)) * 0.22
    disc = cov(sd_circle(x, y, 193.5, 193.5, 176.0))

    # Badge: diagonal red gradient with a light sheen at the top.
    t = clamp((x + y - 40.0) / 660.0)
    base = mix((255, 110, 84), (232, 36, 112), t)
    sheen = smooth(1.0 - clamp((y - 30.0) / 170.0)) * 0.18
    base = mix(base, (255, 255, 255), sheen)

    # White ring just inside the edge.
    ring = cov(abs(math.hypot(x - 193.5, y - 193.5) - 156.0) - 2.6) * 0.55

    # Beamed pair of notes.
    head1 = sd_ellipse(x, y, 150.0, 262.0, 33.0, 24.0, -0.42)
    head2 = sd_ellipse(x, y, 252.0, 236.0, 33.0, 24.0, -0.42)
    stem1 = sd_segment(x, y, 178.0, 250.0, 178.0, 128.0, 7.0)
    stem2 = sd_segment(x, y, 280.0, 224.0, 280.0, 102.0, 7.0)
    beam = sd_convex(x, y, [(171.0, 118.0), (287.0, 88.0), (287.0, 120.0), (171.0, 150.0)])
    note = min(head1, head2, stem1, stem2, beam)

    # Three waveform bars to the left of the notes.
    bars = min(sd_segment(x, y, 86.0, 170.0, 86.0, 206.0, 6.0),
               sd_segment(x, y, 108.0, 150.0, 108.0, 226.0, 6.0),
               sd_segment(x, y, 130.0, 172.0, 130.0, 204.0, 6.0))
    white = max(cov(note), cov(bars) * 0.85, ring)

    colour = mix(base, (255, 255, 255), white)
    alpha = disc
    # Shadow behind the disc: dark red, mostly transparent.
    out_a = alpha + shadow * (1.0 - alpha)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    shade = (120, 20, 40)
    rgb = tuple((c * alpha + s * shadow * (1.0 - alpha)) / out_a for c, s in zip(colour, shade))
    return rgb + (out_a * 255.0,)


def render_logo(size):
    data = bytearray(size * size * 4)
    for j in range(size):
        v = (j + 0.5) / size
        for i in range(size):
            r, g, b, a = logo_pixel((i + 0.5) / size, v, float(size))
            k = (j * size + i) * 4
            data[k:k + 4] = bytes((int(r + 0.5), int(g + 0.5), int(b + 0.5), int(a + 0.5)))
    return data


# ----------------------------------------------------------------------------------- the hero
def render_hero(width=1200, height=581):
    top_left = (255, 233, 226)
    top_right = (238, 230, 255)
    buf = [0.0] * (width * height * 3)

    # Background: warm-to-cool across, fading into white towards the bottom edge, so the band
    # meets the white window canvas without a seam.
    for y in range(height):
        fade = smooth((y - height * 0.45) / (height * 0.55))
        for x in range(width):
            c = mix(top_left, top_right, x / (width - 1))
            c = mix(c, (255, 255, 255), fade)
            k = (y * width + x) * 3
            buf[k], buf[k + 1], buf[k + 2] = c

    def blend(x, y, colour, alpha):
        if alpha <= 0.0 or not (0 <= x < width and 0 <= y < height):
            return
        k = (y * width + x) * 3
        for n in range(3):
            buf[k + n] += (colour[n] - buf[k + n]) * alpha

    # Soft round glows.
    for cx, cy, r, colour, strength in [
        (170, 120, 150, (255, 190, 170), 0.45), (1040, 90, 170, (214, 196, 255), 0.45),
        (980, 330, 110, (255, 200, 215), 0.35), (260, 360, 120, (255, 214, 196), 0.30),
    ]:
        for y in range(max(0, cy - r), min(height, cy + r + 1)):
            for x in range(max(0, cx - r), min(width, cx + r + 1)):
                d = math.hypot(x - cx, y - cy) / r
                if d < 1.0:
                    blend(x, y, colour, strength * (1.0 - smooth(d)))

    # Equalizer bars on both sides, very light.
    for side in (0, 1):
        for n in range(9):
            x0 = 60 + n * 26 if side == 0 else width - 60 - n * 26 - 12
            h = 40 + 70 * abs(math.sin(n * 1.7 + side * 0.9))
            y1, y0 = 470.0, 470.0 - h
            for y in range(int(y0) - 1, int(y1) + 2):
                for x in range(x0 - 1, x0 + 14):
                    d = sd_segment(x + 0.5, y + 0.5, x0 + 6.0, y0 + 6.0, x0 + 6.0, y1 - 6.0, 6.0)
                    blend(x, y, (255, 120, 130), coverage(d) * 0.13)

    # Sound waves: sine ribbons whose swing grows towards the sides, calm behind the logo and
    # the title in the middle.
    waves = [
        # (centre y, amplitude, wavelength, phase, half thickness, colour, alpha)
        (300.0, 70.0, 520.0, 0.0, 2.6, (255, 80, 90), 0.42),
        (310.0, 52.0, 380.0, 1.3, 1.8, (255, 120, 150), 0.38),
        (292.0, 88.0, 700.0, 2.4, 1.4, (170, 130, 255), 0.34),
        (320.0, 36.0, 260.0, 0.7, 1.2, (255, 150, 120), 0.30),
    ]
    centre = width / 2.0
    for cy, amp, wavelength, phase, half, colour, alpha in waves:
        k = 2.0 * math.pi / wavelength
        for x in range(width):
            side = abs(x + 0.5 - centre) / centre
            envelope = 0.25 + 0.75 * smooth(side * 1.2)
            yc = cy + amp * envelope * math.sin(k * (x + 0.5) + phase)
            slope = amp * envelope * k * math.cos(k * (x + 0.5) + phase)
            norm = math.sqrt(1.0 + slope * slope)
            reach = int(half * norm) + 2
            for y in range(int(yc) - reach, int(yc) + reach + 1):
                d = abs(y + 0.5 - yc) / norm - half
                blend(x, y, colour, coverage(d) * alpha)

    data = bytearray(width * height * 4)
    for i in range(width * height):
        data[i * 4] = int(clamp(buf[i * 3], 0, 255) + 0.5)
        data[i * 4 + 1] = int(clamp(buf[i * 3 + 1], 0, 255) + 0.5)
        data[i * 4 + 2] = int(clamp(buf[i * 3 + 2], 0, 255) + 0.5)
        data[i * 4 + 3] = 255
    return width, height, data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else OUT
    width, height, hero = render_hero()
    with open(os.path.join(out, "hero.png"), "wb") as f:
        f.write(png_bytes(width, height, hero))
    with open(os.path.join(out, "logo.png"), "wb") as f:
        f.write(png_bytes(387, 387, render_logo(387)))
    icons = [(size, render_logo(size)) for size in (16, 24, 32, 48, 64, 256)]
    with open(os.path.join(out, "app.ico"), "wb") as f:
        f.write(ico_bytes(icons))


if __name__ == "__main__":
    main()
