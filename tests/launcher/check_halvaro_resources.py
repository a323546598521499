#!/usr/bin/python3
"""Reads Halvaro.exe's resources back and checks what Windows will see:
the version block, the manifest's settings, the icon and the chart picture,
which must be an 8-bit run-length bitmap showing, pixel for pixel, the
chart PNG. Prints one line per failed check, naming the check, and exits 1
on any.

Usage: check_halvaro_resources.py <Halvaro.exe> <chart PNG> <version>
"""
import io
import struct
import sys

import pefile
from PIL import Image

RT_BITMAP, RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 14, 16, 24
BI_RLE8 = 1
SUPPORTED_OS = {
    "Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "10/11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def resource(pe, type_id, name_id):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == type_id:
            for entry in kind.directory.entries:
                if entry.id == name_id:
                    data = entry.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


class Checks:
    """Collects the failed checks of one file, each naming what it checked."""

    def __init__(self, path):
        self.path, self.failures = path, []

    def __call__(self, name, got, want):
        if got != want:
            self.failures.append(f"{name}: got {got!r}, want {want!r}")

    def report(self):
        """Prints one line per failed check; the exit code."""
        for failure in self.failures:
            print(f"{self.path}: {failure}")
        return 1 if self.failures else 0


def bitmap_file(resource_bytes):
    """The bitmap resource as a .bmp file: a file header before it, pointing
    past the info header and colour table to the pixels."""
    header_size, _, _, _, bits, _, _, _, _, colours_used = struct.unpack_from("<IiiHHIIiiI", resource_bytes)
    colours = colours_used or (1 << bits if bits <= 8 else 0)
    offset = 14 + header_size + 4 * colours
    return struct.pack("<2sIHHI", b"BM", 14 + len(resource_bytes), 0, 0, offset) + resource_bytes


def check_chart(check, chart, png_path):
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", chart, 4)
    check("chart size", (width, height), (1006, 266))
    check("chart format (planes, bits per pixel, compression)", (planes, bits, compression), (1, 8, BI_RLE8))
    shown = Image.open(io.BytesIO(bitmap_file(chart))).convert("RGB")
    wanted = Image.open(png_path).convert("RGB")
    check("chart picture size", shown.size, wanted.size)
    if shown.size != wanted.size:
        return
    differing = [(i % width, i // width) for i, (a, b) in enumerate(zip(shown.getdata(), wanted.getdata()))
                 if a != b]
    check("chart pixels differing from the PNG", len(differing), 0)
    if differing:
        x, y = differing[0]
        check(f"chart pixel at {x},{y}", shown.getpixel((x, y)), wanted.getpixel((x, y)))


def main(path, png_path, version_text):
    pe = pefile.PE(path)
    check = Checks(path)
    version = [int(part) for part in version_text.split(".")]
    # The parts two by two in the high and low words.
    fixed_version = (version[0] << 16 | version[1], version[2] << 16 | version[3])

    fixed = pe.VS_FIXEDFILEINFO[0]
    check("machine", pe.FILE_HEADER.Machine, 0x14C)
    check("subsystem", pe.OPTIONAL_HEADER.Subsystem, 2)
    check("file version", (fixed.FileVersionMS, fixed.FileVersionLS), fixed_version)
    check("product version", (fixed.ProductVersionMS, fixed.ProductVersionLS), fixed_version)
    check("flags mask", fixed.FileFlagsMask, 0)
    check("flags", fixed.FileFlags, 0)
    check("file OS", fixed.FileOS, 4)
    check("file type", fixed.FileType, 1)
    check("file subtype", fixed.FileSubtype, 0)

    strings, translation = {}, None
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            strings = {t.LangID.decode(): t.entries for t in info.StringTable}
        elif info.Key == b"VarFileInfo":
            translation = info.Var[0].entry.get(b"Translation")
    check("string blocks", sorted(strings), ["040904B0"])
    wanted = {
        "CompanyName": "Central Kurdish Keyboard Layout Team",
        "ProductName": "Halvaro",
        "FileVersion": version_text,
        "ProductVersion": version_text,
        "InternalName": "Halvaro",
        "OriginalFilename": "Halvaro.exe",
    }
    block = strings.get("040904B0", {})
    for key, value in wanted.items():
        check(f"version string {key}", block.get(key.encode(), b"").decode(), value)
    check("translation", translation, "0x0409 0x04b0")

    manifest = (resource(pe, RT_MANIFEST, 1) or b"").decode("utf-8", "replace")
    check("manifest names the version", f'name="Halvaro" version="{version_text}"' in manifest, True)
    for name, text in [("asInvoker", 'level="asInvoker"'),
                       ("dpiAware", ">true/pm</dpiAware>"),
                       ("dpiAwareness", ">PerMonitorV2, PerMonitor</dpiAwareness>")] \
            + [(f"supportedOS {os}", f'Id="{guid}"') for os, guid in SUPPORTED_OS.items()]:
        check(f"manifest has {name}", text in manifest, True)
    check("manifest needs no Common Controls", "Common-Controls" in manifest, False)

    group = resource(pe, RT_GROUP_ICON, 1) or b"\0" * 6
    count = struct.unpack_from("<H", group, 4)[0]
    check("icon images", count, 1)
    if count:
        width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        check("icon size and depth", (width, height, bits), (32, 32, 8))
        check("icon image present", resource(pe, RT_ICON, icon_id) is not None, True)

    chart = resource(pe, RT_BITMAP, 101)
    check("chart present", chart is not None, True)
    if chart:
        check_chart(check, chart, png_path)

    return check.report()


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
