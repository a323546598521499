#!/usr/bin/python3
"""Reads setup.exe's resources back and checks what Windows will see: the
version block, the manifest's settings, the launcher's icon, the message
texts in English and Central Kurdish (the same ids, the same inserts, and
Kurdish letters rather than Arabic ones), and each embedded layout image,
byte for byte the built one.

    check_setup_resources.py SETUP_EXE HALVARO_EXE IMAGES_MANIFEST [COPY...]

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
    """What a translation must keep of a message: its inserts and its tabs."""
    return sorted(re.findall(r"%[1-9]", text)), text.count("\t")


def check_messages(check, pe):
    tables = string_tables(pe)
    english, kurdish = tables.get(ENGLISH, {}), tables.get(CENTRAL_KURDISH, {})
    check("string table languages", sorted(tables), [ENGLISH, CENTRAL_KURDISH])
    for number in MESSAGE_IDS:
        check(f"message {number} present", number in english, True)
    check("ids only in English", sorted(english.keys() - kurdish.keys()), [])
    check("ids only in Central Kurdish", sorted(kurdish.keys() - english.keys()), [])
    for number in sorted(english.keys() & kurdish.keys()):
        check(f"string {number}: the English inserts and tabs in Central Kurdish", inserts(kurdish[number]),
              inserts(english[number]))
        check(f"string {number}: Arabic letters Kurdish writes otherwise",
              sorted(name for letter, name in ARABIC_ONLY_LETTERS.items() if letter in kurdish[number]), [])
        if re.search("[A-Za-z]{4}", re.sub(r"%[1-9]", "", english[number])):
            check(f"string {number}: written in Arabic script in Central Kurdish",
                  bool(ARABIC_SCRIPT_LETTER.search(kurdish[number])), True)


def unpack(packed, size):
    """The bytes of a packed stream: a flag byte before each group of
    eight items, lowest bit first; a set bit a literal byte, a clear one a
    copy of earlier output (the distance back in two bytes, little-endian,
    then the length less three); None if the stream is damaged."""
    out, at = bytearray(), 0
    try:
        while len(out) < size:
            flags = packed[at]
            at += 1
            for bit in range(8):
                if len(out) == size:
                    break
                if flags >> bit & 1:
                    out.append(packed[at])
                    at += 1
                    continue
                distance, length = packed[at] | packed[at + 1] << 8, packed[at + 2] + 3
                at += 3
                if not 0 < distance <= len(out):
                    return None
                for _ in range(length):
                    out.append(out[-distance])
    except IndexError:
        return None
    return bytes(out) if at == len(packed) and len(out) == size else None


def icon_images(pe):
    group = resource(pe, RT_GROUP_ICON, 1) or b"\0" * 6
    count = int.from_bytes(group[4:6], "little")
    return [resource(pe, RT_ICON, int.from_bytes(group[6 + 14 * i + 12:6 + 14 * i + 14], "little"))
            for i in range(count)]


def main(setup, halvaro, images_manifest, *copies):
    pe = pefile.PE(setup)
    check = Checks(setup)

    fixed = pe.VS_FIXEDFILEINFO[0]
    check("machine", pe.FILE_HEADER.Machine, 0x14C)
    check("subsystem", pe.OPTIONAL_HEADER.Subsystem, 2)
    check("file version", (fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0x00030028))
    check("product version", (fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0x00030028))
    check("file type", fixed.FileType, 1)
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            strings = {k.decode(): v.decode() for t in info.StringTable for k, v in t.entries.items()}
    check("CompanyName", strings.get("CompanyName"), "Central Kurdish Keyboard Layout Team")
    check("FileVersion", strings.get("FileVersion"), "1.0.3.40")
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
