#!/usr/bin/python3
"""Reads setup.exe's resources back and checks what Windows will see: the
version block, the manifest's settings, the launcher's icon, the message
texts in English and Central Kurdish (the same ids, the same inserts, and
Kurdish letters rather than Arabic ones), and each embedded layout image,
byte for byte the built one.

    check_setup_resources.py SETUP_EXE HALVARO_EXE IMAGES_MANIFEST VERSION [COPY...]

VERSION: the package's version, four numbers such as 1.2.3.4.

COPY: the shipped copies (setup7.exe, setup8.exe), which must equal
SETUP_EXE, apart from the signature of a signed build. Prints one line per failed check and exits 1 on any."""
import os
import re
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "launcher"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "setup"))
from check_halvaro_resources import RT_GROUP_ICON, RT_ICON, RT_MANIFEST, SUPPORTED_OS, Checks, resource  # noqa: E402
from signature import same_program  # noqa: E402

RT_STRING, RT_RCDATA = 6, 10
MESSAGE_IDS = range(100, 112)
ENGLISH, CENTRAL_KURDISH = 0x0409, 0x0492
# Letters of Arabic that Kurdish writes otherwise: TEH MARBUTA (Kurdish
# writes AE), KAF (KEHEH), YEH and ALEF MAKSURA (FARSI YEH).
ARABIC_ONLY_LETTERS = {"\u0629": "TEH MARBUTA", "\u0643": "KAF", "\u064a": "YEH", "\u0649": "ALEF MAKSURA"}
ARABIC_SCRIPT_LETTER = re.compile("[\u0620-\u064a\u066e-\u06d3\u06d5]")


def named_resource(pe, type_id, name):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == type_id:
            for entry in kind.directory.entries:
                if entry.name is not None and str(entry.name) == name:
                    data = entry.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def string_tables(pe):
    """{language id: {string id: text}} of every string table, empty
    strings left out."""
    tables = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_STRING:
            continue
        for block in kind.directory.entries:
            for language in block.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                table = tables.setdefault(language.id, {})
                offset = 0
                for index in range(16):
                    length = int.from_bytes(data[offset:offset + 2], "little")
                    if length:
                        table[(block.id - 1) * 16 + index] = data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
                    offset += 2 + 2 * length
    return tables


def inserts(text):
    """What a translation must keep of a message: its inserts."""
    return sorted(re.findall(r"%[1-9]", text))


def check_messages(check, pe):
    tables = string_tables(pe)
    english, kurdish = tables.get(ENGLISH, {}), tables.get(CENTRAL_KURDISH, {})
    check("string table languages", sorted(tables), [ENGLISH, CENTRAL_KURDISH])
    for number in MESSAGE_IDS:
        check(f"message {number} present", number in english, True)
    check("ids only in English", sorted(english.keys() - kurdish.keys()), [])
    check("ids only in Central Kurdish", sorted(kurdish.keys() - english.keys()), [])
    for number in sorted(english.keys() & kurdish.keys()):
        check(f"string {number}: the English inserts in Central Kurdish", inserts(kurdish[number]),
              inserts(english[number]))
        check(f"string {number}: Arabic letters Kurdish writes otherwise",
              sorted(name for letter, name in ARABIC_ONLY_LETTERS.items() if letter in kurdish[number]), [])
        if re.search("[A-Za-z]{4}", re.sub(r"%[1-9]", "", english[number])):
            check(f"string {number}: written in Arabic script in Central Kurdish",
                  bool(ARABIC_SCRIPT_LETTER.search(kurdish[number])), True)


