#!/usr/bin/python3
"""Checks that a 32-bit Windows image can start on Windows XP.

The image's header must ask for no more than Windows 5.01 (subsystem and
operating-system version), and every function it imports must be on the
allow-list of functions that XP's own libraries export. Reads the image
through `objdump -p`. Prints each problem and exits 1 if there is any.
"""
import argparse
import re
import subprocess
import sys

XP_VERSION = (5, 1)


def read_allowed(path):
    allowed = set()
    with open(path, encoding="ascii") as listing:
        for line in listing:
            line = line.split("#", 1)[0].strip()
            if line:
                library, function = line.split()
                allowed.add((library.lower(), function))
    return allowed


def header_versions(dump):
    def field(name):
        match = re.search(rf"^{name}\s+(\d+)$", dump, re.MULTILINE)
        if not match:
            raise SystemExit(f"objdump output has no {name}")
        return int(match.group(1))

    return {
        "subsystem": (field("MajorSubsystemVersion"), field("MinorSubsystemVersion")),
        "operating system": (field("MajorOSystemVersion"), field("MinorOSystemVersion")),
    }


def imports(dump):
    found = []
    library = None
    for line in dump.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            library = named.group(1)
            continue
        entry = re.match(r"\t[0-9a-f]+\s+\d+\s+(\S+)", line)
        if library and entry:
            found.append((library, entry.group(1)))
        elif library and re.match(r"\t[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line):
            found.append((library, "ordinal " + line.split()[-1]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--allowed", required=True)
    parser.add_argument("image")
    args = parser.parse_args()

    dump = subprocess.run([args.objdump, "-p", args.image], check=True,
                          capture_output=True, text=True).stdout
    problems = []
    if "file format pei-i386" not in dump:
        problems.append("not a 32-bit x86 image")
    for what, version in header_versions(dump).items():
        if version > XP_VERSION:
            problems.append(f"{what} version {version[0]}.{version[1]:02} is above 5.01")

    allowed = read_allowed(args.allowed)
    found = imports(dump)
    if not found:
        problems.append("no imports found: objdump output not understood")
    for library, function in found:
        if (library.lower(), function) not in allowed:
            problems.append(f"imports {library} {function}, not on the XP list")

    for problem in problems:
        print(f"{args.image}: {problem}")
    print(f"{len(found)} imports checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
