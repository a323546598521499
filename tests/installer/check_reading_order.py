#!/usr/bin/python3
"""Lays each line out right to left (paragraph level 1) with ICU's bidi, as
today's engines do and, brackets read as plain neutrals, as engines before
Unicode 6.3 (XP to 7) do. Words read in their script's order, Latin ones
whole and unmirrored; runs of a script keep their place in the line's order
(a full stop or closed bracket ends a run); names read part after part;
brackets stand round their content.

    check_reading_order.py SETUP_EXE COMPOSE_MESSAGES   every message, Kurdish
        alone (no English word but the table's and the names') and Kurdish
        then English, whose English lines read left to right
    check_reading_order.py --readme README.txt   its Kurdish part, as Notepad
        shows it right to left; lines without Kurdish read left to right"""
import re
import subprocess
import sys

import icu
import pefile

from check_setup_resources import CENTRAL_KURDISH, string_tables

MARKS = dict.fromkeys(map(ord, "\u200e\u200f\u202a\u202b\u202c\u202d\u202e"))
ARABIC = "[\u0620-\u064a\u066e-\u06d5]"
# What a word may begin and end with that the text around it places.
OPENING, CLOSING = "([«\"", ").,:;!?\u060c\u061b\u061f]»\""
MIRRORED = dict(zip("()[]«»", ")(][»«"))


class Word:
    def __init__(self, line, places, is_name=False):
        self.text, self.places, self.is_name = "".join(line[i] for i in places), places, is_name
        start, end = 0, len(places)
        while not is_name and start < end and self.text[start] in OPENING:
            start += 1
        while not is_name and end > start and self.text[end - 1] in CLOSING:
            end -= 1
        self.core, core, tail = places[start:end], self.text[start:end], self.text[end:]
        self.ends_run = bool(re.search("[.!?\u060c\u061b\u061f»]", tail)) or self.text.count(")") > self.text.count("(")
        letters = [c.isascii() for c in re.findall(f"[A-Za-z]|{ARABIC}", core)]
        self.script = "L" if is_name or core.startswith("/") or letters[:1] == [True] else "K" if letters else None
        self.pure = is_name or len(set(letters)) < 2
        self.digits = core[:1].isdigit()


def words(line, names):
    """The words of the line in order, each name inserted one word."""
    visible = [i for i, c in enumerate(line) if ord(c) not in MARKS]
    plain, found, taken = "".join(line[i] for i in visible), [], set()
    for name in sorted(names, key=len, reverse=True):
        for match in re.finditer(f"{re.escape(name)}(?![^ {re.escape(CLOSING)}])", plain):
            if not taken & set(range(*match.span())):
                taken |= set(range(*match.span()))
                found.append(Word(line, [visible[i] for i in range(*match.span())], True))
    rest = "".join("\0" if i in taken else c for i, c in enumerate(plain))
    found += [Word(line, [visible[i] for i in range(*m.span())]) for m in re.finditer("[^ \0]+", rest)]
    return sorted(found, key=lambda word: word.places[0])


