#!/usr/bin/python3
"""Packs the layout images the installer carries into one stream, in the
form installer/unpack.cpp reads.

The stream is a series of bits coded with an adaptive binary range coder
(the coder of LZMA: 32-bit range, 11-bit probabilities, each moving a 32nd
of the way toward every bit it codes; five bytes of flush). Each item is

- a bit, 0 for a literal and 1 for a copy, its probability chosen by what
  the previous item was (a literal or a copy);
- a literal: its 8 bits, highest first, through a bit tree of 256
  probabilities, one tree for each value of the top three bits of the
  byte before it (0 at the start);
- a copy: a bit, 1 when it copies from the distance of the copy before it,
  its probability chosen like the first bit's; otherwise the distance's
  bit length (1 to 15) through a 4-bit tree, then its bits below the top
  one, highest first, each with a probability of its own for that length
  and place; then the length less two (2 to 257 bytes) through an 8-bit
  tree, one tree for repeated distances and one for new ones.

The images are about three fifths zero bytes and alike among themselves:
packed together they take a sixth of the room.

    pack_images.py OUTPUT IMAGE...

The same images always give the same bytes."""
import sys

PROBABILITY_BITS, MOVE_BITS = 11, 5
HALF = 1 << PROBABILITY_BITS - 1
MIN_LENGTH, MAX_LENGTH, MAX_DISTANCE = 2, 257, (1 << 15) - 1
# How many earlier places with the same two bytes are tried, newest first.
CANDIDATES = 256


class RangeEncoder:
    def __init__(self):
        self.low, self.range, self.cache, self.pending, self.out = 0, 0xFFFFFFFF, 0, 1, bytearray()

    def _shift_low(self):
        # A byte is held back while a carry could still change it.
        if self.low < 0xFF000000 or self.low >= 1 << 32:
            carry = self.low >> 32
            byte = self.cache
            while self.pending:
                self.out.append((byte + carry) & 0xFF)
                byte = 0xFF
                self.pending -= 1
            self.cache = (self.low >> 24) & 0xFF
        self.pending += 1
        self.low = (self.low & 0x00FFFFFF) << 8

    def bit(self, probabilities, index, bit):
        p = probabilities[index]
        bound = (self.range >> PROBABILITY_BITS) * p
        if bit:
            self.low += bound
            self.range -= bound
            probabilities[index] = p - (p >> MOVE_BITS)
        else:
            self.range = bound
            probabilities[index] = p + ((1 << PROBABILITY_BITS) - p >> MOVE_BITS)
        while self.range < 1 << 24:
            self.range <<= 8
            self._shift_low()

    def tree(self, probabilities, bits, value):
        node = 1
        for k in reversed(range(bits)):
            bit = value >> k & 1
            self.bit(probabilities, node, bit)
            node = node * 2 + bit

    def finish(self):
        for _ in range(5):
            self._shift_low()
        return bytes(self.out)


def matching(data, i, j):
    length = 0
    while length < MAX_LENGTH and i + length < len(data) and data[j + length] == data[i + length]:
        length += 1
    return length


def items(data):
    """(distance, length) for each copy, None for each literal: the longest
    copy at each place, a repeated distance preferred at equal length."""
    places, i, previous = {}, 0, 0
    while i < len(data):
        length, distance = 0, 0
        if previous:
            length, distance = matching(data, i, i - previous), previous
        for j in reversed(places.get(data[i:i + 2], [])[-CANDIDATES:]):
            if i - j > MAX_DISTANCE:
                break
            found = matching(data, i, j)
            if found > length:
                length, distance = found, i - j
        step = length if length >= MIN_LENGTH else 1
        if step == 1:
            yield None
        else:
            yield distance, length
            previous = distance
        for k in range(i, i + step):
            places.setdefault(data[k:k + 2], []).append(k)
        i += step


def pack(data):
    coder = RangeEncoder()
    is_copy, is_repeat = [HALF] * 2, [HALF] * 2
    literals = [[HALF] * 256 for _ in range(8)]
    lengths = [[HALF] * 256 for _ in range(2)]
    bit_lengths = [HALF] * 16
    distance_bits = [[HALF] * 16 for _ in range(16)]
    after_copy, previous, at = 0, 0, 0
    for item in items(data):
        coder.bit(is_copy, after_copy, item is not None)
        if item is None:
            coder.tree(literals[data[at - 1] >> 5 if at else 0], 8, data[at])
            at, after_copy = at + 1, 0
            continue
        distance, length = item
        repeat = distance == previous
        coder.bit(is_repeat, after_copy, repeat)
        if not repeat:
            bits = distance.bit_length()
            coder.tree(bit_lengths, 4, bits)
            for k in reversed(range(bits - 1)):
                coder.bit(distance_bits[bits], k, distance >> k & 1)
            previous = distance
        coder.tree(lengths[repeat], 8, length - MIN_LENGTH)
        at, after_copy = at + length, 1
    return coder.finish()


def main():
    output, images = sys.argv[1], sys.argv[2:]
    data = b"".join(open(image, "rb").read() for image in images)
    with open(output, "wb") as f:
        f.write(pack(data))


if __name__ == "__main__":
    main()
