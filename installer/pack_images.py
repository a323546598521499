#!/usr/bin/python3
"""Packs the layout images the installer carries into one stream, in the
form installer/unpack.cpp reads: a flag byte before each group of eight
items, its lowest bit first; a set bit is a literal byte, which follows;
a clear bit is a copy of earlier output, which follows as the distance
back (two bytes, little-endian, 1 to 65535) and the length less three
(one byte: 3 to 258 bytes). The images are about three fifths zero bytes
and alike among themselves: packed together they take a quarter of the
room.

    pack_images.py OUTPUT IMAGE...

The same images always give the same bytes."""
import sys

MIN_LENGTH, MAX_LENGTH, MAX_DISTANCE = 3, 258, 65535
# How many earlier places with the same three bytes are tried, newest first.
CANDIDATES = 64


def pack(data):
    out = bytearray()
    places = {}
    flags_at, bit = 0, 8
    i = 0
    while i < len(data):
        if bit == 8:
            flags_at, bit = len(out), 0
            out.append(0)
        best_length, best_distance = 0, 0
        for j in reversed(places.get(data[i:i + 3], [])[-CANDIDATES:]):
            if i - j > MAX_DISTANCE:
                break
            length = 0
            while length < MAX_LENGTH and i + length < len(data) and data[j + length] == data[i + length]:
                length += 1
            if length > best_length:
                best_length, best_distance = length, i - j
        step = best_length if best_length >= MIN_LENGTH else 1
        if step == 1:
            out[flags_at] |= 1 << bit
            out.append(data[i])
        else:
            out += bytes([best_distance & 0xFF, best_distance >> 8, best_length - MIN_LENGTH])
        bit += 1
        for k in range(i, i + step):
            places.setdefault(data[k:k + 3], []).append(k)
        i += step
    return bytes(out)


def main():
    output, images = sys.argv[1], sys.argv[2:]
    data = b"".join(open(image, "rb").read() for image in images)
    with open(output, "wb") as f:
        f.write(pack(data))


if __name__ == "__main__":
    main()
