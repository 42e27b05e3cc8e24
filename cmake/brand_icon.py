#!/usr/bin/env python3
"""Packs square RGBA PNG renderings of the page's icon into one .ico file.

usage: brand_icon.py OUT.ico SIZE=FILE.png ...

Every image is stored as a 32-bit picture: the sizes below 256 as BGRA bitmaps
(what every version of Windows reads, with an AND mask for old readers), 256
as the PNG itself, which is how the shell stores its largest icons.
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 6 or interlace != 0:
                raise SystemExit(f"{path}: expected 8-bit RGBA without interlace")
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows, data


def bitmap(width, rows):
    header = struct.pack("<IiiHHIIiiII", 40, width, width * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for line in reversed(rows):  # bottom-up
        bits = bytearray(mask_stride)
        for x in range(width):
            r, g, b, a = line[x * 4:x * 4 + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def main():
    out, pairs = sys.argv[1], sys.argv[2:]
    images = []
    for pair in pairs:
        size, path = pair.split("=", 1)
        width, height, rows, png = read_png(path)
        if width != int(size) or height != int(size):
            raise SystemExit(f"{path}: {width}x{height}, expected {size}")
        images.append((width, png if width >= 256 else bitmap(width, rows)))
    images.sort()
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for width, blob in images:
        dim = 0 if width >= 256 else width
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(out, "wb") as f:
        f.write(head + entries + blobs)


main()
