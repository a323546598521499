#!/usr/bin/python3
"""Where the letters are, as the download tells it, against Kurd.tables (the
layout stated by hand).

    letters_test.py pdf --statement Kurd.tables PDF
        The chart to print: one A4 page in landscape, every font embedded as
        a subset, and its text (pdftotext) holding every character the
        main block's keys type, an invisible one by its name.
"""
import argparse
import os
import subprocess
import sys
import unicodedata

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "layout"))
from check_layout import read_statement, typed  # noqa: E402

# The main block's typing keys by scan code, with the legend a US keyboard
# prints on each; 56 is the ISO keyboards' key left of Z.
LEGENDS = dict(zip([0x29, *range(0x02, 0x0E)], "`1234567890-=")) | dict(zip(range(0x10, 0x1C), "QWERTYUIOP[]")) | \
    dict(zip(range(0x1E, 0x29), "ASDFGHJKL;'")) | dict(zip(range(0x2C, 0x36), "ZXCVBNM,./")) | {0x2B: "\\"}
MODIFIERS = {0: "", 1: "Shift", 3: "Shift+Ctrl"}  # Ctrl alone types control characters only
TAGS = {"\u200c": "ZWNJ", "\u200d": "ZWJ", "\u200e": "LRM", "\u200f": "RLM"}

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("what", choices=["pdf"])
    parser.add_argument("--statement", required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    test_pdf(args.statement, *args.files)
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
