#!/usr/bin/python3
"""The kbdcheck command line: exit codes, messages, --json agreeing with
--dump line for line, and the form of every built image found or forced.

Usage: kbdcheck_cli.py <kbdcheck> <kurd-images.txt> <scratch dir>
"""
import json
import os
import subprocess
import sys
import unicodedata

import pefile

failures = []


def expect(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, want {expected!r}")


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def writable_copy(dll, path, section_name=None, replacements=()):
    """Kurd.dll with its first section marked writable (and renamed, if a
    name is given), the byte strings in `replacements` replaced, and its
    checksum made good."""
    with open(dll, "rb") as f:
        data = f.read()
    for old, new in replacements:
        assert data.count(old) == 1 and len(new) == len(old), old
        data = data.replace(old, new)
    pe = pefile.PE(data=data)
    pe.sections[0].Characteristics |= 0x80000000
    if section_name is not None:
        pe.sections[0].Name = section_name.ljust(8, b"\0")
    pe.OPTIONAL_HEADER.CheckSum = 0
    pe.write(path)
    pe = pefile.PE(path)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    pe.write(path)
    return path


def section(dump, title, next_title):
    lines = dump.splitlines()
    start = lines.index(title) + 1
    end = lines.index(next_title) if next_title else len(lines)
    return lines[start:end]


def characters_text(characters):
    return " + ".join(c["code"] + (" " + c["name"] if c["name"] else "") for c in characters)


def column_text(column):
    return {
        "characters": characters_text(column["characters"]),
        "dead": "dead key " + characters_text(column["characters"]) if column["characters"]
                else "dead key (0xF001), no second row",
        "missing-ligature": "ligature row missing (0xF002)",
        "none": "none",
    }[column["outcome"]]


def dump_from_json(layout):
    """The keys, tables, ligatures and key names sections as the text dump
    must show them, rebuilt from the JSON."""
    tables = []
    for number, table in enumerate(layout["tables"], 1):
        tables.append(f"  table {number}: {table['columns']} columns, {table['rowSize']} bytes per row, "
                      f"{len(table['rows'])} rows at RVA 0x{table['rva']:X}")
        for row in table["rows"]:
            cells = " ".join(f"{cell:04X}" for cell in row["cells"])
            tables.append(f"    {row['vkName']} attributes 0x{row['attributes']:02X}: {cells}")
    keys = []
    for key in layout["keys"]:
        line = f"  {key['prefix']} {key['scanCode']:02X} {key['value']:04X} {key['vkName']}"
        line += "".join(" " + flag for flag in key["flags"])
        if key["keyName"] is not None:
            line += f' "{key["keyName"]}"'
        keys.append(line)
        for column in key["columns"]:
            keys.append(f"      {column['label']} (column {column['column']}): {column_text(column)}")
    ligatures = [f"  {row['vkName']} column {row['column']}: {characters_text(row['characters'])}"
                 for row in layout["ligatures"]]
    names = [f'  -- {n["scanCode"]:02X} "{n["text"]}"' for n in layout["keyNames"]]
    names += [f'  E0 {n["scanCode"]:02X} "{n["text"]}"' for n in layout["keyNamesExt"]]
    return tables, keys, ligatures, names


def resources_from_json(resources):
    lines = []
    for version in resources["versions"]:
        fixed = version["fixed"]
        lines.append(f"  version {version['id']} language 0x{version['language']:04X}: "
                     f"file {fixed['fileVersion']}, product {fixed['productVersion']}, "
                     f"flags mask 0x{fixed['flagsMask']:X}, flags 0x{fixed['flags']:X}, "
                     f"OS 0x{fixed['os']:08X}, type {fixed['type']}, subtype {fixed['subtype']}")
        for table in version["stringTables"]:
            lines += [f'    {table["key"]} {key} = "{value}"' for key, value in table["values"]]
        for var in version["vars"]:
            lines.append(f"    {var['key']} =" + "".join(f" 0x{word:04X}" for word in var["words"]))
    lines += [f'  string {s["id"]} language 0x{s["language"]:04X}: "{s["text"]}"' for s in resources["strings"]]
    return lines


def read_manifest(path):
    """{form: image path} from the build's "<form> <path>" lines."""
    with open(path) as f:
        return dict(line.rstrip("\n").split(" ", 1) for line in f if line.strip())


def check_forms(tool, images):
    """Each image is clean, --dump and --json name its form, and forcing
    another form is refused on stderr with status 2."""
    for form, image in images.items():
        status, out, _ = run(tool, image)
        expect(f"{form}: exit status", (status, out), (0, f"{image}: no findings\n"))
        status, dump, _ = run(tool, "--dump", image)
        form_line = next((line for line in dump.splitlines() if line.startswith("  form ")), None)
        expect(f"{form}: --dump names the form", (form_line or "").startswith(f"  form {form}: "), True)
        expect(f"{form}: --dump says it was detected", (form_line or "").endswith("detected from the image"), True)
        status, out, _ = run(tool, "--json", image)
        found = json.loads(out)["layout"]["form"]
        expect(f"{form}: --json form", (found["name"], found["detected"]), (form, True))
        status, out, _ = run(tool, "--form", form, "--json", image)
        expect(f"{form}: forced to itself", (status, json.loads(out)["layout"]["form"]["detected"]), (0, False))
        for other in images:
            if other == form:
                continue
            status, out, err = run(tool, "--form", other, image)
            expect(f"{form} forced to {other}: exit status", status, 2)
            expect(f"{form} forced to {other}: message ({err.strip()!r})",
                   f"not a readable layout library in the {other} form: " in err, True)
            expect(f"{form} forced to {other}: nothing on stdout", out, "")


def main(tool, manifest, scratch):
    os.makedirs(scratch, exist_ok=True)
    images = read_manifest(manifest)
    dll = images["x64"]
    check_forms(tool, images)

    status, out, _ = run(tool, "--help")
    expect("--help exit status", status, 0)
    expect("--help prints the usage", out.startswith("usage: kbdcheck"), True)

    status, out, _ = run(tool, dll)
    expect("clean library: exit status", status, 0)
    expect("clean library: output", out, f"{dll}: no findings\n")

    damaged = writable_copy(dll, os.path.join(scratch, "writable.dll"))
    status, out, _ = run(tool, damaged)
    expect("writable section: exit status", status, 1)
    expect("writable section: finding", out.startswith(f"{damaged}: section.writable: section .data"), True)
    status, out, _ = run(tool, "--json", damaged)
    expect("writable section: JSON findings",
           [(f["code"], f["severity"], f["where"]) for f in json.loads(out)["findings"]],
           [("section.writable", "error", "section .data Characteristics")])

    # Quotes, backslashes, control characters and bytes that are not UTF-8,
    # in the file's name, in a section name (through a finding) and in a key
    # name: --json must stay JSON a real parser reads back to the same text,
    # with U+FFFD for each ill-formed sequence, as Python's decoder has it.
    odd = b'"\\\x01\x1f\xff\t\n'
    odd_name = odd + b" \xd9\x84 \xf0\x9f\x98\x80 \xc0\xaf \xed\xa0\x80 \xe2\x82. \xf4\x90\x80\x80 \xe0\x80"
    odd_copy = writable_copy(dll, os.path.join(os.fsencode(scratch), odd_name + b".dll"),
                             section_name=b"." + odd[:6],
                             replacements=[("Esc\0".encode("utf-16-le"), '"\\\x1f\0'.encode("utf-16-le"))])
    done = subprocess.run([os.fsencode(tool), b"--json", odd_copy], capture_output=True)
    expect("odd names: --json exit status", done.returncode, 1)
    try:
        report = json.loads(done.stdout.decode("utf-8"))
    except ValueError as error:
        failures.append(f"odd names: --json is not JSON in UTF-8: {error}")
    else:
        expect("odd names: file", report["file"], odd_copy.decode("utf-8", "replace"))
        expect("odd names: finding", [(f["code"], f["where"]) for f in report["findings"]],
               [("section.writable", "section ." + odd[:6].decode("utf-8", "replace") + " Characteristics")])
        expect("odd names: key name", [n["text"] for n in report["layout"]["keyNames"] if n["scanCode"] == 1],
               ['"\\\x1f'])

    text_file = os.path.join(scratch, "notes.txt")
    with open(text_file, "w") as f:
        f.write("not a library\n")
    unreadable = [
        ("missing file", [os.path.join(scratch, "absent.dll")], "cannot open"),
        ("a folder", [scratch], "is not a regular file"),
        ("a folder, dumped as JSON", ["--json", "--dump", scratch], "is not a regular file"),
        ("text file", [text_file], "not a readable layout library"),
        ("no file", [], "no file given"),
        ("unknown option", ["--frobnicate", dll], "unknown option --frobnicate"),
        ("unknown form", ["--form", "ia64", dll], "unknown form ia64"),
        ("form missing", ["--form"], "--form needs a form"),
    ]
    for name, args, message in unreadable:
        status, out, err = run(tool, *args)
        expect(f"{name}: exit status", status, 2)
        expect(f"{name}: message on stderr ({err.strip()!r})", message in err, True)
        expect(f"{name}: nothing on stdout", out, "")

    status, dump, _ = run(tool, "--dump", dll)
    expect("--dump exit status", status, 0)
    status, out, _ = run(tool, "--json", dll)
    expect("--json exit status", status, 0)
    report = json.loads(out)
    expect("JSON file size", report["size"], os.path.getsize(dll))
    expect("JSON findings", report["findings"], [])
    layout = report["layout"]
    tables, keys, ligatures, names = dump_from_json(layout)
    expect("character tables: --dump against --json",
           section(dump, "character tables, searched in this order", "keys"), tables)
    expect("keys: --dump against --json", section(dump, "keys", "ligatures"), keys)
    expect("ligatures: --dump against --json", section(dump, "ligatures", "key names"), ligatures)
    expect("key names: --dump against --json", section(dump, "key names", "resources"), names)
    expect("resources: --dump against --json", section(dump, "resources", None),
           resources_from_json(report["resources"]))

    # The built-in character names must be the Unicode names (controls have
    # none and carry their aliases instead).
    named = {c["code"]: c["name"] for key in layout["keys"] for column in key["columns"]
             for c in column["characters"]}
    for code, name in sorted(named.items()):
        char = chr(int(code[2:], 16))
        if unicodedata.category(char) == "Cc":
            expect(f"{code} has a name", name is not None, True)
        else:
            expect(f"name of {code}", name, unicodedata.name(char))

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
