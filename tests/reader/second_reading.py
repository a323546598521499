#!/usr/bin/python3
"""A second reading of layout libraries, written apart from kbdread: pefile
maps the image, this script walks the published table format from the
export's code and prints the layout as `kbdcheck --dump` must, up to the
resources (which pe_crosscheck.py checks against pefile). Virtual-key names
come from the mingw-w64 winuser.h, character names from Python's
unicodedata and the Unicode Character Database's control aliases.

Usage: second_reading.py <kbdcheck> <manifest>...
Each manifest lists images as "<form> <path>" lines; every image must read
with no findings but one for each key-name list that goes on after an entry
of scan code 0, and its dump must equal this script's, line for line.
"""
import difflib
import re
import struct
import subprocess
import sys
import unicodedata

import pefile

WINUSER_H = "/usr/x86_64-w64-mingw32/include/winuser.h"
NAME_ALIASES = "/usr/share/unicode/NameAliases.txt"

#        title                                                   machine                pointer  code
FORMS = {
    "x64": ("x86-64", "AMD64 (0x8664)", 8, "x64"),
    "x86": ("32-bit x86", "i386 (0x14C)", 4, "i386"),
    "wow64": ("32-bit x86 with 64-bit-wide pointer fields (WOW64)", "i386 (0x14C)", 8, "i386"),
    "arm64": ("ARM64", "ARM64 (0xAA64)", 8, "arm64"),
}

WCH_NONE, WCH_DEAD, WCH_LGTR = 0xF000, 0xF001, 0xF002
SGCAPS = 0x02
SECOND_ROW = 0xFF
SHFT_INVALID = 0x0F
ATTRIBUTES = [(0x01, "CAPLOK"), (0x02, "SGCAPS"), (0x04, "CAPLOKALTGR"), (0x08, "KANALOK"), (0x80, "GRPSELTAP")]
SCAN_FLAGS = [(0x0100, "KBDEXT"), (0x0200, "KBDMULTIVK"), (0x0400, "KBDSPECIAL"), (0x0800, "KBDNUMPAD"),
              (0x1000, "KBDUNICODE"), (0x2000, "KBDINJECTEDVK"), (0x4000, "KBDMAPPEDVK"), (0x8000, "KBDBREAK")]
MODIFIER_KEYS = {0x10: "Shift", 0x11: "Ctrl", 0x12: "Alt", 0x15: "Kana"}


def virtual_key_names():
    names = {}
    with open(WINUSER_H) as f:
        for name, value in re.findall(r"#define (VK_\w+) +(0x[0-9A-Fa-f]+)", f.read()):
            names.setdefault(int(value, 16), name)
    names.update({0xC1: "VK_ABNT_C1", 0xC2: "VK_ABNT_C2"})  # kbd.h's, not winuser.h's
    names[0xFF] = "no virtual key"
    return names


def control_names():
    names = {}
    with open(NAME_ALIASES) as f:
        for line in f:
            fields = line.split("#")[0].strip().split(";")
            if len(fields) == 3 and fields[2] == "control":
                names.setdefault(int(fields[0], 16), fields[1])
    return names


VK_NAMES = virtual_key_names()
CONTROLS = control_names()


def vk_name(vk):
    if chr(vk).isdigit() and vk < 0x80 or ord("A") <= vk <= ord("Z"):
        return f"'{chr(vk)}'"
    return VK_NAMES.get(vk, f"VK 0x{vk:02X}")


def characters(units):
    """"U+0644 ARABIC LETTER LAM + ...": a surrogate pair is one character."""
    out, i = [], 0
    while i < len(units):
        c = units[i]
        if 0xD800 <= c < 0xDC00 and i + 1 < len(units) and 0xDC00 <= units[i + 1] < 0xE000:
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00)
            i += 1
        i += 1
        name = CONTROLS.get(c) or ("" if 0xD800 <= c < 0xE000 else unicodedata.name(chr(c), ""))
        out.append(f"U+{c:04X}" + (f" {name}" if name else ""))
    return " + ".join(out)


