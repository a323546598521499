#!/usr/bin/env python3
"""Turns the Unicode Character Database's names into the C++ data kbdcheck
carries (unicode_names.h describes the encoding; unicode_names.cpp reads it).

Usage: make_unicode_names.py <folder with UnicodeData.txt, NameAliases.txt,
Jamo.txt> <output .cpp>

Every name is rebuilt from the encoding before the file is written, so a
fault of the encoder stops the build instead of misnaming a character.
"""
import collections
import sys

CHECKPOINT_EVERY = 32
ONE_BYTE_WORDS = 0x80
MAX_WORDS = 0x8000

# Ranges the database lists by their first and last code point only; their
# names follow from the code point. Ranges not listed here have no names
# (surrogates, private use); a new kind of range stops the build.
RANGE_PREFIXES = {
    "CJK Ideograph": "CJK UNIFIED IDEOGRAPH-",
    "Tangut Ideograph": "TANGUT IDEOGRAPH-",
}
UNNAMED_RANGES = ("Surrogate", "Private Use")
HANGUL = "Hangul Syllable"


def read_fields(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def read_database(folder):
    """({code point: name}, [(first, last, prefix or None for Hangul)], jamo)."""
    control_names = {}
    for code, alias, kind in read_fields(f"{folder}/NameAliases.txt"):
        if kind == "control":
            control_names.setdefault(int(code, 16), alias)
    names, ranges, first = {}, [], None
    for fields in read_fields(f"{folder}/UnicodeData.txt"):
        code, name = int(fields[0], 16), fields[1]
        if name.endswith(", First>"):
            first = code
        elif name.endswith(", Last>"):
            label = name[1:-len(", Last>")]
            prefix = next((p for kind, p in RANGE_PREFIXES.items() if label.startswith(kind)), None)
            if label == HANGUL:
                ranges.append((first, code, None))
            elif prefix:
                ranges.append((first, code, prefix))
            elif not any(kind in label for kind in UNNAMED_RANGES):
                sys.exit(f"make_unicode_names.py: no rule for the range {label}")
        elif name == "<control>":
            if code in control_names:
                names[code] = control_names[code]
        else:
            names[code] = name
    jamo = {int(code, 16): short for code, short in read_fields(f"{folder}/Jamo.txt")}
    return names, ranges, jamo


def split(code, name):
    """The words of a name, and whether it ends in the code point's own hex."""
    own = f"-{code:04X}"
    if name.endswith(own):
        return name[: -len(own) + 1].split(" "), True
    return name.split(" "), False


def encode(names):
    counts = collections.Counter()
    for code, name in names.items():
        counts.update(split(code, name)[0])
    words = [word for word, _ in counts.most_common()]
    if len(words) > MAX_WORDS:
        sys.exit("make_unicode_names.py: too many distinct words")
    index = {word: i for i, word in enumerate(words)}
    stream, checkpoints, previous = bytearray(), [], 0
    for n, code in enumerate(sorted(names)):
        if n % CHECKPOINT_EVERY == 0:
            checkpoints.append((code, len(stream)))
        delta = code - previous
        previous = code
        while True:
            stream.append((delta & 0x7F) | (0x80 if delta > 0x7F else 0))
            delta >>= 7
            if not delta:
                break
        parts, own = split(code, names[code])
        if len(parts) > 0x7F:
            sys.exit(f"make_unicode_names.py: U+{code:04X} has too many words")
        stream.append(len(parts) | (0x80 if own else 0))
        for word in parts:
            i = index[word]
            stream += bytes([i]) if i < ONE_BYTE_WORDS else bytes([0x80 | i >> 8, i & 0xFF])
    return words, bytes(stream), checkpoints


def decode(words, stream, checkpoints):
    """The names back from the encoding, as unicode_names.cpp reads it; each
    checkpoint must name the code point of the entry it points at."""
    names, at, code = {}, 0, 0
    checkpoint_codes = {offset: c for c, offset in checkpoints}
    while at < len(stream):
        start = at
        delta, shift = 0, 0
        while True:
            byte = stream[at]
            at += 1
            delta |= (byte & 0x7F) << shift
            shift += 7
            if not byte & 0x80:
                break
        code += delta
        if checkpoint_codes.get(start, code) != code:
            sys.exit(f"make_unicode_names.py: the checkpoint at {start} names the wrong code point")
        header = stream[at]
        at += 1
        parts = []
        for _ in range(header & 0x7F):
            i = stream[at]
            at += 1
            if i & 0x80:
                i = (i & 0x7F) << 8 | stream[at]
                at += 1
            parts.append(words[i])
        name = " ".join(parts)
        names[code] = name + f"{code:04X}" if header & 0x80 else name
    return names


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def c_bytes(data, per_line=24):
    return "\n".join("    " + "".join(f"{b},"for b in data[i:i + per_line]) for i in range(0, len(data), per_line))


def main(folder, output):
    names, ranges, jamo = read_database(folder)
    words, stream, checkpoints = encode(names)
    if decode(words, stream, checkpoints) != names:
        sys.exit("make_unicode_names.py: the encoded names do not read back")
    starts, offset = [], 0
    for word in words:
        starts.append(offset)
        offset += len(word) + 1
    lead = [jamo[c] for c in range(0x1100, 0x1113)]
    vowel = [jamo[c] for c in range(0x1161, 0x1176)]
    trail = [""] + [jamo[c] for c in range(0x11A8, 0x11C3)]
    with open(output, "w", encoding="utf-8") as out:
        out.write("// Generated by make_unicode_names.py from the Unicode Character Database. Do not edit.\n")
        out.write('#include "unicode_names.h"\n\nnamespace kbdcheck::unicode_names {\nnamespace {\n\n')
        out.write("const char words[] =\n")
        out.write("\n".join(f'    "{word}\\0"' for word in words) + ";\n\n")
        out.write("const std::uint32_t wordStarts[] = {\n" +
                  "\n".join("    " + "".join(f"{s}," for s in starts[i:i + 16]) for i in range(0, len(starts), 16)) +
                  "\n};\n\n")
        out.write("const std::uint8_t entries[] = {\n" + c_bytes(stream) + "\n};\n\n")
        out.write("const Checkpoint checkpoints[] = {\n" +
                  "\n".join(f"    {{0x{c:X}, {o}}}," for c, o in checkpoints) + "\n};\n\n")
        out.write("const DerivedRange ranges[] = {\n" +
                  "\n".join(f"    {{0x{a:X}, 0x{b:X}, {c_string(p) if p else 'nullptr'}}}," for a, b, p in ranges) +
                  "\n};\n\n")
        for name, table in (("leadJamo", lead), ("vowelJamo", vowel), ("trailJamo", trail)):
            out.write(f"const char* const {name}[] = {{" + ", ".join(c_string(j) for j in table) + "};\n")
        out.write("\n} // namespace\n\n")
        out.write("const Data data{words, wordStarts, entries, checkpoints, ranges, leadJamo, vowelJamo, trailJamo};\n")
        out.write("\n} // namespace kbdcheck::unicode_names\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
