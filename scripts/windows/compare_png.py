#!/usr/bin/env python3
"""Compares two 8-bit RGB/RGBA PNG files pixel by pixel (standard library only).

usage: compare_png.py A.png B.png [--tolerance N] [--max-differing FRACTION]

Prints the size, the number of differing pixels and the largest channel difference. Exits 0
when the sizes match and at most FRACTION (default 0) of the pixels have a channel that
differs by more than N (default 0); 1 otherwise; 2 when a file cannot be read.
"""
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise ValueError("no IHDR")
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError("only 8-bit RGB/RGBA without interlacing")
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append(line)
        prev = line
    # Compare colour only: an alpha channel in one file and not the other is not a difference.
    pixels = []
    for line in rows:
        for x in range(width):
            pixels.append(tuple(line[x * channels:x * channels + 3]))
    return width, height, pixels


def main(argv):
    args = argv[1:]
    tolerance, fraction = 0, 0.0
    if "--tolerance" in args:
        i = args.index("--tolerance")
        tolerance = int(args[i + 1])
        del args[i:i + 2]
    if "--max-differing" in args:
        i = args.index("--max-differing")
        fraction = float(args[i + 1])
        del args[i:i + 2]
    if len(args) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        wa, ha, pa = read_png(args[0])
        wb, hb, pb = read_png(args[1])
    except (OSError, ValueError, zlib.error) as e:
        print(f"compare_png: {e}", file=sys.stderr)
        return 2
    if (wa, ha) != (wb, hb):
        print(f"sizes differ: {wa}x{ha} and {wb}x{hb}")
        return 1
    differing, beyond, largest = 0, 0, 0
    for a, b in zip(pa, pb):
        if a != b:
            differing += 1
            d = max(abs(x - y) for x, y in zip(a, b))
            largest = max(largest, d)
            beyond += d > tolerance
    share = differing / len(pa) if pa else 0.0
    print(f"{wa}x{ha}: {differing} pixels differ ({share:.4%}), largest channel difference {largest}")
    return 0 if (beyond / len(pa) if pa else 0.0) <= fraction else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
