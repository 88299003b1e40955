#!/usr/bin/env python3
"""Converts the window's artwork (ui/art/*.png, 8-bit RGB or RGBA, non-interlaced) into what the
resource compiler takes: a 24-bit bottom-up .bmp, or an .ico that holds the PNG itself (Windows
Vista and later read PNG icon entries). Standard library only, so the cross build needs no imaging
tool.  Usage: png_to_res.py bmp|ico input.png output"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit(f"{path}: only 8-bit RGB/RGBA, non-interlaced")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            upleft = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(line)
        previous = line
    return width, height, channels, rows, data


def write_bmp(path, width, height, channels, rows):
    pad = (4 - (width * 3) % 4) % 4
    pixels = bytearray()
    for line in reversed(rows):  # bottom-up
        for x in range(width):
            r, g, b = line[x * channels:x * channels + 3]
            pixels += bytes((b, g, r))
        pixels += b"\0" * pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    open(path, "wb").write(header + info + pixels)


def write_ico(path, width, height, png):
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
    open(path, "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + png)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("bmp", "ico"):
        sys.exit(__doc__)
    w, h, ch, lines, original = read_png(sys.argv[2])
    if sys.argv[1] == "bmp":
        write_bmp(sys.argv[3], w, h, ch, lines)
    else:
        write_ico(sys.argv[3], w, h, original)