def unpack(packed, size):
    """The bytes of a packed stream, read bit by bit with LZMA's range
    decoder: a bit literal/copy by the previous item's kind; a literal's
    8 bits through a tree chosen by the top three bits of the byte before;
    a copy's repeat bit, else its distance's bit length (a 4-bit tree) and
    lower bits (a probability each by length and place); its length less
    two (an 8-bit tree by repeat). None if the stream is damaged."""
    state = {"range": 0xFFFFFFFF, "code": 0, "at": 0, "overrun": False}

    def byte():
        if state["at"] < len(packed):
            state["at"] += 1
            return packed[state["at"] - 1]
        state["overrun"] = True
        return 0

    def bit(table, index):
        p = table[index]
        bound = (state["range"] >> 11) * p
        if state["code"] < bound:
            state["range"], table[index], result = bound, p + ((2048 - p) >> 5), 0
        else:
            state["code"] -= bound
            state["range"] -= bound
            table[index], result = p - (p >> 5), 1
        while state["range"] < 1 << 24:
            state["range"] = state["range"] << 8 & 0xFFFFFFFF
            state["code"] = (state["code"] << 8 | byte()) & 0xFFFFFFFF
        return result

    def tree(table, bits):
        node = 1
        for _ in range(bits):
            node = node * 2 + bit(table, node)
        return node - (1 << bits)

    for _ in range(5):
        state["code"] = (state["code"] << 8 | byte()) & 0xFFFFFFFF
    kind, repeat = [1024] * 2, [1024] * 2
    literal = {context: [1024] * 256 for context in range(8)}
    length_trees = {0: [1024] * 256, 1: [1024] * 256}
    widths, low_bits = [1024] * 16, {width: [1024] * 16 for width in range(16)}
    out, last, distance = bytearray(), 0, 0
    while len(out) < size:
        if not bit(kind, last):
            out.append(tree(literal[(out[-1] if out else 0) >> 5], 8))
            last = 0
            continue
        repeated = bit(repeat, last)
        if not repeated:
            width = tree(widths, 4)
            if width == 0:
                return None
            distance = 1
            for place in range(width - 2, -1, -1):
                distance = distance * 2 + bit(low_bits[width], place)
        length = tree(length_trees[repeated], 8) + 2
        if not 0 < distance <= len(out) or len(out) + length > size:
            return None
        for _ in range(length):
            out.append(out[-distance])
        last = 1
    return bytes(out) if state["at"] == len(packed) and not state["overrun"] else None


def icon_images(pe):
    group = resource(pe, RT_GROUP_ICON, 1) or b"\0" * 6
    count = int.from_bytes(group[4:6], "little")
    return [resource(pe, RT_ICON, int.from_bytes(group[6 + 14 * i + 12:6 + 14 * i + 14], "little"))
            for i in range(count)]


def main(setup, halvaro, images_manifest, version, *copies):
    pe = pefile.PE(setup)
    check = Checks(setup)

    fixed = pe.VS_FIXEDFILEINFO[0]
    major, minor, build, revision = map(int, version.split("."))
    check("machine", pe.FILE_HEADER.Machine, 0x14C)
    check("subsystem", pe.OPTIONAL_HEADER.Subsystem, 2)
    check("file version", (fixed.FileVersionMS, fixed.FileVersionLS), (major << 16 | minor, build << 16 | revision))
    check("product version", (fixed.ProductVersionMS, fixed.ProductVersionLS),
          (major << 16 | minor, build << 16 | revision))
    check("file type", fixed.FileType, 1)
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            strings = {k.decode(): v.decode() for t in info.StringTable for k, v in t.entries.items()}
    check("CompanyName", strings.get("CompanyName"), "Central Kurdish Keyboard Layout Team")
    check("FileVersion", strings.get("FileVersion"), version)
    check("OriginalFilename", strings.get("OriginalFilename"), "setup.exe")

    manifest = (resource(pe, RT_MANIFEST, 1) or b"").decode("utf-8", "replace")
    for name, text in [("requireAdministrator", 'level="requireAdministrator"'),
                       ("dpiAware", ">true</dpiAware>")] \
            + [(f"supportedOS {os_name}", f'Id="{guid}"') for os_name, guid in SUPPORTED_OS.items()]:
        check(f"manifest has {name}", text in manifest, True)

    check("the launcher's icon", icon_images(pe), icon_images(pefile.PE(halvaro)))
    check_messages(check, pe)

    with open(images_manifest, encoding="utf-8") as listing:
        images = dict(line.split(maxsplit=1) for line in listing.read().splitlines() if line.strip())
    check("image forms", list(images), ["x64", "x86", "wow64", "arm64"])
    built = b"".join(open(path, "rb").read() for path in images.values())
    packed = named_resource(pe, RT_RCDATA, "KURD_IMAGES") or b""
    check("KURD_IMAGES: every built image, packed, in the forms' order", unpack(packed, len(built)) == built, True)

    with open(setup, "rb") as f:
        program = f.read()
    for copy in copies:
        with open(copy, "rb") as f:
            check(f"{copy} equal to {setup} (apart from a signature)", same_program(f.read(), program), True)

    return check.report()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
