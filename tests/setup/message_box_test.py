#!/usr/bin/python3
"""The installer's message box under Wine, as a user sees it: each row
runs setup8.exe (not quiet) through messageprobe.exe with the user's
language set by LC_ALL (Wine answers the user's display language and
regional format from it), reads the box back, presses OK, and checks
the caption, the text, the icon, the reading direction and the exit code.
The rows that install or uninstall run in a prefix of their own (a clone
of the pristine one), one after the other, each readying it first: one
message of each kind, and every icon.

    message_box_test.py --runner RUN --probes DIR --windows DIR --dist DIST --version VERSION
                        --work DIR

DIR: the 32-bit test programs (messageprobe.exe and messagehooks.dll, and
the input.dll stand-in), of the installer's bitness. Exit status: 0
passed, 1 failed (each failure names the row), 77 skipped (with the
reason printed).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

from setup_test import SKIPPED, older_build, windows_path

TITLE = "Central Kurdish Keyboard Layout"
# The Kurdish table's title: "layout of the Central Kurdish keyboard".
KURDISH_TITLE = "\u0695\u06cc\u0632\u0628\u06d5\u0646\u062f\u06cc\u06cc \u062a\u06d5\u062e\u062a\u06d5\u06a9\u0644\u06cc\u0644\u06cc " \
                "\u06a9\u0648\u0631\u062f\u06cc\u06cc \u0646\u0627\u0648\u06d5\u0646\u062f\u06cc"
BILINGUAL_TITLE = f"{KURDISH_TITLE} - {TITLE}"
USAGE_LINE = "Usage: setup8.exe [/admin] [/allusers] [/uninstall] [/quiet] [/log <file>] [/?]"
ARABIC_SCRIPT = re.compile("[\u0600-\u06ff]")
# The marks and embeddings that hold text of one direction in the other.
DIRECTIONAL = re.compile("[\u200e\u200f\u202a-\u202e]")


def plain(text):
    return DIRECTIONAL.sub("", text) if text is not None else None


def english_usage(text):
    """the English usage: its line, each switch, and every exit code."""
    return (USAGE_LINE + "\n\n" in text
            and all(f"\n{switch} " in text for switch in ("/admin", "/allusers", "/uninstall", "/quiet", "/log <file>"))
            and all(re.search(rf"\b{code}\b", text) for code in (0, 3010, 1011, 1603, 1638, 1618, 87, 5)))


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
    """The Kurdish text alone, no English word in it (Windows' words for an
    error neither)."""
    return bool(ARABIC_SCRIPT.search(text)) and not re.search(r"\b(?:Usage|Exit|the|is|not|error|cannot)\b", text)


def english(*words):
    """A check that the English text follows the Kurdish, with these words."""
    def check(text):
        return all(word in text for word in words)
    check.__doc__ = "the English text with " + ", ".join(repr(word) for word in words)
    return kurdish_then_english(check)


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
    ("a log in a folder that is not there, for a Kurdish user", "ckb_IQ.UTF-8", ["/log", "C:\\no such\\x.log"],
     (KURDISH_TITLE, kurdish_alone, "error", "yes", "yes"), 87),
]

# The same, in a prefix of their own, in this order; each with what
# readies the prefix first and what tidies after (see Machine).
RUNS = [
    ("installed on Windows 10 through the system's call, for an English user: Win+Space", "C.UTF-8", ["/admin"],
     "windows 10", (BILINGUAL_TITLE, english("installed", "Win+Space"), "information", "yes", "yes"), 0),
    ("uninstalled, for a Kurdish user", "ckb_IQ.UTF-8", ["/uninstall"], None,
     (KURDISH_TITLE, kurdish_alone, "information", "yes", "yes"), 0),
    ("installed on Windows 7 through Preload: there once the user signs in again", "C.UTF-8", ["/admin"],
     "windows 7", (BILINGUAL_TITLE, english("installed", "sign in again", "Alt+Shift"), "information", "yes", "yes"),
     0),
    ("an older build held open: installed at the restart", "C.UTF-8", ["/admin"], "older build held",
     (BILINGUAL_TITLE, english("installed", "restart the computer"), "information", "yes", "yes"), 3010),
    ("another library's Kurd.dll: refused", "C.UTF-8", ["/admin"], "foreign Kurd.dll",
     (BILINGUAL_TITLE, english("not installed", "Kurd.dll is not a build of this layout"), "error", "yes", "yes"),
     1603),
    ("another run holds the lock", "C.UTF-8", ["/admin"], "lock held",
     (BILINGUAL_TITLE, english("in progress", "nothing was changed"), "warning", "yes", "yes"), 1618),
]


def code_points(text):
    return "".join(chr(int(unit, 16)) for unit in text.split())


def probe(args, language, title_prefix, arguments, prefix=None):
    """{fact: value} of what messageprobe.exe saw, and its output."""
    command = [args.runner, "exec", "--gui", "--timeout", "90", os.path.join(args.probes, "messageprobe.exe"),
               "--timeout", "60", title_prefix, windows_path(os.path.join(args.dist, "setup8.exe")), *arguments]
    environment = dict(os.environ, LC_ALL=language, **({"WINETEST_PREFIX": prefix} if prefix else {}))
    done = subprocess.run(command, env=environment, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace", timeout=150)
    if done.returncode == SKIPPED:
        print(done.stdout)
        raise SystemExit(SKIPPED)
    facts = {}
    for line in done.stdout.splitlines():
        name, _, value = line.partition(" ")
        facts[name] = code_points(value) if name in ("caption", "text") else value
    return facts, done.stdout


class Machine:
    """A clone of the pristine prefix, readied for a row and tidied after:
    "windows 10", "windows 7" (Wine answers as that Windows, uninstalled
    first where the layout is there; on Windows 10 the input.dll stand-in
    answers the system's call), "older build held" (an older
    build in System32, open without sharing delete), "foreign Kurd.dll"
    (another library under that name in System32), "lock held" (the
    installer's lock taken by another program)."""

    def __init__(self, args):
        self.args = args
        self.path = os.path.join(args.work, "prefix")
        shutil.rmtree(self.path, ignore_errors=True)
        self.command("clone", self.path)
        self.system32 = os.path.join(self.path, "drive_c/windows/system32")
        # The system folder the 32-bit installer sees.
        self.input_dll = os.path.join(self.path, "drive_c/windows/syswow64/input.dll")
        self.holder = None

    def command(self, *arguments, check=True):
        done = subprocess.run([self.args.runner, *arguments], env=dict(os.environ, WINETEST_PREFIX=self.path),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                              timeout=180)
        if check and done.returncode != 0:
            raise SystemExit(f"{' '.join(arguments)} failed ({done.returncode}): {done.stdout}")
        return done.returncode

    def setup(self, *arguments):
        self.command("exec", windows_path(os.path.join(self.args.dist, "setup8.exe")), *arguments, "/quiet",
                     check=False)

    def hold(self, kind, what):
        ready, release = os.path.join(self.args.work, "ready"), os.path.join(self.args.work, "release")
        for path in (ready, release):
            if os.path.exists(path):
                os.remove(path)
        self.release = release
        self.holder = subprocess.Popen([self.args.runner, "exec", windows_path(os.path.join(self.args.windows,
                                        "holder.exe")), kind, what, windows_path(ready), windows_path(release)],
                                       env=dict(os.environ, WINETEST_PREFIX=self.path), stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        began = time.monotonic()
        while not os.path.exists(ready) and self.holder.poll() is None and time.monotonic() - began < 60:
            time.sleep(0.1)

    def ready(self, how):
        if how in ("windows 10", "windows 7"):
            version = "win10" if how == "windows 10" else "win7"
            self.command("exec", "reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f")
            self.setup("/uninstall")
            if how == "windows 10":
                shutil.copy(os.path.join(self.args.probes, "input.dll"), self.input_dll)
        elif how == "older build held":
            older = os.path.join(self.args.work, "older-Kurd.dll")
            older_build(self, os.path.join(self.args.dist, "Kurd.dll"), older)
            shutil.copy(older, os.path.join(self.system32, "Kurd.dll"))
            self.hold("file", "C:\\windows\\system32\\Kurd.dll")
        elif how == "foreign Kurd.dll":
            shutil.copy(os.path.join(self.system32, "version.dll"), os.path.join(self.system32, "Kurd.dll"))
        elif how == "lock held":
            self.hold("lock", "Global\\CentralKurdishKeyboardLayoutSetup")

    def tidy(self, how):
        if self.holder:
            open(self.release, "w").close()
            self.holder.wait(timeout=60)
            self.holder = None
        if how in ("windows 10", "windows 7"):
            self.command("exec", "reg", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f")
            if os.path.exists(self.input_dll):
                os.remove(self.input_dll)
        elif how == "older build held":
            # Uninstalled, and restarted so that nothing stays scheduled.
            self.setup("/uninstall")
            self.command("stop")
            self.command("exec", "cmd", "/c", "exit")
        elif how == "foreign Kurd.dll":
            os.remove(os.path.join(self.system32, "Kurd.dll"))

    def check(self, condition, expected, seen):
        if not condition:
            raise SystemExit(f"readying the prefix: expected {expected}; saw {seen}")
        return condition

    def remove(self):
        self.command("stop", check=False)
        shutil.rmtree(self.path, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="tests/wine/run")
    parser.add_argument("--probes", required=True, help="the folder of the 32-bit messageprobe.exe")
    parser.add_argument("--windows", required=True, help="the folder of the x86-64 holder.exe")
    parser.add_argument("--dist", required=True, help="the dist folder")
    parser.add_argument("--version", required=True, help="the package's version, four numbers")
    parser.add_argument("--work", required=True, help="a folder for this test's prefix")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    failures = []
    machine = Machine(args)
    rows = [(row, language, arguments, None, shown, code) for row, language, arguments, shown, code in ROWS] + RUNS
    for row, language, arguments, how, (caption, text_check, icon, rtl, right), code in rows:
        in_machine = (row, language, arguments, how, (caption, text_check, icon, rtl, right), code) in RUNS
        if in_machine:
            machine.ready(how)
        facts, output = probe(args, language, "", arguments, machine.path if in_machine else None)
        if in_machine:
            machine.tidy(how)
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
    machine.remove()
    for failure in failures:
        print(f"FAILED {failure}")
    if not failures:
        print(f"{len(rows)} message boxes as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