class Image:
    def __init__(self, path, form):
        self.pe = pefile.PE(path)
        self.base = self.pe.OPTIONAL_HEADER.ImageBase
        self.data = self.pe.get_memory_mapped_image()
        self.title, self.machine, self.pointer, self.code = FORMS[form]
        self.form = form

    def u8(self, rva):
        return self.data[rva]

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, rva)[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, rva)[0]

    def pointer_at(self, rva):
        """The RVA a pointer field holds, or None for a null pointer; the
        WOW64 form's address is the lower half of its field."""
        value = self.u32(rva) if self.form in ("x86", "wow64") else struct.unpack_from("<Q", self.data, rva)[0]
        return None if value == 0 else value - self.base

    def export(self, name):
        for symbol in self.pe.DIRECTORY_ENTRY_EXPORT.symbols:
            if symbol.name == name.encode():
                return symbol.address
        return None

    def returned_record(self, code):
        """The RVA the export's code returns."""
        if self.code == "x64":  # lea rax,[rip+disp32]; ret
            assert self.data[code:code + 3] == b"\x48\x8d\x05" and self.data[code + 7] == 0xC3
            return code + 7 + struct.unpack_from("<i", self.data, code + 3)[0]
        if self.code == "i386":  # mov eax,imm32; ret
            assert self.data[code] == 0xB8 and self.data[code + 5] == 0xC3
            return self.u32(code + 1) - self.base
        adrp, add = self.u32(code), self.u32(code + 4)  # adrp x0,page; add x0,x0,#lo12; ret
        pages = (adrp >> 5 & 0x7FFFF) << 2 | adrp >> 29 & 3
        pages -= (pages & 1 << 20) << 1
        return (code & ~0xFFF) + pages * 0x1000 + (add >> 10 & 0xFFF)

    def entries(self, rva, size, ends):
        """The entries of a list up to its terminator, as the loader reads it."""
        out = []
        while not ends(rva):
            out.append(rva)
            rva += size
        return out


