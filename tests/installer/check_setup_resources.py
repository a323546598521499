#!/usr/bin/python3
"""Reads setup.exe's resources back and checks what Windows will see: the
version block, the manifest's settings, the launcher's icon, the message
texts, and each embedded layout image, byte for byte the built one.

    check_setup_resources.py SETUP_EXE HALVARO_EXE IMAGES_MANIFEST [COPY...]

COPY: the shipped copies (setup7.exe, setup8.exe), which must equal
SETUP_EXE. Prints one line per failed check and exits 1 on any."""
import os
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "launcher"))
from check_halvaro_resources import RT_GROUP_ICON, RT_ICON, RT_MANIFEST, SUPPORTED_OS, Checks, resource  # noqa: E402

RT_STRING, RT_RCDATA = 6, 10
MESSAGE_IDS = range(100, 112)


def named_resource(pe, type_id, name):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == type_id:
            for entry in kind.directory.entries:
                if entry.name is not None and str(entry.name) == name:
                    data = entry.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def string(pe, number):
    block = resource(pe, RT_STRING, number // 16 + 1)
    offset = 0
    for index in range(16):
        if block is None or offset + 2 > len(block):
            return None
        length = int.from_bytes(block[offset:offset + 2], "little")
        if index == number % 16:
            return block[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        offset += 2 + 2 * length
    return None


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
    for number in MESSAGE_IDS:
        check(f"message {number} present", bool(string(pe, number)), True)

    with open(images_manifest, encoding="utf-8") as listing:
        images = dict(line.split(maxsplit=1) for line in listing.read().splitlines() if line.strip())
    check("image forms", sorted(images), ["arm64", "wow64", "x64", "x86"])
    for form, path in images.items():
        with open(path, "rb") as f:
            built = f.read()
        embedded = named_resource(pe, RT_RCDATA, f"KURD_DLL_{form}".upper())
        check(f"KURD_DLL_{form} equal to {path}", embedded == built, True)

    with open(setup, "rb") as f:
        program = f.read()
    for copy in copies:
        with open(copy, "rb") as f:
            check(f"{copy} equal to {setup}", f.read() == program, True)

    return check.report()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
