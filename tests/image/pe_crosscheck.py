#!/usr/bin/python3
"""Checks the shape of every built form of Kurd.dll with tools we did not
write, so a fault shared by our reader and our validator cannot hide:
pefile for the headers, sections, relocations and resources, llvm-objdump-16
for the code of KbdLayerDescriptor and llvm-readobj-16 for the export and
the relocations once more.

Usage: pe_crosscheck.py <image manifest> <version>
The manifest lists the images, one "<form> <path>" line each; the version is
the package's, four numbers such as 1.2.3.4. Prints one line per failed
property and exits 1 if any failed.
"""
import re
import struct
import subprocess
import sys
from dataclasses import dataclass

import pefile

DIR64 = pefile.RELOCATION_TYPE["IMAGE_REL_BASED_DIR64"]
HIGHLOW = pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]
SCN_CNT_INITIALIZED_DATA = 0x00000040
SCN_MEM_DISCARDABLE = 0x02000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_LARGE_ADDRESS_AWARE = 0x0020
FILE_32BIT_MACHINE = 0x0100
FILE_DLL = 0x2000
DLL_DYNAMIC_BASE = 0x0040
LANG_EN_US = 0x0409

BUILDER = "kbd tables built with LLVM 16"


def version_texts(version):
    """The version block's strings, in order, for the version's four parts."""
    listed = ", ".join(str(part) for part in version)
    return [
        ("CompanyName", "Central Kurdish Keyboard Layout Team"),
        ("FileDescription", "Arabic (101) - Halvaro Layout"),
        ("FileVersion", listed),
        ("InternalName", f"kurd ({version[2]}.{version[3]})"),
        ("ProductName", BUILDER),
        ("Release Information", BUILDER),
        ("LegalCopyright", "Copyright (C) 2026 Central Kurdish Keyboard Layout Team"),
        ("OriginalFilename", "kurd"),
        ("ProductVersion", listed),
    ]


@dataclass
class Form:
    """What each image must be: its machine and headers, and the width of
    the pointer fields in its records."""
    machine: str
    magic: int
    characteristics: int
    image_base: int
    subsystem_version: tuple
    dll_characteristics: int
    pointer_size: int
    relocation_type: int
    # Relocations: one per stored pointer, plus the record address inside
    # the code of the 32-bit images.
    code_relocations: int
    function_size: int


FORMS = {
    "x64": Form("IMAGE_FILE_MACHINE_AMD64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS,
                FILE_EXECUTABLE_IMAGE | FILE_LARGE_ADDRESS_AWARE | FILE_DLL,
                0x180000000, (5, 2), 0, 8, DIR64, 0, 8),
    "x86": Form("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE,
                FILE_EXECUTABLE_IMAGE | FILE_32BIT_MACHINE | FILE_DLL,
                0x10000000, (5, 1), 0, 4, HIGHLOW, 1, 6),
    "wow64": Form("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE,
                  FILE_EXECUTABLE_IMAGE | FILE_32BIT_MACHINE | FILE_DLL,
                  0x10000000, (5, 2), 0, 8, HIGHLOW, 1, 6),
    # Windows on ARM64 does not let an image opt out of address-space
    # randomisation.
    "arm64": Form("IMAGE_FILE_MACHINE_ARM64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS,
                  FILE_EXECUTABLE_IMAGE | FILE_LARGE_ADDRESS_AWARE | FILE_DLL,
                  0x180000000, (6, 2), DLL_DYNAMIC_BASE, 8, DIR64, 0, 12),
}

# KBDTABLES fields that hold pointers, by pointer size; then the offsets of
# VK_TO_WCHAR_TABLE and VSC_LPWSTR entries and their sizes.
POINTER_FIELDS = {8: (0x00, 0x08, 0x18, 0x20, 0x30, 0x40, 0x48, 0x58),
                  4: (0x00, 0x04, 0x0C, 0x10, 0x18, 0x20, 0x24, 0x30)}


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def stored_pointers(image, tables_rva, form):
    """RVAs of every pointer stored in the layout tables, walked from the
    descriptor record the way the keyboard-layout loader reads them. In the
    WOW64 image a pointer field is 8 bytes whose upper half must be zero."""
    size = form.pointer_size

    def pointer(rva):
        return struct.unpack_from("<Q" if size == 8 else "<I", image, rva)[0]

    fields = POINTER_FIELDS[size]
    sites = [tables_rva + field for field in fields]
    sites.append(pointer(tables_rva + fields[0]) - form.image_base)
    entry = pointer(tables_rva + fields[1]) - form.image_base
    while pointer(entry) != 0:
        sites.append(entry)
        entry += 2 * size
    for names_field in (fields[2], fields[3]):
        entry = pointer(tables_rva + names_field) - form.image_base
        while image[entry] != 0 or pointer(entry + size) != 0:
            sites.append(entry + size)
            entry += 2 * size
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