def walk(path, form):
    im = Image(path, form)
    p = im.pointer
    lines = []
    record = im.returned_record(im.export("KbdLayerDescriptor"))
    # KBDTABLES fields, by position for this pointer width.
    field = {name: i * p for i, name in enumerate(
        ["pCharModifiers", "pVkToWcharTable", "pDeadKey", "pKeyNames", "pKeyNamesExt", "pKeyNamesDead",
         "pusVSCtoVK", "bMaxVSCtoVK", "pVSCtoVK_E0", "pVSCtoVK_E1", "fLocaleFlags"])}
    locale_flags = im.u32(record + field["fLocaleFlags"])
    lg_max, lg_entry = im.u8(record + field["fLocaleFlags"] + 4), im.u8(record + field["fLocaleFlags"] + 5)
    ligature_field = (field["fLocaleFlags"] + 6 + p - 1) // p * p
    dead_keys = im.pointer_at(record + field["pDeadKey"])
    dead_names = im.pointer_at(record + field["pKeyNamesDead"])

    lines += ["layout", f"  form {form}: {im.title}, machine {im.machine}, {p}-byte pointer fields, detected from the image",
              f"  KBDTABLES at RVA 0x{record:X}, KbdLayerDescriptor at RVA 0x{im.export('KbdLayerDescriptor'):X}, "
              f"preferred base 0x{im.base:X}",
              f"  fLocaleFlags 0x{locale_flags:08X}, nLgMax {lg_max}, cbLgEntry {lg_entry}, "
              f"pDeadKey {'null' if dead_keys is None else 'set'}, pKeyNamesDead {'null' if dead_names is None else 'set'}"]

    # Modifiers: VK_TO_BIT pairs, then ModNumber for every combination.
    modifiers = im.pointer_at(record)
    vk_to_bit = [(im.u8(e), im.u8(e + 1)) for e in im.entries(im.pointer_at(modifiers), 2, lambda e: im.u8(e) == 0)]
    max_bits = im.u16(modifiers + p)
    mod_number = [im.u8(modifiers + p + 2 + b) for b in range(max_bits + 1)]

    def label(bits):
        if bits == 0:
            return "plain"
        parts = []
        for bit in (1 << i for i in range(8)):
            if bits & bit:
                vk = next((v for v, b in vk_to_bit if b == bit), None)
                parts.append(f"bit 0x{bit:02X}" if vk is None else MODIFIER_KEYS.get(vk, vk_name(vk)))
        return "+".join(parts)

    def column(bits):
        return None if bits > max_bits or mod_number[bits] == SHFT_INVALID else mod_number[bits]

    lines.append("modifiers")
    lines += [f"  {vk_name(vk)} -> bit 0x{bits:02X}" for vk, bits in vk_to_bit]
    lines.append(f"  wMaxModBits {max_bits}")
    for bits in range(max_bits + 1):
        c = column(bits)
        lines.append(f"  bits {bits} {label(bits)} -> " + ("no column" if c is None else f"column {c}"))
    if max_bits < 7:
        lines.append(f"  bits {max_bits + 1}-7 -> no column (above wMaxModBits)")

    # Character tables: rows as stored; a row after one with SGCAPS or a dead
    # key, with virtual key 0xFF, is that row's second half.
    tables = []
    for entry in im.entries(im.pointer_at(record + p), 2 * p, lambda e: im.pointer_at(e) is None):
        columns, size, rows_rva = im.u8(entry + p), im.u8(entry + p + 1), im.pointer_at(entry)
        rows = []
        for r in im.entries(rows_rva, size, lambda e: im.u8(e) == 0):
            cells = [im.u16(r + 2 + 2 * c) for c in range(columns)]
            previous = rows[-1] if rows else None
            second = (previous is not None and im.u8(r) == SECOND_ROW and
                      (previous["attributes"] & SGCAPS or WCH_DEAD in previous["cells"]))
            rows.append({"vk": im.u8(r), "attributes": im.u8(r + 1), "cells": cells, "second": second})
        tables.append({"columns": columns, "size": size, "rva": rows_rva, "rows": rows})
    lines.append("character tables, searched in this order")
    for n, table in enumerate(tables, 1):
        lines.append(f"  table {n}: {table['columns']} columns, {table['size']} bytes per row, "
                     f"{len(table['rows'])} rows at RVA 0x{table['rva']:X}")
        for row in table["rows"]:
            names = "".join(f" {name}" for bit, name in ATTRIBUTES if row["attributes"] & bit)
            lines.append(f"    {vk_name(row['vk'])} attributes 0x{row['attributes']:02X}{names}: " +
                         " ".join(f"{cell:04X}" for cell in row["cells"]))

    ligature_rows = []
    if im.pointer_at(record + ligature_field) is not None:
        for e in im.entries(im.pointer_at(record + ligature_field), lg_entry, lambda e: im.u8(e) == 0):
            ligature_rows.append((im.u8(e), im.u16(e + 2), [im.u16(e + 4 + 2 * i) for i in range(lg_max)]))

    def until_none(cells):
        return cells[:cells.index(WCH_NONE)] if WCH_NONE in cells else cells

    def key_row(vk):
        for table in tables:
            for i, row in enumerate(table["rows"]):
                if row["vk"] == vk and not row["second"]:
                    return table, i
        return None, None

    def typed(table, i, bits, caps):
        c = column(bits)
        rows = table["rows"]
        if caps and rows[i]["attributes"] & SGCAPS:
            i += 1
            if i == len(rows):
                return "none"
        cell = rows[i]["cells"][c]
        if cell == WCH_NONE:
            return "none"
        if cell == WCH_DEAD:
            return "dead key (0xF001), no second row" if i + 1 == len(rows) else \
                "dead key " + characters([rows[i + 1]["cells"][c]])
        if cell == WCH_LGTR:
            for vk, col, cells in ligature_rows:
                if vk == rows[i]["vk"] and col == c:
                    return characters(until_none(cells))
            return "ligature row missing (0xF002)"
        return characters([cell])

    key_names = names_of(im, im.pointer_at(record + field["pKeyNames"]), p)
    key_names_ext = names_of(im, im.pointer_at(record + field["pKeyNamesExt"]), p)
    findings = [f"keynames.zero (portability): {name} entry {early_end(names) + 1} ["
                for name, names in (("pKeyNames", key_names), ("pKeyNamesExt", key_names_ext))
                if early_end(names) is not None]
    scan_map = im.pointer_at(record + field["pusVSCtoVK"])
    keys = [("--", sc, im.u16(scan_map + 2 * sc), key_names) for sc in range(im.u8(record + field["bMaxVSCtoVK"]))]
    for prefix, name, names in (("E0", "pVSCtoVK_E0", key_names_ext), ("E1", "pVSCtoVK_E1", [])):
        for e in im.entries(im.pointer_at(record + field[name]), 4, lambda e: im.u8(e) == 0):
            keys.append((prefix, im.u8(e), im.u16(e + 2), names))
    lines.append("keys")
    for prefix, sc, value, names in keys:
        vk = value & 0xFF
        line = f"  {prefix} {sc:02X} {value:04X} {vk_name(vk)}" + "".join(
            f" {flag}" for bit, flag in SCAN_FLAGS if value & bit)
        name = next((text for code, text in names if code == sc), None)
        lines.append(line + (f' "{name}"' if name is not None else ""))
        table, i = key_row(vk) if vk != 0xFF else (None, None)
        if table is None:
            continue
        for caps in (False, True):
            if caps and not table["rows"][i]["attributes"] & SGCAPS:
                break
            for bits in range(max_bits + 1):
                c = column(bits)
                if c is None or c >= table["columns"]:
                    continue
                text = label(bits)
                if caps:
                    text = "Caps Lock" if bits == 0 else "Caps Lock+" + text
                lines.append(f"      {text} (column {c}): {typed(table, i, bits, caps)}")

    lines.append("ligatures")
    lines += [f"  {vk_name(vk)} column {col}: {characters(until_none(cells))}" for vk, col, cells in ligature_rows]
    lines.append("key names")
    for prefix, names in (("--", key_names), ("E0", key_names_ext)):
        lines += [f'  {prefix} {code:02X} "{text}"' +
                  (" (readers that end the list at scan code 0 stop here)" if i == early_end(names) else "")
                  for i, (code, text) in enumerate(names)]

    if dead_keys is not None:
        lines.append("dead keys, searched in this order")
        for e in im.entries(dead_keys, 8, lambda e: im.u32(e) == 0):
            base, accent, composed, flags = im.u16(e), im.u16(e + 2), im.u16(e + 4), im.u16(e + 6)
            line = f"  {characters([accent])} then {characters([base])} -> {characters([composed])}"
            if flags:
                line += f", flags 0x{flags:04X}" + (" DKF_DEAD" if flags & 1 else "")
            lines.append(line)
    if dead_names is not None:
        lines.append("dead-key names")
        for e in im.entries(dead_names, p, lambda e: im.pointer_at(e) is None):
            units = string_at(im, im.pointer_at(e))
            lines.append(f'  {characters(units[:1]) if units else "(empty)"}: "{text_of(units[1:])}"')
    nls = im.export("KbdNlsLayerDescriptor")
    if nls is not None:
        lines += far_east(im, nls)
    return lines, findings


