#!/usr/bin/env python3
"""Converts the window's artwork (ui/art/*.png, 8-bit RGB or RGBA, non-interlaced) into what the
resource compiler takes: a 24-bit bottom-up .bmp, or an .ico with the sizes Windows picks from
(16, 20, 24, 32, 48: 32-bit bitmaps; 256: PNG), each resampled from the artwork with its alpha.
Standard library only, so the cross build needs no imaging tool.
Usage: png_to_res.py bmp|ico input.png output"""
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


ICON_SIZES = (16, 20, 24, 32, 48, 256)


def rgba(width, height, channels, rows):
    """Premultiplied RGBA floats, row by row."""
    out = []
    for line in rows:
        row = []
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            a = px[3] / 255.0 if channels == 4 else 1.0
            row.append((px[0] * a, px[1] * a, px[2] * a, a))
        out.append(row)
    return out


def resample(image, width, height, size):
    """size x size pixels: each the mean of 4 x 4 bilinear samples of the source."""
    n = 4
    result = []
    for ty in range(size):
        row = []
        for tx in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    fx = min(max((tx + (sx + 0.5) / n) * width / size - 0.5, 0.0), width - 1.0)
                    fy = min(max((ty + (sy + 0.5) / n) * height / size - 0.5, 0.0), height - 1.0)
                    x0, y0 = int(fx), int(fy)
                    x1, y1 = min(x0 + 1, width - 1), min(y0 + 1, height - 1)
                    ax, ay = fx - x0, fy - y0
                    for c in range(4):
                        top = image[y0][x0][c] * (1 - ax) + image[y0][x1][c] * ax
                        bottom = image[y1][x0][c] * (1 - ax) + image[y1][x1][c] * ax
                        acc[c] += top * (1 - ay) + bottom * ay
            a = acc[3] / (n * n)
            if a <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(min(255, round(acc[c] / (n * n) / a)) for c in range(3)) + (round(a * 255),))
        result.append(row)
    return result


def dib_entry(pixels, size):
    """A 32-bit BGRA bitmap entry with its AND mask (bottom-up, height doubled)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        body += bits
    return header + body


def png_entry(pixels, size):
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in pixels)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, width, height, channels, rows):
    image = rgba(width, height, channels, rows)
    entries = []
    for size in ICON_SIZES:
        pixels = resample(image, width, height, size)
        entries.append((size, png_entry(pixels, size) if size >= 256 else dib_entry(pixels, size)))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(data for _, data in entries))


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("bmp", "ico"):
        sys.exit(__doc__)
    w, h, ch, lines, original = read_png(sys.argv[2])
    if sys.argv[1] == "bmp":
        write_bmp(sys.argv[3], w, h, ch, lines)
    else:
        write_ico(sys.argv[3], w, h, ch, lines)
