#!/usr/bin/python3
"""Checks the shape of the built Kurd.dll with pefile, a PE parser we did not
write, so a fault shared by our reader and our validator cannot hide.

Usage: pe_crosscheck.py <Kurd.dll>
Prints one line per failed property and exits 1 if any failed.
"""
import struct
import sys

import pefile

IMAGE_BASE = 0x180000000
DIR64 = pefile.RELOCATION_TYPE["IMAGE_REL_BASED_DIR64"]
SCN_CNT_INITIALIZED_DATA = 0x00000040
SCN_MEM_DISCARDABLE = 0x02000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_LARGE_ADDRESS_AWARE = 0x0020
FILE_DLL = 0x2000
LANG_EN_US = 0x0409

BUILDER = "kbd tables built with LLVM 16"
VERSION_TEXTS = [
    ("CompanyName", "Central Kurdish Keyboard Layout Team"),
    ("FileDescription", "Arabic (101) - Halvaro Layout"),
    ("FileVersion", "1, 0, 3, 40"),
    ("InternalName", "kurd (3.40)"),
    ("ProductName", BUILDER),
    ("Release Information", BUILDER),
    ("LegalCopyright", "Copyright (C) 2026 Central Kurdish Keyboard Layout Team"),
    ("OriginalFilename", "kurd"),
    ("ProductVersion", "1, 0, 3, 40"),
]


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def stored_pointers(pe, image, tables_rva):
    """RVAs of every pointer stored in the layout tables, walked from the
    descriptor record the way the keyboard-layout loader reads them."""
    def qword(rva):
        return struct.unpack_from("<Q", image, rva)[0]

    sites = []
    for field in (0x00, 0x08, 0x18, 0x20, 0x30, 0x40, 0x48, 0x58):
        sites.append(tables_rva + field)
    modifiers = qword(tables_rva + 0x00) - IMAGE_BASE
    sites.append(modifiers)
    entry = qword(tables_rva + 0x08) - IMAGE_BASE
    while qword(entry) != 0:
        sites.append(entry)
        entry += 16
    for names_field in (0x18, 0x20):
        entry = qword(tables_rva + names_field) - IMAGE_BASE
        while image[entry] != 0 or qword(entry + 8) != 0:
            sites.append(entry + 8)
            entry += 16
    return sites


def version_resource_leaves(pe):
    leaves = []
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rid in rtype.directory.entries:
            for lang in rid.directory.entries:
                leaves.append((rtype.id, rid.id, lang.id))
    return leaves


def string_resource(pe, string_id):
    """(language, text) of a string resource, read from its bundle."""
    bundle_id = string_id // 16 + 1
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for rid in rtype.directory.entries:
            if rid.id != bundle_id:
                continue
            for lang in rid.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                offset = 0
                for index in range(16):
                    length = struct.unpack_from("<H", data, offset)[0]
                    text = data[offset + 2: offset + 2 + 2 * length].decode("utf-16-le")
                    if index == string_id % 16:
                        return lang.id, text
                    offset += 2 + 2 * length
    return None