def string_at(im, rva):
    units = []
    while im.u16(rva + 2 * len(units)):
        units.append(im.u16(rva + 2 * len(units)))
    return units


def text_of(units):
    return struct.pack(f"<{len(units)}H", *units).decode("utf-16-le", "replace")


def names_of(im, rva, p):
    """A key-name list up to the entry whose scan code and pointer are both
    zero."""
    return [(im.u8(e), text_of(string_at(im, im.pointer_at(e + p))))
            for e in im.entries(rva, 2 * p, lambda e: im.u8(e) == 0 and im.pointer_at(e + p) is None)]


def early_end(names):
    """Where a reader that ends the list at scan code 0 stops, when names
    follow: the index of that entry, else None."""
    zero = next((i for i, (code, _) in enumerate(names) if code == 0), None)
    return zero if zero is not None and zero + 1 < len(names) else None


def far_east(im, code):
    """KBDNLSTABLES: OEMIdentifier, LayoutInformation, NumOfVkToF, pVkToF,
    NumOfMouseVKey, pusMouseVKey; VK_F entries of 0x84 bytes."""
    p = im.pointer
    record = im.returned_record(code)
    count, functions = im.u32(record + 4), im.pointer_at(record + 8)
    mouse_count = struct.unpack_from("<i", im.data, record + 8 + p)[0]
    mouse = im.pointer_at(record + (12 + 2 * p - 1) // p * p)
    lines = ["far-east tables",
             f"  KBDNLSTABLES at RVA 0x{record:X}, KbdNlsLayerDescriptor at RVA 0x{code:X}, "
             f"OEMIdentifier 0x{im.u16(record):02X}, LayoutInformation 0x{im.u16(record + 2):04X}"]
    for n in range(count):
        f = functions + 0x84 * n
        lines.append(f"  {vk_name(im.u8(f))}: type {im.u8(f + 1)}, current {im.u8(f + 2)}, switch 0x{im.u8(f + 3):02X}")
        for name, start in (("NLSFEProc", f + 4), ("NLSFEProcAlt", f + 0x44)):
            lines.append(f"    {name}" + "".join(f" {im.u8(start + 8 * i)}/0x{im.u32(start + 8 * i + 4):X}" for i in range(8)))
    keys = [im.u16(mouse + 2 * i) for i in range(mouse_count)] if mouse is not None else []
    lines.append("  mouse keys:" + (" the system's default" if mouse is None else "") + "".join(
        " " + vk_name(vk & 0xFF) + "".join(f"|{flag}" for bit, flag in SCAN_FLAGS if vk & bit) for vk in keys))
    return lines


def main(tool, *manifests):
    failures = 0
    for manifest in manifests:
        with open(manifest) as f:
            images = [line.split(" ", 1) for line in f.read().splitlines() if line]
        for form, path in images:
            done = subprocess.run([tool, "--dump", path], capture_output=True, text=True)
            dump = done.stdout.splitlines()
            expected, findings = walk(path, form)
            expected_findings = findings or ["no findings"]
            reported = [line.removeprefix(f"{path}: ") for line in dump[:len(expected_findings)]]
            if done.returncode != (1 if findings else 0) or len(reported) != len(expected_findings) or \
                    not all(line.startswith(finding) for line, finding in zip(reported, expected_findings)):
                print(f"FAIL {form} {path}: kbdcheck exit {done.returncode}: {reported} {done.stderr.strip()}, "
                      f"expected {expected_findings}")
                failures += 1
                continue
            dump = dump[len(reported):]
            dump = dump[:dump.index("resources")] if "resources" in dump else dump
            if dump != expected:
                print(f"FAIL {form} {path}: kbdcheck --dump differs from the second reading:")
                print("\n".join(list(difflib.unified_diff(expected, dump, "second reading", "kbdcheck", lineterm=""))[:40]))
                failures += 1
            else:
                print(f"ok {form} {path}: {len(expected)} lines agree")
    print(f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
