#!/usr/bin/python3
"""The installer's message box under Wine, as a user sees it: each row
runs setup8.exe (not quiet) through messageprobe.exe with the user's
language set by LC_ALL (Wine answers the user's display language and
regional format from it), reads the box back, presses OK, and checks
the caption, the text, the icon, the reading direction and the exit code.

    message_box_test.py --runner RUN --probes DIR --dist DIST

DIR: the 32-bit test programs (messageprobe.exe and messagehooks.dll),
of the installer's bitness. Exit status: 0 passed, 1 failed (each failure
names the row), 77 skipped (with the reason printed).
"""
import argparse
import os
import re
import subprocess
import sys

from setup_test import SKIPPED, windows_path

TITLE = "Central Kurdish Keyboard Layout"
# The Kurdish table's title: "layout of the Central Kurdish keyboard".
KURDISH_TITLE = "\u0695\u06cc\u0632\u0628\u06d5\u0646\u062f\u06cc\u06cc \u062a\u06d5\u062e\u062a\u06d5\u06a9\u0644\u06cc\u0644\u06cc " \
                "\u06a9\u0648\u0631\u062f\u06cc\u06cc \u0646\u0627\u0648\u06d5\u0646\u062f\u06cc"
BILINGUAL_TITLE = f"{KURDISH_TITLE} - {TITLE}"
USAGE_LINE = "Usage: setup [/admin] [/uninstall] [/quiet] [/log <file>] [/?]"
ARABIC_SCRIPT = re.compile("[\u0600-\u06ff]")
# The marks and embeddings that hold text of one direction in the other.
DIRECTIONAL = re.compile("[\u200e\u200f\u202a-\u202e]")


def plain(text):
    return DIRECTIONAL.sub("", text) if text is not None else None


def english_usage(text):
    """the English usage: its line, each switch, and every exit code."""
    return (USAGE_LINE + "\n\n" in text
            and all(f"\n{switch}\t" in text for switch in ("/admin", "/uninstall", "/quiet", "/log <file>"))
            and all(re.search(rf"\b{code}\b", text) for code in (0, 3010, 1603, 1618, 87, 5)))


def kurdish_then_english(english):
    def check(text):
        # The English part is everything from the last Kurdish paragraph on.
        paragraphs = text.split("\n\n")
        last_kurdish = max((i for i, p in enumerate(paragraphs) if ARABIC_SCRIPT.search(p)), default=None)
        return last_kurdish is not None and bool(ARABIC_SCRIPT.match(text)) and \
            english("\n\n".join(paragraphs[last_kurdish + 1:]))
    check.__doc__ = f"the Kurdish text first, then {english.__doc__.strip()}"
    return check


def kurdish_alone(text):
    """The Kurdish text alone, the English usage line nowhere."""
    return bool(ARABIC_SCRIPT.search(text)) and USAGE_LINE not in text and "Exit codes" not in text


def bad_argument(argument):
    def check(text):
        return argument in text and USAGE_LINE in text
    check.__doc__ = f"the complaint naming {argument}, and the usage line"
    return check


# (row, LC_ALL, arguments, what the box shows: caption, a check of the text
# without its directional marks, icon, reads right to left, aligned right;
# the exit code). Kurdish comes first, and alone where the user reads it.
ROWS = [
    ("usage for an English user", "C.UTF-8", ["/?"],
     (BILINGUAL_TITLE, kurdish_then_english(english_usage), "information", "yes", "yes"), 0),
    ("an unknown switch for an English user", "C.UTF-8", ["/frobnicate"],
     (BILINGUAL_TITLE, kurdish_then_english(bad_argument("/frobnicate")), "error", "yes", "yes"), 87),
    ("usage for a Kurdish user", "ckb_IQ.UTF-8", ["/?"],
     (KURDISH_TITLE, kurdish_alone, "information", "yes", "yes"), 0),
]


def code_points(text):
    return "".join(chr(int(unit, 16)) for unit in text.split())


def probe(args, language, title_prefix, arguments):
    """{fact: value} of what messageprobe.exe saw, and its output."""
    command = [args.runner, "exec", "--gui", "--timeout", "90", os.path.join(args.probes, "messageprobe.exe"),
               "--timeout", "60", title_prefix, windows_path(os.path.join(args.dist, "setup8.exe")), *arguments]
    done = subprocess.run(command, env=dict(os.environ, LC_ALL=language), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace", timeout=150)
    if done.returncode == SKIPPED:
        print(done.stdout)
        raise SystemExit(SKIPPED)
    facts = {}
    for line in done.stdout.splitlines():
        name, _, value = line.partition(" ")
        facts[name] = code_points(value) if name in ("caption", "text") else value
    return facts, done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="tests/wine/run")
    parser.add_argument("--probes", required=True, help="the folder of the 32-bit messageprobe.exe")
    parser.add_argument("--dist", required=True, help="the dist folder")
    args = parser.parse_args()
    failures = []
    for row, language, arguments, (caption, text_check, icon, rtl, right), code in ROWS:
        facts, output = probe(args, language, "", arguments)
        seen = {"caption": plain(facts.get("caption")), "icon": facts.get("icon"), "rtl": facts.get("rtl"),
                "right": facts.get("right"), "exit": facts.get("exit")}
        expected = {"caption": caption, "icon": icon, "rtl": rtl, "right": right, "exit": str(code)}
        for fact in expected:
            if seen[fact] != expected[fact]:
                failures.append(f"{row}: expected {fact} {expected[fact]!r}; saw {seen[fact]!r}")
        text = plain(facts.get("text"))
        if text is None or not text_check(text):
            failures.append(f"{row}: expected {text_check.__doc__.strip()}; saw text {text!r}")
        if any(failure.startswith(row) for failure in failures):
            print(f"{row}: the probe printed\n{output}")
    for failure in failures:
        print(f"FAILED {failure}")
    if not failures:
        print(f"{len(ROWS)} message boxes as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
