#!/usr/bin/env python3
"""Draws the program's icon (resource 130): 16x16 and 32x32, 256 colours each.

A dark blue rounded tile with an orange forward chevron over a checkered strip.
Writes a Windows .ico with two 8-bit images (palette, pixels, transparency
mask). Usage: make_icon.py OUT.ico
"""
import struct
import sys

SUPER = 4  # supersampling per axis


def inside_rounded(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def chevron(x, y, size):
    # Two slanted bars meeting at the right, a thick ">" centred above the strip.
    u, v = x / size, y / size
    d = abs(v - 0.42)
    left = 0.52 - d * 1.0
    return left <= u <= left + 0.26 and d <= 0.30


def sample(x, y, size):
    """RGBA of one point in icon coordinates (0..size)."""
    if not inside_rounded(x, y, size, size * 0.18):
        return (0, 0, 0, 0)
    u, v = x / size, y / size
    if v >= 0.78:
        cell = size / 8
        dark = (int(x / cell) + int((y - 0.78 * size) / cell)) % 2
        return (30, 30, 36, 255) if dark else (235, 235, 235, 255)
    if chevron(x, y, size):
        return (255, 140, 20, 255)
    return (24, 44, 112, 255)


def render(size):
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = sample(px + (sx + 0.5) / SUPER, py + (sy + 0.5) / SUPER, size)
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            n = SUPER * SUPER
            alpha = acc[3] / n
            rgb = tuple(int(acc[i] / acc[3]) if acc[3] else 0 for i in range(3))
            row.append((rgb, alpha >= 128))
        pixels.append(row)
    return pixels


def quantise(images):
    """One palette of at most 256 colours for all images (4 bits a channel)."""
    def key(rgb):
        return tuple((c >> 4) * 17 for c in rgb)

    palette = [(0, 0, 0)]
    index = {(0, 0, 0): 0}
    for img in images:
        for row in img:
            for rgb, opaque in row:
                k = key(rgb)
                if opaque and k not in index:
                    index[k] = len(palette)
                    palette.append(k)
    assert len(palette) <= 256, len(palette)
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, lambda rgb: index[key(rgb)]


def dib(img, size, palette, lookup):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    xor = b''
    mask = b''
    for row in reversed(img):  # bottom-up
        line = bytes(lookup(rgb) if opaque else 0 for rgb, opaque in row)
        xor += line + b'\0' * (-len(line) % 4)
        bits = 0
        out = b''
        for i, (_, opaque) in enumerate(row):
            bits = (bits << 1) | (0 if opaque else 1)
            if i % 8 == 7:
                out += bytes([bits])
                bits = 0
        mask += out + b'\0' * (-len(out) % 4)
    return header + pal + xor + mask


def main(out_path):
    sizes = [16, 32]
    images = [render(s) for s in sizes]
    palette, lookup = quantise(images)
    blobs = [dib(img, s, palette, lookup) for img, s in zip(images, sizes)]
    data = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, blob in zip(sizes, blobs):
        data += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    data += b''.join(blobs)
    with open(out_path, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1])