def llvm_tool(name, *args):
    run = subprocess.run([name, *args], capture_output=True, text=True)
    return run.stdout if run.returncode == 0 else f"{name} failed: {run.stderr}"


def disassembly(path, start, size):
    """(mnemonic, operands) of each instruction from start, by llvm-objdump;
    -D because the code shares its section with the data."""
    listing = llvm_tool("llvm-objdump-16", "-D", "--no-show-raw-insn",
                        f"--start-address={start:#x}", f"--stop-address={start + size:#x}", path)
    instructions = []
    for line in listing.splitlines():
        # "<address>: \t<mnemonic>\t<operands> <symbol> # comment"
        fields = line.split("\t")
        if re.match(r"\s*[0-9a-f]+:", fields[0]) and len(fields) > 1:
            operands = fields[2] if len(fields) > 2 else ""
            instructions.append((fields[1], re.sub(r"\s*(<.*|# .*)$", "", operands)))
    return instructions


def code_checks(check, form_name, form, path, image, function_rva):
    """KbdLayerDescriptor's instructions, and the RVA of the record they return."""
    va = form.image_base + function_rva
    if form_name == "x64":
        code = image[function_rva: function_rva + 8]
        check("KbdLayerDescriptor is lea rax,[rip+disp32]; ret",
              (code[:3].hex(), code[7:8].hex()), ("488d05", "c3"))
        return function_rva + 7 + struct.unpack_from("<i", code, 3)[0]
    if form.machine == "IMAGE_FILE_MACHINE_I386":
        code = image[function_rva: function_rva + 6]
        check("KbdLayerDescriptor is mov eax, imm32; ret", (code[:1].hex(), code[5:6].hex()), ("b8", "c3"))
        check("llvm-objdump: mov eax, imm32; ret", [i[0] for i in disassembly(path, va, 6)], ["movl", "retl"])
        return struct.unpack_from("<I", code, 1)[0] - form.image_base
    instructions = disassembly(path, va, 12)
    check("llvm-objdump: adrp x0; add x0, x0; ret",
          [(i[0], i[1].split(",")[0]) for i in instructions], [("adrp", "x0"), ("add", "x0"), ("ret", "")])
    if len(instructions) != 3:
        return None
    # adrp x0, <page>; add x0, x0, #<low 12 bits>
    page = int(instructions[0][1].split(",")[1], 16)
    add_operands = [operand.strip() for operand in instructions[1][1].split(",")]
    check("add adds to the page adrp set", add_operands[:2], ["x0", "x0"])
    return page + int(add_operands[2].lstrip("#"), 16) - form.image_base


