#!/usr/bin/python3
"""Holds a built Kurd.dll against Kurd.tables, the layout stated by hand.

    check_layout.py tables --kbdwalk KBDWALK --statement Kurd.tables DLL [--moved-base BASE]
        Every table as the host reader reads it (kbdwalk --tables) must be
        the statement's, entry for entry and in order, and the canonical
        walk the reader makes (kbdwalk: each scan code with what it types
        under every modifier combination) must be the walk the statement
        gives; at the image's preferred base and, with --moved-base,
        relocated to another one.
    check_layout.py walk --statement Kurd.tables WALK
        A walk made elsewhere (the Windows loader path, tests/wine) must be
        the walk the statement gives.

Each difference names the entry, the statement's line and what the image
has instead. Exit status 0 when all agree, 1 on a difference, 2 when the
statement or the command line is wrong.
"""
import argparse
import json
import re
import subprocess
import sys
from dataclasses import dataclass, field

NO_CHARACTER = 0xF000  # WCH_NONE
DEAD_KEY = 0xF001      # WCH_DEAD
LIGATURE = 0xF002      # WCH_LGTR
NO_COLUMN = 0x0F       # SHFT_INVALID in ModNumber


class StatementError(Exception):
    pass


@dataclass
class Entry:
    """One statement: where it sits in the tables, what it says, and the
    line it came from (for messages)."""
    label: str
    value: tuple
    text: str
    line: int = 0


@dataclass
class Table:
    columns: int
    row_bytes: int
    rows: dict = field(default_factory=dict)  # virtual key -> cells, first row of each key


@dataclass
class Layout:
    record: dict
    vk_to_bit: list
    max_mod_bits: int
    mod_number: list
    plain: list
    e0: list
    e1: list
    tables: list
    ligatures: list
    names: list
    names_e0: list


NAME = re.compile(r'^(name|name_e0)\s+([0-9A-Fa-f]+)\s+("(?:[^"\\]|\\.)*")\s*(#.*)?$')


def number(token, line):
    try:
        return int(token, 16)
    except ValueError:
        raise StatementError(f"line {line}: {token!r} is not a hexadecimal number") from None


def cell(token, line):
    return {"-": NO_CHARACTER, "lig": LIGATURE}.get(token) or number(token, line)


def parse(text):
    """The statements of Kurd.tables (or of kbdwalk --tables) as entries,
    each labelled by its place in the tables."""
    entries = []
    counts = {}
    table_count = 0

    def add(kind, value, text, line, label=None):
        counts[kind] = counts.get(kind, 0) + 1
        entries.append(Entry(label or f"{kind} #{counts[kind]}", value, text, line))

    for line_number, raw in enumerate(text.splitlines(), 1):
        named = NAME.match(raw.strip())
        if named:
            add(named[1], (number(named[2], line_number), json.loads(named[3])), raw.strip(), line_number)
            continue
        words = raw.split("#", 1)[0].split()
        if not words:
            continue
        kind, args = words[0], words[1:]
        statement = " ".join(words)
        if kind == "record" and len(args) == 2:
            value = args[1] if args[1] in ("null", "set") else number(args[1], line_number)
            add(kind, (value,), statement, line_number, f"record {args[0]}")
        elif kind == "modifiers" and len(args) >= 2:
            add(kind, tuple(number(a, line_number) for a in args[1:]), statement, line_number,
                f"modifiers {args[0]}")
        elif kind == "plain" and len(args) == 2:
            scan_code = number(args[0], line_number)
            add(kind, (number(args[1], line_number),), statement, line_number, f"plain {scan_code:02X}")
        elif kind in ("vk_to_bit", "e0", "e1") and len(args) == 2:
            add(kind, tuple(number(a, line_number) for a in args), statement, line_number)
        elif kind == "table" and len(args) == 2:
            table_count += 1
            counts["row"] = 0
            add(kind, tuple(number(a, line_number) for a in args), statement, line_number)
        elif kind == "row" and len(args) >= 3:
            if not table_count:
                raise StatementError(f"line {line_number}: a row before the first table")
            counts["row"] = counts.get("row", 0) + 1
            value = (number(args[0], line_number), number(args[1], line_number),
                     tuple(cell(a, line_number) for a in args[2:]))
            entries.append(Entry(f"table {table_count} row {counts['row']}", value, statement, line_number))
        elif kind == "ligature" and len(args) >= 3:
            add(kind, (number(args[0], line_number), number(args[1], line_number),
                       tuple(cell(a, line_number) for a in args[2:])), statement, line_number)
        else:
            raise StatementError(f"line {line_number}: not a statement: {raw.strip()!r}")
    return entries


