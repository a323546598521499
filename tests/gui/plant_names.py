#!/usr/bin/python3
"""The names under which a planted-library test plants a copy beside a program.

    plant_names.py IMAGE

Prints, one a line in lower case, every library the program may load that
a copy in its folder could stand in for: the names written in the image as
UTF-16 text (what it hands to LoadLibrary) and its static imports, except
the libraries of win32/import_libraries.txt, which Windows takes from the
system directory alone. (Wine has no such list: it would load a planted
copy of some of those, such as advapi32.dll, for its own libraries.) Read
from the image, so a library bound or imported in a new place cannot
escape the tests.
"""
import os
import re
import sys

import pefile

SAFE_LIBRARIES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "win32",
                            "import_libraries.txt")

# A name that begins a string: the byte before it ends the previous one.
UTF16_LIBRARY_NAME = re.compile(rb"(?<=\x00)(?:[A-Za-z0-9_]\x00){1,64}\.\x00[Dd]\x00[Ll]\x00[Ll]\x00")


def safe_libraries():
    with open(SAFE_LIBRARIES, encoding="ascii") as listing:
        return {line.split()[0].lower() for line in listing if line.split("#", 1)[0].strip()}


def plant_names(path):
    image = pefile.PE(path)
    imported = {entry.dll.decode("ascii").lower() for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])}
    bound = {match.group().decode("utf-16-le").lower() for match in UTF16_LIBRARY_NAME.finditer(image.__data__)}
    return sorted((bound | imported) - safe_libraries())


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    print("\n".join(plant_names(sys.argv[1])))
