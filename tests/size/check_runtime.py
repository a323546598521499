#!/usr/bin/python3
"""Reads a program's link map and fails if the program carries a run-time
piece it does not use: for each piece found, what brought it in.

Usage: check_runtime.py <program.map>

The pieces are named by the library members that hold them; unwind tables
by the program's own objects (any object outside the toolchain) that carry
them. Exits 1 if anything is found.
"""
import re
import sys

# (what, library member pattern): pieces no shipped program uses.
UNUSED = [
    ("the demangler", r"libstdc\+\+\.a\(cp-demangle\.o\)"),
    ("the verbose terminate handler", r"libstdc\+\+\.a\(vterminate\.o\)"),
    ("C++ exceptions", r"libstdc\+\+\.a\((eh_\w+|functexcept|new_op|new_handler)\.o\)"),
    ("the unwinder", r"libgcc_eh\.a\(|libgcc_s"),
    ("printf", r"libmingwex\.a\([^)]*(printf|pformat)[^)]*\.o\)"),
    ("number formatting", r"libmingwex\.a\([^)]*(gdtoa|dtoa|gmisc)\.o\)"),
    ("locales", r"libstdc\+\+\.a\([^)]*(locale|facets|codecvt|ctype)[^)]*\.o\)"),
    ("iostreams", r"libstdc\+\+\.a\([^)]*(ios|stream|globals_io)[^)]*\.o\)"),
    ("C++ strings of the library", r"libstdc\+\+\.a\([^)]*string-inst\.o\)"),
]
UNWIND_SECTIONS = re.compile(r"^ (\.eh_frame|\.pdata|\.xdata)\S*\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)")
TOOLCHAIN = "/usr/"


def included_members(text):
    """[(member, what referenced it)] from the map's list of archive members."""
    start = text.find("Archive member included to satisfy reference by file (symbol)")
    if start < 0:
        return []
    end = min(i for i in (text.find("Discarded input sections", start),
                          text.find("Memory Configuration", start), len(text)) if i >= 0)
    members = []
    for line in text[start:end].splitlines()[1:]:
        if not line.strip():
            continue
        if line[0].isspace():
            if members:
                members[-1][1] = line.strip()
        else:
            member, _, reason = line.partition(" ")
            members.append([member, reason.strip()])
    return members


def unwind_tables(text):
    """Objects of the program itself that carry unwind tables."""
    found = set()
    for line in text.splitlines():
        match = UNWIND_SECTIONS.match(line)
        if match and int(match.group(2), 16) and not match.group(3).startswith(TOOLCHAIN):
            found.add(match.group(3))
    return sorted(found)


def short(text):
    """Library members and objects without their folders."""
    return re.sub(r"[^\s(]*/", "", text)


def main(map_path):
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    members = included_members(text)
    if not members:
        print(f"{map_path}: no list of included library members: not a GNU ld map")
        return 1
    problems = []
    for what, pattern in UNUSED:
        for member, reason in members:
            if re.search(pattern, member):
                problems.append(f"{what}: {short(member)}, brought in by {short(reason)}")
    for obj in unwind_tables(text):
        problems.append(f"unwind tables: {short(obj)}")
    for problem in problems:
        print(f"{map_path}: {problem}")
    print(f"{map_path}: {len(members)} library members linked, {len(problems)} unused run-time pieces")
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