def layout_of(entries):
    """The lookup tables a list of entries describes, checked for the
    consistency the format needs."""
    by_label = {entry.label: entry for entry in entries}

    def one(label):
        if label not in by_label:
            raise StatementError(f"no '{label}' statement")
        return by_label[label].value

    plain = [e for e in entries if e.label.startswith("plain ")]
    if [int(e.label[6:], 16) for e in plain] != list(range(len(plain))):
        raise StatementError("the plain map must list scan codes 00, 01, ... in order")
    if len(plain) != one("record bMaxVSCtoVK")[0]:
        raise StatementError(f"bMaxVSCtoVK is {one('record bMaxVSCtoVK')[0]:02X}, the plain map has "
                             f"{len(plain):02X} entries")
    tables = []
    for entry in entries:
        if entry.label.startswith("table ") and " row " not in entry.label:
            tables.append(Table(*entry.value))
        elif " row " in entry.label:
            vk, _, cells = entry.value
            if len(cells) != tables[-1].columns:
                raise StatementError(f"line {entry.line}: {len(cells)} cells in a table of {tables[-1].columns} "
                                     "columns")
            tables[-1].rows.setdefault(vk, cells)
    kinds = lambda kind: [e.value for e in entries if e.label.startswith(kind + " #")]
    return Layout(
        record={k[7:]: v.value[0] for k, v in by_label.items() if k.startswith("record ")},
        vk_to_bit=kinds("vk_to_bit"), max_mod_bits=one("modifiers wMaxModBits")[0],
        mod_number=list(one("modifiers ModNumber")), plain=[e.value[0] for e in plain],
        e0=kinds("e0"), e1=kinds("e1"), tables=tables, ligatures=kinds("ligature"),
        names=kinds("name"), names_e0=kinds("name_e0"))


# ------------------------------------------------------------------ the walk
# The format of tests/windows/table_walk.h: per prefix and scan code, the
# map's value and what the key types under modifier bits 0-7; the key names;
# a summary line.


def column(layout, bits):
    if bits > layout.max_mod_bits or bits >= len(layout.mod_number):
        return None
    return None if layout.mod_number[bits] == NO_COLUMN else layout.mod_number[bits]


def typed(layout, vk, bits):
    """What the loader gives for a virtual key under modifier bits: the
    first table with a row for the key decides."""
    table = next((t for t in layout.tables if vk in t.rows), None)
    col = column(layout, bits)
    if table is None or col is None or col >= table.columns:
        return "-"
    unit = table.rows[vk][col]
    if unit == NO_CHARACTER:
        return "-"
    if unit == DEAD_KEY:
        return "dead"
    if unit != LIGATURE:
        return f"{unit:04X}"
    for lig_vk, lig_column, cells in layout.ligatures:
        if (lig_vk, lig_column) == (vk, col):
            units = []
            for unit in cells[:layout.record["nLgMax"]]:
                if unit == NO_CHARACTER:
                    break
                units.append(f"{unit:04X}")
            return "+".join(units)
    return "nolig"


