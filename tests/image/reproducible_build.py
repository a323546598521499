#!/usr/bin/python3
"""Builds the layout library twice, in two fresh build folders at different
depths, and checks for every form that both builds and the project's own
image are the same bytes and that none carries a file-system path.

Usage: reproducible_build.py <layout source dir> <image manifest> <cmake>
The manifest lists the project's images, one "<form> <path>" line each.
"""
import os
import subprocess
import sys
import tempfile

# Path fragments a build could leak: the folders of this run and the usual
# roots of a build machine.
PATH_MARKERS = ["/work", "/tmp", "/home", "/usr", "/build", "C:\\", "\\\\"]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def build(cmake, source, binary, forms):
    """The image of each form, built from scratch in `binary`."""
    for args in (["-S", source, "-B", binary, "-G", "Ninja"], ["--build", binary]):
        run = subprocess.run([cmake, *args], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"cmake {' '.join(args)} failed:\n{run.stdout}{run.stderr}")
    return {form: read(os.path.join(binary, f"kurd-{form}", "Kurd.dll")) for form in forms}


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


def main(source, manifest, cmake):
    source = os.path.abspath(source)
    with open(manifest, encoding="utf-8") as f:
        project_paths = dict(line.split(" ", 1) for line in f.read().splitlines())
    with tempfile.TemporaryDirectory(prefix="kurd-repro-") as scratch:
        first_dir = os.path.join(scratch, "a")
        second_dir = os.path.join(scratch, "second", "deeper", "build")
        first = build(cmake, source, first_dir, project_paths)
        second = build(cmake, source, second_dir, project_paths)
        failures = []
        for form, project_path in project_paths.items():
            project = read(project_path)
            markers = PATH_MARKERS + [source, first_dir, second_dir, os.path.dirname(project_path)]
            if first[form] != second[form]:
                failures.append(f"{form}: two clean builds differ: "
                                + first_difference(first[form], second[form]))
            if first[form] != project:
                failures.append(f"{form}: {project_path} differs from a clean build: "
                                + first_difference(first[form], project))
            for name, image in (("clean build", first[form]), (project_path, project)):
                failures += [f"{form}: {name} holds the path {leak}"
                             for leak in leaked_paths(image, markers)]
    for failure in failures:
        print("FAIL", failure)
    if not failures:
        print("reproducible, no paths: "
              + ", ".join(f"{form} {len(image)} bytes" for form, image in first.items()))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
