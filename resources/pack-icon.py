#!/usr/bin/env python3
"""Packs a PPM picture into a one-image ICO file: a 24-bit colour bitmap plus its 1-bit mask.

Magenta (255, 0, 255) pixels become transparent through the mask. Usage: pack-icon.py in.ppm out.ico
"""
import struct
import sys


def read_ppm(path):
    data = open(path, "rb").read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    assert fields[0] == b"P6" and fields[3] == b"255", "need a binary 8-bit PPM"
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    return width, height, pixels


def pack(width, height, pixels):
    row_bytes = (width * 3 + 3) & ~3
    mask_row_bytes = ((width + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(height)):  # bottom-up rows
        row = bytearray()
        bits = bytearray(mask_row_bytes)
        for x in range(width):
            r, g, b = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
            transparent = (r, g, b) == (255, 0, 255)
            row += bytes((0, 0, 0) if transparent else (b, g, r))
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        row += bytes(row_bytes - len(row))
        colour += row
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 24, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    width, height, pixels = read_ppm(sys.argv[1])
    open(sys.argv[2], "wb").write(pack(width, height, pixels))


if __name__ == "__main__":
    main()
