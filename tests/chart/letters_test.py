#!/usr/bin/python3
"""Where the letters are, as the download tells it, against Kurd.tables (the
layout stated by hand).

    letters_test.py pdf --statement Kurd.tables PDF
        The chart to print: one A4 page in landscape, every font embedded as
        a subset, and its text (pdftotext) holding every character the
        main block's keys type, an invisible one by its name.
    letters_test.py readmes --statement Kurd.tables --kbdletters TOOL --dll DLL
                            --words WORDS README.txt README.md
        The packaged README.txt: in its Kurdish and its English part, each
        Kurdish letter, mark and invisible character on a line with the
        keys that type it, and the digits; in the English part and in
        README.md, each key with everything it types. README.md's table is
        the one kbdletters writes now. Each row of the Kurdish table, laid
        out right to left by ICU's bidi as Notepad's right-to-left mode
        shows it, reads its pieces right to left, Latin ones and signs
        left to right (unmirrored).
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import unicodedata

import icu

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "layout"))
from check_layout import read_statement, typed  # noqa: E402

# The main block's typing keys by scan code, with the legend a US keyboard
# prints on each; 56 is the ISO keyboards' key left of Z.
LEGENDS = dict(zip([0x29, *range(0x02, 0x0E)], "`1234567890-=")) | dict(zip(range(0x10, 0x1C), "QWERTYUIOP[]")) | \
    dict(zip(range(0x1E, 0x29), "ASDFGHJKL;'")) | dict(zip(range(0x2C, 0x36), "ZXCVBNM,./")) | {0x2B: "\\"}
MODIFIERS = {0: "", 1: "Shift", 3: "Shift+Ctrl"}  # Ctrl alone types control characters only
# The letters Kurdish writes and Arabic does not: LAM WITH SMALL V, REH WITH
# SMALL V BELOW, WAW WITH V ABOVE, YEH WITH SMALL V, AE, VEH, PEH, TCHEH, JEH,
# GAF.
KURDISH_LETTERS = "\u06B5\u0695\u06C6\u06CE\u06D5\u06A4\u067E\u0686\u0698\u06AF"
ARABIC_COMMA = "\u060C"
ARABIC_INDIC_DIGITS = "".join(chr(0x0660 + d) for d in range(10))  # ARABIC-INDIC DIGIT ZERO to NINE
TAGS = {"\u200c": "ZWNJ", "\u200d": "ZWJ", "\u200e": "LRM", "\u200f": "RLM"}
LRM, RLM = "\u200e", "\u200f"
PARTS = "\n" + "=" * 74 + "\n"

failures = []


def check(condition, expected, seen):
    if not condition:
        failures.append(f"expected {expected}; saw {seen}")


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def typed_by_key(statement):
    """{(scan code, modifier bits): characters} for every main-block key and
    level that types something other than a control character or space."""
    _, layout = read_statement(statement)
    keys = {}
    for scan_code in [*LEGENDS, 0x56]:
        for bits in MODIFIERS:
            cell = typed(layout, layout.plain[scan_code] & 0xFF, bits)
            text = "".join(chr(int(unit, 16)) for unit in cell.split("+")) if cell != "-" else ""
            if text.strip() and all(ord(c) >= 0x20 and c != "\x7f" for c in text):
                keys[scan_code, bits] = text
    return keys


def shown(text):
    """A character as the tables show it: a mark on a dotted circle, an
    invisible one by its name."""
    if text in TAGS:
        return TAGS[text]
    return "\u25cc" + text if unicodedata.category(text[0]) == "Mn" else text


def test_pdf(statement, pdf):
    text = run("pdftotext", pdf, "-")
    for (scan_code, bits), characters in typed_by_key(statement).items():
        for c in characters:
            check(TAGS.get(c, c) in text, f"the PDF showing {TAGS.get(c, f'U+{ord(c):04X}')} "
                  f"(scan code {scan_code:02X}, {MODIFIERS[bits] or 'alone'})", "not there")
    info = run("pdfinfo", pdf)
    check("Pages:           1\n" in info and "Page size:       841.89 x 595.276 pts (A4)" in info,
          "one A4 page in landscape", info)
    fonts = run("pdffonts", pdf).splitlines()[2:]
    check(fonts, "fonts listed by pdffonts", "none")
    for font in fonts:
        check(font.split()[-5:-2] == ["yes", "yes", "yes"], "a font embedded as a subset, with its Unicode map", font)


def line_of(table, first):
    """The line of the table whose first word is `first`, as a reader sees
    it (without marks or Markdown's escapes), else ""."""
    for line in table.replace(LRM, "").replace(RLM, "").splitlines():
        if line.startswith("|"):
            line = " ".join(re.sub(r"\\(.)", r"\1", cell) for cell in re.split(r"(?<!\\)\|", line))
        if line.split()[:1] == [first]:
            return line
    return ""


def reading_faults(line):
    """Where a table row laid out right to left puts a piece out of order,
    or a piece without Arabic script right to left."""
    bidi = icu.Bidi()
    bidi.setPara(icu.UnicodeString(line), 1)
    where = {logical: visual for visual, logical in enumerate(bidi.getVisualMap())}
    levels = bidi.getLevels()
    pieces = [range(*m.span()) for m in re.finditer(f"[^ {RLM}]+(?: [^ {RLM}{ARABIC_COMMA}]+)*", line)
              if m.group().strip(LRM)]
    faults = [f"{line[p[0]:p[-1] + 1]!r} not left to right" for p in pieces
              if not re.search("[\u0600-\u06ff]", line[p[0]:p[-1] + 1]) and any(levels[i] % 2 for i in p)]
    spans = [(min(where[i] for i in p), max(where[i] for i in p)) for p in pieces]
    return faults + [f"{line[a[0]:b[-1] + 1]!r} not right to left" for (a, b), (x, y) in zip(zip(pieces, pieces[1:]),
                                                                                            zip(spans, spans[1:]))
                     if x[0] <= y[1]]


def generated(kbdletters, dll, words, template):
    with tempfile.TemporaryDirectory() as scratch:
        paths = [os.path.join(scratch, name) for name in ("template", "output")]
        with open(paths[0], "w", encoding="utf-8") as f:
            f.write(template)
        run(kbdletters, dll, words, *paths)
        with open(paths[1], encoding="utf-8") as f:
            return f.read()


def test_readmes(statement, kbdletters, dll, words, readme_txt, readme_md):
    with open(readme_txt, encoding="utf-8") as f:
        kurdish, _, english = f.read().partition(PARTS)
    with open(readme_md, encoding="utf-8") as f:
        markdown = f.read()
    tables = {}
    for name, part, language in (("Kurdish part", kurdish, "ckb"), ("English part", english, "en")):
        tables[name] = generated(kbdletters, dll, words, f"letter-table {language}\n")
        check(tables[name] in part, f"README.txt's {name} holding the letter table kbdletters writes", "another")
    check(generated(kbdletters, dll, words, markdown) == markdown, "README.md's letter table as kbdletters writes it "
          "from the built Kurd.dll (tests/chart/update_references writes it)", "another table")
    tables["README.md"] = markdown[markdown.find("<!-- letter-table "):markdown.find("<!-- /letter-table -->")]

    keys = typed_by_key(statement)
    where = {}  # character -> the keys that type it alone
    for (scan_code, bits), text in keys.items():
        if len(text) == 1 and scan_code in LEGENDS:
            where.setdefault(text, []).append("+".join(filter(None, [MODIFIERS[bits], LEGENDS[scan_code]])))
    findings = [c for c in where if c in KURDISH_LETTERS or c in TAGS or unicodedata.category(c) == "Mn"]
    check(set(KURDISH_LETTERS) <= set(findings), f"the statement typing {KURDISH_LETTERS}", sorted(findings))
    for name, table in tables.items():
        for c in findings:
            line = line_of(table, shown(c))
            for key in where[c]:
                check(key in line, f"{name}: {shown(c)} on a line with {key}", line or "no line")
        check("0123456789" in table and ARABIC_INDIC_DIGITS in table,
              f"{name}: the digits typed and the Arabic-Indic ones", "not both")
    for line in tables["Kurdish part"].splitlines():
        if line.startswith("    "):
            for fault in reading_faults(line):
                check(False, "the Kurdish table's rows read right to left", fault)
    for name in ("English part", "README.md"):
        for (scan_code, bits), text in keys.items():
            line = line_of(tables[name], LEGENDS.get(scan_code, "the"))
            check(shown(text) in line, f"{name}: the key {LEGENDS.get(scan_code, 'left of Z')} showing {shown(text)} "
                  f"({MODIFIERS[bits] or 'alone'})", line or "no line")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("what", choices=["pdf", "readmes"])
    parser.add_argument("--statement", required=True)
    parser.add_argument("--kbdletters")
    parser.add_argument("--dll")
    parser.add_argument("--words")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    if args.what == "pdf":
        test_pdf(args.statement, *args.files)
    else:
        test_readmes(args.statement, args.kbdletters, args.dll, args.words, *args.files)
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
