#!/usr/bin/env python3
"""Reads a PNG with the standard library only and prints what the plot tests
check: its size, the number of distinct colours, and for each colour given as
RRGGBB the number of pixels within a small distance of it.

    png_pixels.py FILE [RRGGBB ...]
    -> width height distinct count1 count2 ...

Handles the 8-bit, non-interlaced kinds that gnuplot writes: grey, RGB,
palette, grey with alpha and RGBA (alpha is ignored).
"""
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunks(data):
    pos = len(SIGNATURE)
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(kind, line, previous, bpp):
    """Undoes the sub (1), average (3) or Paeth (4) filter of one row in place."""
    for i in range(len(line)):
        left = line[i - bpp] if i >= bpp else 0
        up = previous[i]
        if kind == 1:
            line[i] = (line[i] + left) & 0xFF
        elif kind == 3:
            line[i] = (line[i] + (left + up) // 2) & 0xFF
        elif kind == 4:
            upper_left = previous[i - bpp] if i >= bpp else 0
            line[i] = (line[i] + paeth(left, up, upper_left)) & 0xFF
        else:
            raise ValueError("bad filter type %d" % kind)


def rows(raw, height, stride, bpp):
    previous = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        if kind == 2:  # up: the commonest filter, done in one pass
            line = bytearray((a + b) & 0xFF for a, b in zip(line, previous))
        elif kind != 0:
            unfilter(kind, line, previous, bpp)
        yield line
        previous = line


def main():
    path, wanted = sys.argv[1], [bytes.fromhex(c) for c in sys.argv[2:]]
    data = open(path, "rb").read()
    if not data.startswith(SIGNATURE):
        sys.exit("%s: not a PNG file" % path)
    header, palette, compressed = None, None, b""
    for kind, body in chunks(data):
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            compressed += body
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or interlace != 0 or colour not in CHANNELS:
        sys.exit("%s: unsupported PNG kind (depth %d, colour %d, interlace %d)"
                 % (path, depth, colour, interlace))
    bpp = CHANNELS[colour]
    counts = {}
    for line in rows(zlib.decompress(compressed), height, width * bpp, bpp):
        for x in range(0, width * bpp, bpp):
            pixel = bytes(line[x:x + bpp])
            if colour == 3:
                pixel = palette[pixel[0]]
            elif colour in (0, 4):
                pixel = pixel[:1] * 3
            else:
                pixel = pixel[:3]
            counts[pixel] = counts.get(pixel, 0) + 1
    near = []
    for target in wanted:
        near.append(sum(n for pixel, n in counts.items()
                        if max(abs(a - b) for a, b in zip(pixel, target)) <= 24))
    print(width, height, len(counts), *near)


if __name__ == "__main__":
    main()
