#!/usr/bin/python3
"""The download archive: its entries, README.txt's form and words, the
digests in SHA256SUMS, the version named in README.txt and README.md as
the build's, and the same bytes from a second build: its
programs built again from scratch in another folder, then packed with
other file times and permissions, another time zone and another umask. Programs signed by the build are compared
apart from their signature, which is never made twice the same.

Usage: archive_test.py <archive> <dist dir> <package dir> <readme> <programs> <cmake>
<readme> is README.txt as the build wrote the letter table into it.
<programs> says how the build makes the archive's programs, one line each:
"<archive names, comma-separated>\t<source dir>\t<built file>\t<cmake argument>...".
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

from signature import certificate_table, same_program

ENTRIES = ["Halvaro.exe", "setup7.exe", "setup8.exe", "Kurd-chart.png", "Kurd-chart.pdf", "README.txt"]
ENTRY_TIME = (2026, 1, 1, 0, 0, 0)
REGULAR_0644 = 0o100644
BOM = b"\xef\xbb\xbf"
# What README.txt must tell a user, each as it appears there.
README_WORDS = ["Halvaro.exe", "Win+Space", "Alt+Shift", "Programs and Features", "/uninstall",
                "setup8.exe /admin /quiet", "3010", "1603", "87", "5 ", "/log"]
# What both its Kurdish part and its English part must answer: what /admin
# does, the unknown publisher, the exit code from a command prompt, the
# language the layout comes under, adding it by hand, the exit codes;
# unpacking first, where SHA256SUMS is, the kept copy that uninstalls, the
# layouts of one language under Alt+Shift, and every user of a shared
# computer.
README_ANSWERS = ["/admin", "setup7.exe", "SmartScreen", "Unknown publisher", "start /wait", "Arabic (Jordan)",
                  "LocalSystem", "Add a keyboard", "Add an input method", "Keyboard layout/IME", "1618", "1638", "3010",
                  "Extract All", "SHA256SUMS", "Program Files\\Central Kurdish Keyboard Layout", "Ctrl+Shift",
                  "/allusers", "1011"]
# The line between the Kurdish part and the English one.
README_PARTS = "\n" + "=" * 74 + "\n"
ARABIC_SCRIPT_LETTER = re.compile("[\u0620-\u064a\u066e-\u06d5]")
# Letters of Arabic that Kurdish writes otherwise: TEH MARBUTA, KAF, YEH,
# ALEF MAKSURA.
ARABIC_ONLY_LETTERS = re.compile("[\u0629\u0643\u064a\u0649]")

failures = []


def check(condition, expected, seen):
    if not condition:
        failures.append(f"expected {expected}; saw {seen}")


def readme_bytes(readme):
    with open(readme, "rb") as f:
        return BOM + f.read().replace(b"\n", b"\r\n")


def check_entries(archive, dist, package, readme):
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
        check([i.filename for i in infos] == ENTRIES, f"the entries {ENTRIES} in this order",
              [i.filename for i in infos])
        for info in infos:
            row = info.filename
            check(info.date_time == ENTRY_TIME, f"{row}: time {ENTRY_TIME}", info.date_time)
            check(info.external_attr >> 16 == REGULAR_0644, f"{row}: a plain file, mode 0644",
                  oct(info.external_attr >> 16))
            check(info.extra == b"", f"{row}: no extra fields (owner, extended times)", info.extra)
            check(info.compress_type == zipfile.ZIP_DEFLATED, f"{row}: deflated", info.compress_type)
            data = z.read(info)
            if row == "README.txt":
                check(data == readme_bytes(readme), "README.txt: the build's README.txt with a BOM and CRLF",
                      data[:40])
                check_readme(data, package)
            else:
                with open(os.path.join(dist, row), "rb") as f:
                    check(data == f.read(), f"{row}: the same bytes as dist/{row}", f"{len(data)} bytes")


def check_readme(data, package):
    check(data.startswith(BOM), "README.txt starting with a UTF-8 byte order mark", data[:3])
    bare = data.count(b"\n") - data.count(b"\r\n")
    check(bare == 0, "README.txt: CRLF at every line end", f"{bare} bare LF")
    text = data[3:].decode("utf-8").replace("\r\n", "\n")
    for word in README_WORDS:
        check(word in text, f"README.txt mentioning {word!r}", "not there")
    kurdish, separator, english = text.partition(README_PARTS)
    check(separator, "README.txt: a Kurdish part, a line of =, an English part", "no such line")
    for name, part in (("Kurdish", kurdish), ("English", english)):
        for answer in README_ANSWERS:
            check(answer in part, f"README.txt: the {name} part mentioning {answer!r}", "not there")
    # The scripts of the words written for README.txt: the letter table the
    # build adds lists every letter the layout types, Arabic ones too.
    with open(os.path.join(package, "README.txt"), encoding="utf-8") as f:
        kurdish, _, english = f.read().partition(README_PARTS)
    check(len(ARABIC_SCRIPT_LETTER.findall(kurdish)) > len(re.findall("[A-Za-z]", kurdish)),
          "README.txt: a Kurdish part written mostly in Arabic script", "mostly Latin")
    check(not ARABIC_ONLY_LETTERS.findall(kurdish), "README.txt: Kurdish letters, not Arabic ones",
          ARABIC_ONLY_LETTERS.findall(kurdish))
    check(not ARABIC_SCRIPT_LETTER.search(english), "README.txt: an English part in Latin script",
          "Arabic script")


def check_checksums(archive, dist):
    """SHA256SUMS: one line for the archive and one for each file in it, as
    sha256sum reads them, each digest that of the archive or of the entry."""
    with zipfile.ZipFile(archive) as z:
        published = {info.filename: hashlib.sha256(z.read(info)).hexdigest() for info in z.infolist()}
    with open(archive, "rb") as f:
        published[os.path.basename(archive)] = hashlib.sha256(f.read()).hexdigest()
    with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    expected = [f"{published[name]}  {name}" for name in sorted(published)]
    check(lines == expected, f"SHA256SUMS listing the archive and its entries: {expected}", lines)


def check_version_named(archive, package):
    """The documents that name the version by hand name this build's: the
    title of README.txt, and every archive README.md names."""
    name = os.path.basename(archive)
    version = re.fullmatch(r"Kurd-(.+)\.zip", name).group(1)
    with open(os.path.join(package, "README.txt"), encoding="utf-8") as f:
        title = f.readline().strip()
    check(title.endswith(" " + version), f"package/README.txt's title ending in the version {version}", title)
    with open(os.path.join(package, os.pardir, "README.md"), encoding="utf-8") as f:
        named = set(re.findall(r"Kurd-[0-9.]+\.zip", f.read()))
    check(named <= {name}, f"README.md naming the archive {name} and no other", sorted(named))


def second_build(programs, cmake, scratch):
    """{archive name: path} of the programs built again in scratch."""
    built = {}
    with open(programs, encoding="utf-8") as f:
        lines = [line.split("\t") for line in f.read().splitlines()]
    for number, (names, source, output, *arguments) in enumerate(lines):
        binary = os.path.join(scratch, "second build", str(number))
        for command in ([cmake, "-S", source, "-B", binary, "-G", "Ninja", *arguments],
                        [cmake, "--build", binary]):
            run = subprocess.run(command, capture_output=True, text=True)
            if run.returncode != 0:
                sys.exit(f"{' '.join(command)} failed:\n{run.stdout}{run.stderr}")
        for name in names.split(","):
            built[name] = os.path.join(binary, output)
    return built


def check_second_build(archive, dist, package, readme, programs, cmake):
    with open(archive, "rb") as f:
        first = f.read()
    with tempfile.TemporaryDirectory(prefix="kurd-archive-") as scratch:
        built = second_build(programs, cmake, scratch)
        inputs = os.path.join(scratch, "inputs")
        os.makedirs(inputs)
        copies = []
        for name in ENTRIES[:-1]:
            copy = os.path.join(inputs, name)
            shipped = os.path.join(dist, name)
            # A signature is not made again the same: a signed program is
            # packed as shipped, and compared apart from it below.
            with open(shipped, "rb") as f:
                signed = name in built and certificate_table(f.read()) is not None
            shutil.copy(shipped if signed or name not in built else built[name], copy)
            os.chmod(copy, 0o755)
            copies.append(copy)
        readme_copy = os.path.join(inputs, "README.txt")
        shutil.copy(readme, readme_copy)
        again = os.path.join(scratch, "again.zip")
        env = dict(os.environ, TZ="Asia/Baghdad")
        subprocess.run(["sh", "-c", 'umask 077 && exec "$@"', "sh", os.path.join(package, "make_archive"),
                        again, readme_copy, *copies], check=True, env=env)
        with open(again, "rb") as f:
            second = f.read()
        for name in sorted(built):
            with open(built[name], "rb") as f, open(os.path.join(dist, name), "rb") as g:
                check(same_program(g.read(), f.read()),
                      f"{name} of a second build the same bytes as dist/{name} (apart from a signature)",
                      "different bytes")
        check(second == first, "the archive of a second build the same bytes", "different bytes")


def main(archive, dist, package, readme, programs, cmake):
    check_entries(archive, dist, package, readme)
    check_checksums(archive, dist)
    check_version_named(archive, package)
    check_second_build(archive, dist, package, readme, programs, cmake)
    for failure in failures:
        print("FAIL", failure)
    if not failures:
        print(f"{archive}: {os.path.getsize(archive)} bytes, {len(ENTRIES)} entries, the same from a second build")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