def main(dll_path):
    with open(dll_path, "rb") as f:
        raw = f.read()
    pe = pefile.PE(data=raw)
    image = pe.get_memory_mapped_image(ImageBase=IMAGE_BASE)
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    dirs = oh.DATA_DIRECTORY
    checks = []

    def check(name, actual, expected):
        checks.append((name, actual, expected))

    check("machine", hex(fh.Machine), hex(pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]))
    check("optional header magic (PE32+)", hex(oh.Magic), hex(pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS))
    check("file characteristics", hex(fh.Characteristics),
          hex(FILE_EXECUTABLE_IMAGE | FILE_LARGE_ADDRESS_AWARE | FILE_DLL))
    check("time stamp", fh.TimeDateStamp, 0)
    check("image base", hex(oh.ImageBase), hex(IMAGE_BASE))
    check("subsystem", oh.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_NATIVE"])
    check("subsystem version", (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion), (5, 2))
    check("OS version", (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion), (4, 0))
    check("image version", (oh.MajorImageVersion, oh.MinorImageVersion), (4, 0))
    check("entry point", oh.AddressOfEntryPoint, 0)
    check("DLL characteristics", hex(oh.DllCharacteristics), hex(0))
    check("section alignment", hex(oh.SectionAlignment), hex(0x1000))
    check("file alignment", hex(oh.FileAlignment), hex(0x200))
    check("checksum is filled in", oh.CheckSum != 0, True)
    check("checksum", hex(oh.CheckSum), hex(pe.generate_checksum()))
    for name in ("IMPORT", "IAT", "DELAY_IMPORT", "BOUND_IMPORT", "TLS", "DEBUG", "EXCEPTION"):
        entry = dirs[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]
        check(f"{name} directory is empty", (entry.VirtualAddress, entry.Size), (0, 0))

    # Sections, their order and flags.
    names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
    check("sections", names, [".data", ".rsrc", ".reloc"])
    expected_flags = {
        ".data": SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_EXECUTE,
        ".rsrc": SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_DISCARDABLE,
        ".reloc": SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_DISCARDABLE,
    }
    for name, section in zip(names, pe.sections):
        check(f"{name} flags", hex(section.Characteristics), hex(expected_flags.get(name, 0)))
        check(f"{name} raw size is its virtual size at the file alignment",
              hex(section.SizeOfRawData), hex(align_up(section.Misc_VirtualSize, oh.FileAlignment)))
    last = pe.sections[-1]
    check("file size is no larger than needed", hex(len(raw)),
          hex(last.PointerToRawData + last.SizeOfRawData))
    check("header size", hex(oh.SizeOfHeaders),
          hex(align_up(pe.sections[-1].get_file_offset() + 40, oh.FileAlignment)))
    data = pe.sections[0]

    def in_data(rva, size=1):
        return data.VirtualAddress <= rva and rva + size <= data.VirtualAddress + data.Misc_VirtualSize

    # Export directory and the one function.
    exports = pe.DIRECTORY_ENTRY_EXPORT
    check("export directory lies in .data", in_data(dirs[0].VirtualAddress, dirs[0].Size), True)
    check("export module name", exports.name, b"Kurd.dll")
    check("export ordinal base", exports.struct.Base, 1)
    check("export function count", exports.struct.NumberOfFunctions, 1)
    check("export name count", exports.struct.NumberOfNames, 1)
    check("exports", [(s.name, s.ordinal) for s in exports.symbols], [(b"KbdLayerDescriptor", 1)])
    function_rva = exports.symbols[0].address
    code = image[function_rva: function_rva + 8]
    check("KbdLayerDescriptor lies in .data", in_data(function_rva, 8), True)
    check("KbdLayerDescriptor is lea rax,[rip+disp32]; ret",
          (code[:3].hex(), code[7:8].hex()), ("488d05", "c3"))
    tables_rva = function_rva + 7 + struct.unpack_from("<i", code, 3)[0]
    check("KBDTABLES opens .data", hex(tables_rva), hex(data.VirtualAddress))

    # Base relocations: one block, one DIR64 entry per stored pointer.
    blocks = pe.DIRECTORY_ENTRY_BASERELOC
    entries = [e for b in blocks for e in b.entries]
    check("relocation blocks", len(blocks), 1)
    check("relocation entry types", sorted({e.type for e in entries}), [DIR64])
    check("relocation entries", len(entries), 86)
    sites = stored_pointers(pe, image, tables_rva)
    check("relocated sites are the stored pointers",
          sorted(hex(e.rva) for e in entries), sorted(hex(s) for s in sites))
    targets = [struct.unpack_from("<Q", image, s)[0] - IMAGE_BASE for s in sites]
    check("every stored pointer targets .data", [hex(t) for t in targets if not in_data(t)], [])

    # Resources.
    version_leaves = [leaf for leaf in version_resource_leaves(pe)
                      if leaf[0] == pefile.RESOURCE_TYPE["RT_VERSION"]]
    check("version resource id and language", version_leaves,
          [(pefile.RESOURCE_TYPE["RT_VERSION"], 1, LANG_EN_US)])
    fixed = pe.VS_FIXEDFILEINFO[0]
    check("file version", (fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0x00030028))
    check("product version", (fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0x00030028))
    check("file flags mask", hex(fixed.FileFlagsMask), hex(0x3F))
    check("file flags", fixed.FileFlags, 0)
    check("file OS", hex(fixed.FileOS), hex(0x00040004))
    check("file type", fixed.FileType, 2)
    check("file subtype", fixed.FileSubtype, 2)
    string_tables = [t for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                     for t in info.StringTable]
    check("string tables", [t.LangID for t in string_tables], [b"000004B0"])
    values = {k.decode(): v.decode() for k, v in string_tables[0].entries.items()}
    check("version keys in order", list(values), [key for key, _ in VERSION_TEXTS])
    for key, text in VERSION_TEXTS:
        check(key, values.get(key), text)
    translations = [var.entry for info in pe.FileInfo[0] if info.Key == b"VarFileInfo"
                    for var in info.Var]
    check("translation", translations, [{b"Translation": "0x0000 0x04b0"}])
    for string_id, text in ((1000, "Arabic (101) - Kurdish"), (1100, "Arabic (Jordan)"), (1200, "ar-JO")):
        check(f"string {string_id}", string_resource(pe, string_id), (LANG_EN_US, text))

    failed = [(n, a, e) for n, a, e in checks if a != e]
    for name, actual, expected in failed:
        print(f"FAIL {name}: got {actual!r}, want {expected!r}")
    print(f"{len(checks) - len(failed)} of {len(checks)} properties hold")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