def walk(layout):
    """The walk's lines as the statement gives them."""
    lines = []
    for prefix, pairs in (("--", None), ("E0", layout.e0), ("E1", layout.e1)):
        for scan_code in range(256):
            if pairs is None:
                value = layout.plain[scan_code] if scan_code < len(layout.plain) else None
            else:
                value = next((vk for sc, vk in pairs if sc == scan_code), None)
            cells = [typed(layout, value & 0xFF, bits) if value is not None else "-" for bits in range(8)]
            lines.append(f"{prefix} {scan_code:02X} {'none' if value is None else f'{value:04X}'} " + " ".join(cells))
    for prefix, names in (("--", layout.names), ("E0", layout.names_e0)):
        lines += [f"name {prefix} {sc:02X} " + "+".join(f"{ord(c):04X}" for c in text) for sc, text in names]
    record = layout.record
    lines.append(f"flags {record['fLocaleFlags']:08X} lgmax {record['nLgMax']} lgentry {record['cbLgEntry']} "
                 f"maxmodbits {layout.max_mod_bits} tables {len(layout.tables)}" +
                 "".join(f" {t.columns}x{t.row_bytes}" for t in layout.tables))
    return lines


def keyed(lines):
    """A walk's lines by their first fields: "E0 4B", "name -- 01", "flags"."""
    keys = {"name": 3, "flags": 1}
    return {" ".join(line.split()[:keys.get(line.split()[0], 2)]): line for line in lines if line.strip()}


# -------------------------------------------------------------- comparisons


class Findings:
    LIMIT = 60

    def __init__(self, what):
        self.what = what
        self.lines = []

    def add(self, message):
        self.lines.append(message)
        if len(self.lines) <= self.LIMIT:
            print(f"FAIL {self.what}: {message}")

    def report(self):
        if len(self.lines) > self.LIMIT:
            print(f"FAIL {self.what}: {len(self.lines) - self.LIMIT} more differences")
        if not self.lines:
            print(f"ok   {self.what}")
        return not self.lines


def compare_tables(statement, image, findings):
    expected = {e.label: e for e in statement}
    seen = {e.label: e for e in image}
    for label, entry in expected.items():
        other = seen.get(label)
        if other is None:
            findings.add(f"{label} (statement line {entry.line}: {entry.text}): the image has none")
        elif other.value != entry.value:
            findings.add(f"{label} (statement line {entry.line}: {entry.text}): the image has {other.text}")
    for label, other in seen.items():
        if label not in expected:
            findings.add(f"{label}: the image has {other.text}, the statement nothing")


def compare_walk(layout, text, findings):
    expected = keyed(walk(layout))
    seen = keyed(text.splitlines())
    for key, line in expected.items():
        if seen.get(key) != line:
            findings.add(f"{key}: the statement gives '{line}', the walk has '{seen.get(key, '(no line)')}'")
    for key, line in seen.items():
        if key not in expected:
            findings.add(f"{key}: the walk has '{line}', the statement nothing")


def read_statement(path):
    with open(path, encoding="utf-8") as file:
        entries = parse(file.read())
    return entries, layout_of(entries)


def kbdwalk(tool, *args):
    run = subprocess.run([tool, *args], capture_output=True, text=True)
    if run.returncode != 0:
        raise StatementError(f"{' '.join([tool, *args])} exited with {run.returncode}: {run.stderr.strip()}")
    return run.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    tables = commands.add_parser("tables")
    tables.add_argument("--kbdwalk", required=True)
    tables.add_argument("--statement", required=True)
    tables.add_argument("--moved-base", help="another load base, e.g. 0x6A120000")
    tables.add_argument("dll")
    walked = commands.add_parser("walk")
    walked.add_argument("--statement", required=True)
    walked.add_argument("walk")
    args = parser.parse_args()

    try:
        statement, layout = read_statement(args.statement)
        results = []
        if args.command == "walk":
            with open(args.walk, encoding="utf-8") as file:
                findings = Findings(f"walk {args.walk}")
                compare_walk(layout, file.read(), findings)
                results.append(findings.report())
        else:
            for base in [None] + ([args.moved_base] if args.moved_base else []):
                at = [base] if base else []
                where = f"loaded at {base}" if base else "at its preferred base"
                findings = Findings(f"tables of {args.dll} {where}")
                compare_tables(statement, parse(kbdwalk(args.kbdwalk, "--tables", args.dll, *at)), findings)
                results.append(findings.report())
                findings = Findings(f"walk of {args.dll} {where}")
                compare_walk(layout, kbdwalk(args.kbdwalk, args.dll, *at), findings)
                results.append(findings.report())
    except StatementError as error:
        print(f"check_layout: {error}")
        return 2
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