def faults(line, left_to_right, names, old):
    bidi = icu.Bidi()
    bidi.setPara(icu.UnicodeString(line.translate(str.maketrans("()[]", "<><>")) if old else line), 1)
    where = {logical: visual for visual, logical in enumerate(bidi.getVisualMap())}
    odd = [level % 2 for level in bidi.getLevels()]
    found = []

    def in_order(groups, forward, what):
        spans = [(min(where[i] for i in g), max(where[i] for i in g)) for g in groups if g]
        if any(a[1] >= b[0] if forward else a[0] <= b[1] for a, b in zip(spans, spans[1:])):
            found.append(what)

    opened = {c: [] for c in "([«"}
    for i, c in enumerate(line):
        if c in opened:
            opened[c].append(i)
        elif c in ")]»" and opened[MIRRORED[c]]:
            pair = opened[MIRRORED[c]].pop(), i
            left, right = sorted(pair, key=where.get)
            shown = [MIRRORED[line[j]] if odd[j] else line[j] for j in (left, right)]
            inside = [where[j] for j in range(pair[0] + 1, i) if ord(line[j]) not in MARKS]
            if shown != [line[pair[0]], c] or not all(where[left] < j < where[right] for j in inside):
                found.append(f"{line[pair[0]:i + 1]!r} not held by its brackets")
    line_words = [word for word in words(line, names) if word.pure]
    for word in line_words:
        if word.is_name:
            parts = re.split(r"(\\)", word.text)
            at = [word.places[len("".join(parts[:n])):len("".join(parts[:n + 1]))] for n in range(len(parts))]
            in_order(at, True, f"the parts of {word.text!r} out of order")
            for part, places in zip(parts, at):
                if re.search(ARABIC, part):
                    in_order([places[m.start():m.start() + 1] for m in re.finditer("[^ ]+", part)], False,
                             f"{part!r} in {word.text!r} not right to left")
        elif word.script == "L":
            in_order([[i] for i in word.core], True, f"{word.text!r} not left to right")
            if any(odd[i] for i in word.core):
                found.append(f"{word.text!r} not all left to right (mirrored or misplaced)")
        elif word.script == "K":
            in_order([[i] for i in word.core if re.match(ARABIC, line[i])], False, f"{word.text!r} not right to left")
    # A digit goes with the word before it, other neutral words with the
    # script on both sides of them, else with the line's.
    runs, line_script = [], "L" if left_to_right else "K"
    for n, word in enumerate(line_words):
        after = next((w.script for w in line_words[n + 1:] if w.script), None)
        before = runs[-1][0] if runs else None
        joined = before and not line_words[n - 1].ends_run
        script = word.script or (before if joined and (word.digits or before == after) else line_script)
        if joined and script == before:
            runs[-1][1].append(word.core)
        else:
            runs.append((script, [word.core]))
    for script, run in runs:
        in_order(run, script == "L", f"words {' '.join(line[i] for w in run for i in w)!r} out of order")
    in_order([sum(run, []) for _, run in runs], left_to_right, "the runs of Latin and Kurdish out of order")
    return found


def judge(text, left_to_right, names, what):
    """Each line's first fault under each engine."""
    problems = []
    for number, line in enumerate(text.split("\n")):
        for old in (False, True):
            for fault in faults(line, left_to_right(number, line), names, old)[:1] if line.translate(MARKS).strip() else []:
                engine = "engines before Unicode 6.3" if old else "today's engines"
                problems.append(f"{what}, line {number + 1} ({engine}): {fault}\n    {line.translate(MARKS)!r}")
    return problems


def check_messages(setup, compose):
    tables = string_tables(pefile.PE(setup))
    feed = "".join(f"{language:x} {number} {' '.join(f'{ord(c):x}' for c in text)}\n"
                   for language, table in tables.items() for number, text in table.items())
    out = subprocess.run([compose], input=feed, capture_output=True, text=True, check=True).stdout
    items = [(tag, "".join(chr(int(unit, 16)) for unit in units))
             for tag, *units in (line.split(" ") for line in out.splitlines())]
    names = [text for tag, text in items if tag == "name"]
    inserted = sorted((text for tag, text in items if tag in ("name", "literal")), key=len, reverse=True)
    latin = re.compile("[A-Za-z][A-Za-z0-9]*")
    table_words = set(latin.findall(" ".join(tables[CENTRAL_KURDISH].values())))
    messages, problems = [text for tag, text in items if tag in ("alone", "both")], []
    for alone, both in zip(messages[::2], messages[1::2]):
        kurdish_lines = alone.count("\n") + 1
        problems += judge(alone, lambda number, line: False, names, "Kurdish alone")
        problems += judge(both, lambda number, line: number >= kurdish_lines, names, "Kurdish, then English")
        rest = alone.translate(MARKS)
        for text in inserted:
            rest = rest.replace(text, " ")
        if set(latin.findall(rest)) - table_words:
            problems.append(f"English in a Kurdish box: {sorted(set(latin.findall(rest)) - table_words)}")
    return f"{len(messages)} messages", problems


def check_readme(path):
    with open(path, encoding="utf-8-sig") as f:
        kurdish = f.read().split("\n" + "=" * 74 + "\n")[0]
    english = lambda number, line: not re.search(ARABIC, line)  # noqa: E731
    return f"{kurdish.count(chr(10))} lines", judge(kurdish, english, [], "README.txt")


def main(first, second):
    counted, problems = check_readme(second) if first == "--readme" else check_messages(first, second)
    print("\n".join(problems + [f"{counted}, {len(problems)} faults"]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
