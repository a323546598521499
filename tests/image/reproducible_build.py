#!/usr/bin/python3
"""Builds the layout library twice, in two fresh build folders at different
depths, and checks that both builds and the project's own Kurd.dll are the
same bytes and that none carries a file-system path.

Usage: reproducible_build.py <layout source dir> <toolchain file> <Kurd.dll> <cmake>
"""
import os
import subprocess
import sys
import tempfile

# Path fragments a build could leak: the folders of this run and the usual
# roots of a build machine.
PATH_MARKERS = ["/work", "/tmp", "/home", "/usr", "/build", "C:\\", "\\\\"]


def build(cmake, source, toolchain, binary):
    for args in (["-S", source, "-B", binary, "-G", "Ninja", "--toolchain", toolchain,
                  "-DCMAKE_BUILD_TYPE=Release"],
                 ["--build", binary]):
        run = subprocess.run([cmake, *args], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"cmake {' '.join(args)} failed:\n{run.stdout}{run.stderr}")
    with open(os.path.join(binary, "Kurd.dll"), "rb") as f:
        return f.read()


def leaked_paths(image, markers):
    found = []
    for marker in markers:
        for encoding in ("ascii", "utf-16-le"):
            if marker.encode(encoding) in image:
                found.append(f"{marker!r} ({encoding})")
    return found


def first_difference(a, b):
    for offset, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"first difference at file offset {offset:#x}"
    return f"sizes differ: {len(a)} and {len(b)} bytes"


def main(source, toolchain, project_dll, cmake):
    source, toolchain, project_dll = (os.path.abspath(p) for p in (source, toolchain, project_dll))
    with open(project_dll, "rb") as f:
        project = f.read()
    with tempfile.TemporaryDirectory(prefix="kurd-repro-") as scratch:
        first_dir = os.path.join(scratch, "a")
        second_dir = os.path.join(scratch, "second", "deeper", "build")
        first = build(cmake, source, toolchain, first_dir)
        second = build(cmake, source, toolchain, second_dir)
        markers = PATH_MARKERS + [source, first_dir, second_dir, os.path.dirname(project_dll)]
        failures = []
        if first != second:
            failures.append("two clean builds differ: " + first_difference(first, second))
        if first != project:
            failures.append(f"{project_dll} differs from a clean build: "
                            + first_difference(first, project))
        for name, image in (("clean build", first), (project_dll, project)):
            failures += [f"{name} holds the path {leak}" for leak in leaked_paths(image, markers)]
    for failure in failures:
        print("FAIL", failure)
    if not failures:
        print(f"reproducible: {len(first)} bytes, no paths")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