def check_form(form_name, dll_path, version, check):
    form = FORMS[form_name]
    with open(dll_path, "rb") as f:
        raw = f.read()
    pe = pefile.PE(data=raw)
    image = pe.get_memory_mapped_image(ImageBase=form.image_base)
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    dirs = oh.DATA_DIRECTORY

    check("machine", hex(fh.Machine), hex(pefile.MACHINE_TYPE[form.machine]))
    check("optional header magic", hex(oh.Magic), hex(form.magic))
    check("file characteristics", hex(fh.Characteristics), hex(form.characteristics))
    check("time stamp", fh.TimeDateStamp, 0)
    check("image base", hex(oh.ImageBase), hex(form.image_base))
    check("subsystem", oh.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_NATIVE"])
    check("subsystem version", (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion), form.subsystem_version)
    check("OS version", (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion), (4, 0))
    check("image version", (oh.MajorImageVersion, oh.MinorImageVersion), (4, 0))
    check("entry point", oh.AddressOfEntryPoint, 0)
    check("DLL characteristics", hex(oh.DllCharacteristics), hex(form.dll_characteristics))
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
    readobj_exports = re.findall(r"Ordinal: (\d+)\s+Name: (\S+)", llvm_tool("llvm-readobj-16", "--coff-exports", dll_path))
    check("llvm-readobj: exports", readobj_exports, [("1", "KbdLayerDescriptor")])
    function_rva = exports.symbols[0].address
    check("KbdLayerDescriptor lies in .data", in_data(function_rva, form.function_size), True)
    tables_rva = code_checks(check, form_name, form, dll_path, image, function_rva)
    check("KBDTABLES opens .data", hex(tables_rva or 0), hex(data.VirtualAddress))
    if tables_rva is None:
        return

    # Base relocations: one block, one entry of the machine's type per stored
    # pointer (in the WOW64 image on its lower half), and in the 32-bit
    # images one on the record address inside the code. An odd count ends
    # in one ABSOLUTE entry that only pads the block to 4 bytes.
    blocks = pe.DIRECTORY_ENTRY_BASERELOC
    absolute = pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]
    entries = [e for b in blocks for e in b.entries if e.type != absolute]
    padding = [e for b in blocks for e in b.entries if e.type == absolute]
    check("relocation blocks", len(blocks), 1)
    check("padding entries", len(padding), len(entries) % 2)
    check("relocation entry types", sorted({e.type for e in entries}), [form.relocation_type])
    try:
        sites = stored_pointers(image, tables_rva, form)
    except (struct.error, IndexError) as error:
        check("the tables can be walked", str(error), None)
        return
    code_sites = [function_rva + 1] * form.code_relocations
    check("relocation entries", len(entries), 86 + form.code_relocations)
    check("relocated sites are the stored pointers",
          sorted(hex(e.rva) for e in entries), sorted(hex(s) for s in sites + code_sites))
    readobj_relocations = [entry for entry in
                           re.findall(r"Type: (\w+)\s+Address: 0x([0-9A-F]+)",
                                      llvm_tool("llvm-readobj-16", "--coff-basereloc", dll_path))
                           if entry[0] != "ABSOLUTE"]
    readobj_type = "DIR64" if form.relocation_type == DIR64 else "HIGHLOW"
    check("llvm-readobj: relocations",
          sorted(readobj_relocations), sorted((readobj_type, f"{s:X}") for s in sites + code_sites))
    pointer_format = "<Q" if form.pointer_size == 8 else "<I"
    targets = [struct.unpack_from(pointer_format, image, s)[0] - form.image_base for s in sites]
    check("every stored pointer targets .data", [hex(t) for t in targets if not in_data(t)], [])

    # Resources.
    version_leaves = [leaf for leaf in version_resource_leaves(pe)
                      if leaf[0] == pefile.RESOURCE_TYPE["RT_VERSION"]]
    check("version resource id and language", version_leaves,
          [(pefile.RESOURCE_TYPE["RT_VERSION"], 1, LANG_EN_US)])
    fixed = pe.VS_FIXEDFILEINFO[0]
    # The parts two by two in the high and low words.
    fixed_version = (version[0] << 16 | version[1], version[2] << 16 | version[3])
    check("file version", (fixed.FileVersionMS, fixed.FileVersionLS), fixed_version)
    check("product version", (fixed.ProductVersionMS, fixed.ProductVersionLS), fixed_version)
    check("file flags mask", hex(fixed.FileFlagsMask), hex(0x3F))
    check("file flags", fixed.FileFlags, 0)
    check("file OS", hex(fixed.FileOS), hex(0x00040004))
    check("file type", fixed.FileType, 2)
    check("file subtype", fixed.FileSubtype, 2)
    string_tables = [t for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                     for t in info.StringTable]
    check("string tables", [t.LangID for t in string_tables], [b"000004B0"])
    values = {k.decode(): v.decode() for k, v in string_tables[0].entries.items()}
    texts = version_texts(version)
    check("version keys in order", list(values), [key for key, _ in texts])
    for key, text in texts:
        check(key, values.get(key), text)
    translations = [var.entry for info in pe.FileInfo[0] if info.Key == b"VarFileInfo"
                    for var in info.Var]
    check("translation", translations, [{b"Translation": "0x0000 0x04b0"}])
    for string_id, text in ((1000, "Arabic (101) - Kurdish"), (1100, "Arabic (Jordan)"), (1200, "ar-JO")):
        check(f"string {string_id}", string_resource(pe, string_id), (LANG_EN_US, text))


def main(manifest_path, version_text):
    version = [int(part) for part in version_text.split(".")]
    with open(manifest_path, encoding="utf-8") as f:
        images = [line.split(" ", 1) for line in f.read().splitlines()]
    checks = []
    for form_name, dll_path in images:
        def check(name, actual, expected, form_name=form_name):
            checks.append((f"{form_name}: {name}", actual, expected))
        check("form is known", form_name in FORMS, True)
        if form_name in FORMS:
            check_form(form_name, dll_path, version, check)
    check_forms = sorted(form for form, _ in images)
    checks.append(("forms in the manifest", check_forms, sorted(FORMS)))

    failed = [(n, a, e) for n, a, e in checks if a != e]
    for name, actual, expected in failed:
        print(f"FAIL {name}: got {actual!r}, want {expected!r}")
    print(f"{len(checks) - len(failed)} of {len(checks)} properties hold")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
