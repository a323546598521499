#!/usr/bin/python3
"""Checks that 32-bit Windows images start on Windows XP and import safely.

Each image's header must ask for no more than Windows 5.01 (subsystem and
operating-system version); every library it imports must be on the
allow-list of libraries that Windows takes from the system directory alone
(so no copy beside the program can stand in for it), and every function on
the list of functions that XP's own libraries export. Reads each image
through `objdump -p`. Prints each problem and exits 1 if there is any.
"""
import argparse
import re
import subprocess
import sys

XP_VERSION = (5, 1)


def listing_lines(path):
    """(line number, text) of each line with something before its comment."""
    with open(path, encoding="ascii") as listing:
        for number, line in enumerate(listing, 1):
            line = line.split("#", 1)[0].strip()
            if line:
                yield number, line


def read_libraries(path):
    """Library name (lower case) -> the reason it is safe to import."""
    libraries = {}
    for number, line in listing_lines(path):
        library, _, reason = line.partition(" ")
        if not reason.strip():
            raise SystemExit(f"{path}:{number}: {library} is listed without its reason")
        libraries[library.lower()] = reason.strip()
    return libraries


def read_functions(path, libraries):
    functions = set()
    for number, line in listing_lines(path):
        library, function = line.split()
        if library.lower() not in libraries:
            raise SystemExit(f"{path}:{number}: {library} is not an allowed library")
        functions.add((library.lower(), function))
    return functions


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


def check(objdump, image, libraries, functions):
    """The problems of one image, and how many imports it has."""
    dump = subprocess.run([objdump, "-p", image], check=True, capture_output=True, text=True).stdout
    problems = []
    if "file format pei-i386" not in dump:
        problems.append("not a 32-bit x86 image")
    for what, version in header_versions(dump).items():
        if version > XP_VERSION:
            problems.append(f"{what} version {version[0]}.{version[1]:02} is above 5.01")

    found = imports(dump)
    if not found:
        problems.append("no imports found: objdump output not understood")
    for library in sorted({library for library, _ in found}, key=str.lower):
        if library.lower() not in libraries:
            problems.append(f"imports {library}, which Windows may load from the program's folder: "
                            "bind it at run time from the system directory")
    for library, function in found:
        if library.lower() in libraries and (library.lower(), function) not in functions:
            problems.append(f"imports {library} {function}, not on the XP list")
    return problems, len(found)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--libraries", required=True, help="the allow-list of libraries, with reasons")
    parser.add_argument("--functions", required=True, help="the functions XP's libraries export")
    parser.add_argument("images", nargs="+")
    args = parser.parse_args()

    libraries = read_libraries(args.libraries)
    functions = read_functions(args.functions, libraries)
    failed = False
    for image in args.images:
        problems, count = check(args.objdump, image, libraries, functions)
        for problem in problems:
            print(f"{image}: {problem}")
        print(f"{image}: {count} imports checked, {len(problems)} problems")
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
