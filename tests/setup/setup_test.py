#!/usr/bin/python3
"""End-to-end tests of the installer under Wine.

    setup_test.py --runner RUN --x86-test X86_TEST --dist DIST --version VERSION
                  --next-installer EXE --windows DIR --stubs DIR
                  --import-libraries FILE --work DIR CASE

Every case runs the 32-bit installer in prefixes of its own (clones of the
runner's pristine 64-bit prefix, or a fresh 32-bit prefix) and compares the
prefix before and after: the registry keys the installer may touch (the
layouts, the restart schedule, its Programs and Features entry and journal,
the user's layout list and the welcome screen's (HKDEF, HKEY_USERS\.DEFAULT):
RELEVANT_KEYS; what Wine itself rewrites as it runs is not the installer's
and is not compared), and the digest of every file under System32, SysWOW64
and both Program Files folders. It ignores keys that every Windows has but a
new Wine prefix lacks, when they are empty: the parents of the layout keys
and of the substitutes (TOLERATED_EMPTY_KEYS).
A restart is the prefix's server ended and booted again, which carries out
the restart schedule; a crash is the installer's own process killed.

Wine reports a program's Windows exit code as the low 8 bits of its Unix
exit status; the installer's codes stay distinct there (0, 5, 87, 1603 as
67, 1618 as 82, 1638 as 102, 3010 as 194). EXE is the installer built one
version on, which no one ships.

Exit status: 0 passed, 1 failed (each failure names the case, the row and
what was expected and seen), 77 skipped (with the reason printed).
"""
import argparse
import hashlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import zipfile

import pefile

SKIPPED = 77

LAYOUTS = r"system\currentcontrolset\control\keyboard layouts"
SESSION_MANAGER = r"system\currentcontrolset\control\session manager"
UNINSTALL = r"software\microsoft\windows\currentversion\uninstall\kurdkeyboardlayout"
PRELOAD = r"keyboard layout\preload"
SUBSTITUTES = r"keyboard layout\substitutes"
JOURNAL = r"software\kurdkeyboardlayoutjournal"
WAITING = r"software\kurdkeyboardlayoutwaiting"
PROFILE_LIST = r"software\microsoft\windows nt\currentversion\profilelist"
TOLERATED_EMPTY_KEYS = {("HKLM", LAYOUTS), ("HKCU", SUBSTITUTES), ("HKDEF", SUBSTITUTES)}
# The keys, with everything below them, that the installer may change; of
# the session manager's key only the restart schedule.
RELEVANT_KEYS = {"HKLM": (LAYOUTS, UNINSTALL, JOURNAL, WAITING), "HKCU": (r"keyboard layout",),
                 "HKDEF": (r"keyboard layout",)}
RELEVANT_VALUES = {("HKLM", SESSION_MANAGER): "pendingfilerenameoperations"}

PRODUCT = "Central Kurdish Keyboard Layout"
DISPLAY_NAME = r"@%SystemRoot%\system32\Kurd.dll,-1000"
INSTALL_PROFILE = "2c01:{klid}"
ILOT_UNINSTALL = 0x00000001

# Kurdish letters and spaces in a folder name: REH WITH SMALL V BELOW,
# LAM WITH SMALL V, OE, YEH WITH SMALL V, then KEHEH, WAW, REH, DAL,
# FARSI YEH ("Kurdish").
KURDISH_FOLDER = "\u0695\u06b5\u06c6\u06ce \u06a9\u0648\u0631\u062f\u06cc download"

# Planted beside the installer: every library it imports that is not on the
# list of libraries Windows takes from the system folder alone
# (win32/import_libraries.txt), and these.
ALWAYS_PLANTED = {"version", "input", "cabinet", "wtsapi32"}
# Wine's own user32 imports version.dll (Windows' does not): preferring a
# native version.dll would load the planted one into every Wine process
# before the installer's first instruction. The others are preferred native,
# so a search that looked beside the installer would find the planted copy.
NOT_PREFERRED_NATIVE = {"version"}


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# ------------------------------------------------------------- registry


def unescape(text):
    """A string as Wine writes it in a registry file."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        following = text[i + 1]
        if following == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:]).group(0)
            out.append(chr(int(digits, 16)))
            i += 2 + len(digits)
            continue
        out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(following, following))
        i += 2
    return "".join(out)


def quoted_end(text, start):
    """Index of the quote that closes the string opening at text[start]."""
    i = start + 1
    while text[i] != '"':
        i += 2 if text[i] == "\\" else 1
    return i


def decode(data):
    """(type, value) of a value's data as written in a registry file."""
    if data.startswith('"'):
        return ("sz", unescape(data[1:-1]))
    if data.startswith('str(2):"'):
        return ("expand_sz", unescape(data[8:-1]))
    if data.startswith('str(7):"'):
        return ("multi_sz", unescape(data[8:-1]).rstrip("\0").split("\0"))
    if data.startswith("dword:"):
        return ("dword", int(data[6:], 16))
    if data.startswith("hex(7):"):
        raw = bytes(int(b, 16) for b in data[7:].replace("\\", "").replace(" ", "").split(",") if b)
        return ("multi_sz", raw.decode("utf-16-le").rstrip("\0").split("\0"))
    return ("raw", data)


def read_registry(path):
    """{key: {value name: (type, value)}} of a Wine registry file, keys and
    names in lower case ("" for a key's default value)."""
    keys, values = {}, None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines) and lines[i].startswith("  "):
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("["):
            name = line[1:line.rindex("]")]
            values = keys.setdefault(unescape(name).lower(), {})
        elif values is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, data = "", line[2:]
            else:
                end = quoted_end(line, 0)
                name, data = unescape(line[1:end]), line[end + 2:]
            values[name.lower()] = decode(data)
    # Wine writes a key that has subkeys only when it has values too: add
    # the others, so that a key's existence does not hang on its subkeys.
    for key in list(keys):
        while "\\" in key:
            key = key.rsplit("\\", 1)[0]
            keys.setdefault(key, {})
    return keys


# ---------------------------------------------------------------- files

# Digests by (device, inode, size, mtime, ctime): a file that none of these
# changed for is not read again (ctime moves on every write).
digest_cache = {}


def digests(root, folders):
    """{path under root, lower case: sha256} of every file in the folders."""
    found = {}
    for folder in folders:
        top = os.path.join(root, folder)
        for where, _, files in os.walk(top):
            for name in files:
                path = os.path.join(where, name)
                st = os.lstat(path)
                key = (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
                if key not in digest_cache:
                    digest_cache[key] = sha256(path) if os.path.isfile(path) else "link"
                found[os.path.relpath(path, root).lower()] = digest_cache[key]
    return found


class Snapshot:
    def __init__(self, prefix):
        self.registry = {"HKLM": read_registry(os.path.join(prefix.path, "system.reg")),
                         "HKCU": read_registry(os.path.join(prefix.path, "user.reg")),
                         "HKDEF": read_registry(os.path.join(prefix.path, "userdef.reg"))}
        self.files = digests(os.path.join(prefix.path, "drive_c"), prefix.folders)

    def value(self, hive, key, name):
        return self.registry[hive].get(key, {}).get(name)


def changes(before, after):
    """{(hive, key, name): new (type, value), or None if removed} and
    {("file", path, None): new digest or None}; a key added or removed
    with no values appears as (hive, key, None)."""
    found = {}
    for hive in RELEVANT_KEYS:
        old, new = before.registry[hive], after.registry[hive]
        for key in old.keys() | new.keys():
            only = RELEVANT_VALUES.get((hive, key))
            if not only and not any(key == k or key.startswith(k + "\\") for k in RELEVANT_KEYS[hive]):
                continue
            if not only and (key in old) != (key in new) and not (old.get(key) or new.get(key)):
                if (hive, key) not in TOLERATED_EMPTY_KEYS:
                    found[(hive, key, None)] = "empty key" if key in new else None
                continue
            a, b = old.get(key, {}), new.get(key, {})
            for name in a.keys() | b.keys():
                if (not only or name == only) and a.get(name) != b.get(name):
                    found[(hive, key, name)] = b.get(name)
    for path in before.files.keys() | after.files.keys():
        if before.files.get(path) != after.files.get(path):
            found[("file", path, None)] = after.files.get(path)
    return found


class Matches:
    """An expected value known by a property rather than exactly."""

    def __init__(self, description, test):
        self.description, self.test = description, test

    def __eq__(self, other):
        return self.test(other)

    def __repr__(self):
        return self.description


def item_name(item):
    hive, key, name = item
    return f"{hive}\\{key}" + ("" if name is None else f" [{name or '(default)'}]")


# ---------------------------------------------------------------- prefixes


class Prefix:
    """A prefix of the case's own: a clone of the pristine 64-bit prefix,
    or a fresh 32-bit one."""

    def __init__(self, case, name, bits=64):
        self.case, self.bits = case, bits
        self.path = os.path.join(case.work, name)
        # The kept copy goes to the native Program Files folder.
        self.program_files = "Program Files"
        if bits == 64:
            self.folders = ["windows/system32", "windows/syswow64", "Program Files", "Program Files (x86)"]
            # The installer is a 32-bit program: here it runs through WoW64.
            case.tool([case.args.runner, "wow64"])
            case.tool([case.args.runner, "clone", self.path])
        else:
            self.folders = ["windows/system32", "Program Files"]
            case.tool([case.args.x86_test, "prefix", self.path], timeout=300)
            # Wine's first start after the prefix is made rewrites keys of its
            # own (it drops the empty NetworkCards key): start once before
            # any snapshot.
            self.run("cmd", "/c", "exit")
        self.system32 = os.path.join(self.path, "drive_c/windows/system32")
        self.syswow64 = os.path.join(self.path, "drive_c/windows/syswow64")
        # The system folder the 32-bit installer sees.
        self.installer_system = self.syswow64 if bits == 64 else self.system32
        self.kept_copy = os.path.join(self.program_files, PRODUCT, "setup.exe")

    def command(self, program, args, gui=False, timeout=120):
        if self.bits == 64:
            return [self.case.args.runner, "exec", "--timeout", str(timeout)] + (["--gui"] if gui else []) \
                + [program, *args]
        return [self.case.args.x86_test, "exec-in", self.path, program, *args]

    def environment(self, env):
        environment = dict(os.environ, **(env or {}))
        if self.bits == 64:
            environment["WINETEST_PREFIX"] = self.path
        return environment

    def run(self, program, *args, env=None, gui=False, timeout=120):
        """Runs a Windows program here; its exit status."""
        command = self.command(program, args, gui, timeout)
        began = time.monotonic()
        done = subprocess.run(command, env=self.environment(env), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace", timeout=timeout + 60)
        print(f"$ {' '.join(args)}  ->  {done.returncode} ({time.monotonic() - began:.1f} s)")
        if done.stdout.strip():
            print(done.stdout.rstrip()[-3000:])
        return done.returncode

    def start(self, program, *args):
        """Starts a Windows program here and leaves it running."""
        return subprocess.Popen(self.command(program, args), env=self.environment(None),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.bits == 64:
            self.case.tool([self.case.args.runner, "stop"], env=self.environment(None))
        else:
            self.case.tool([self.case.args.x86_test, "stop", self.path])

    def snapshot(self):
        self.stop()
        return Snapshot(self)

    def remove(self):
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)


# ---------------------------------------------------------------- cases


class Case:
    def __init__(self, args, name):
        self.args, self.name = args, name
        self.failures = []
        self.work = os.path.join(args.work, name)
        # An earlier run stopped between the failure rows' chattr +i and -i.
        for folder in ("system32", "syswow64"):
            path = os.path.join(self.work, "prefix/drive_c/windows", folder)
            if os.path.isdir(path):
                set_immutable(path, False)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.installer = os.path.join(args.dist, "setup8.exe")
        image = pefile.PE(os.path.join(args.dist, "Kurd.dll"))
        self.layout_text = layout_string(image, 1000)
        self.images = {"x64": os.path.join(args.dist, "Kurd.dll"),
                       "wow64": os.path.join(args.dist, "wow64", "Kurd.dll"),
                       "x86": os.path.join(args.dist, "x86", "Kurd.dll")}

    def check(self, condition, expected, seen):
        if not condition:
            self.failures.append(f"{self.name}: expected {expected}; saw {seen}")
        return condition

    def tool(self, command, env=None, timeout=120):
        done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              errors="replace", timeout=timeout)
        if done.returncode == SKIPPED:
            print(done.stdout)
            raise Skip(done.stdout.strip())
        if done.returncode != 0:
            raise SystemExit(f"{self.name}: {' '.join(command)} failed ({done.returncode}): {done.stdout}")

    def check_exit(self, status, code, row):
        self.check(status == code & 0xFF, f"exit code {code} (status {code & 0xFF}) for {row}",
                   f"status {status}")

    def check_changes(self, row, before, after, expected):
        """The prefix changed in exactly the expected items, to the expected
        values (None: removed); whether it did."""
        failures = len(self.failures)
        seen = changes(before, after)
        for item in sorted(seen.keys() | expected.keys(), key=lambda i: tuple(str(p) for p in i)):
            if item not in expected:
                self.failures.append(f"{self.name}, {row}: {item_name(item)} changed unexpectedly to "
                                     f"{seen[item]!r} (was {value_of(before, item)!r})")
            elif item not in seen:
                self.failures.append(f"{self.name}, {row}: expected {item_name(item)} = {expected[item]!r}; "
                                     f"unchanged ({value_of(before, item)!r})")
            elif not expected[item] == seen[item]:
                self.failures.append(f"{self.name}, {row}: expected {item_name(item)} = {expected[item]!r}; "
                                     f"saw {seen[item]!r}")
        return len(self.failures) == failures

    def installed(self, prefix, klid, installer, preload=None, system32_image="x64"):
        """What an install adds: the images, the layout key, the Programs
        and Features entry and its kept copy, and, for the Preload path,
        preload = (Preload value name, substitute id)."""
        kept = f"{prefix.program_files}\\{PRODUCT}\\setup.exe"
        images = [self.images[system32_image]] + ([self.images["wow64"]] if prefix.bits == 64 else [])
        kib = (os.path.getsize(installer) // 1024, -(-sum(map(os.path.getsize, [installer, *images])) // 1024))
        expected = {
            ("file", "windows/system32/kurd.dll", None): sha256(self.images[system32_image]),
            ("file", prefix.kept_copy.lower(), None): sha256(installer),
            ("HKLM", f"{LAYOUTS}\\{klid}", "layout file"): ("sz", "Kurd.dll"),
            ("HKLM", f"{LAYOUTS}\\{klid}", "layout text"): ("sz", self.layout_text),
            ("HKLM", f"{LAYOUTS}\\{klid}", "layout display name"): ("expand_sz", DISPLAY_NAME),
            ("HKLM", f"{LAYOUTS}\\{klid}", "layout id"): Matches(
                "four hex digits", lambda v: v[0] == "sz" and re.fullmatch(r"[0-9A-Fa-f]{4}", v[1])),
            ("HKLM", UNINSTALL, "displayname"): ("sz", PRODUCT),
            ("HKLM", UNINSTALL, "displayversion"): ("sz", self.args.version),
            ("HKLM", UNINSTALL, "publisher"): ("sz", "Central Kurdish Keyboard Layout Team"),
            ("HKLM", UNINSTALL, "displayicon"): Matches(
                f"the kept copy {kept},0", lambda v: v[0] == "sz" and v[1].replace('"', "") == f"C:\\{kept},0"),
            ("HKLM", UNINSTALL, "estimatedsize"): Matches(
                f"a DWORD from {kib[0]} (the kept copy) to {kib[1]} (every file installed) KiB",
                lambda v: v[0] == "dword" and kib[0] <= v[1] <= kib[1]),
            ("HKLM", UNINSTALL, "uninstallstring"): ("sz", f'"C:\\{kept}" /uninstall'),
            ("HKLM", UNINSTALL, "nomodify"): ("dword", 1),
            ("HKLM", UNINSTALL, "norepair"): ("dword", 1),
        }
        if prefix.bits == 64:
            expected[("file", "windows/syswow64/kurd.dll", None)] = sha256(self.images["wow64"])
        if preload:
            number, substitute = preload
            expected[("HKCU", PRELOAD, number)] = ("sz", substitute)
            expected[("HKCU", SUBSTITUTES, substitute)] = ("sz", klid)
        return expected

    def check_layout_ids_unique(self, snapshot, row):
        ids = {}
        for key, values in snapshot.registry["HKLM"].items():
            if key.startswith(LAYOUTS + "\\") and "layout id" in values:
                ids.setdefault(values["layout id"][1].lower(), []).append(key.rsplit("\\", 1)[1])
        shared = {i: k for i, k in ids.items() if len(k) > 1}
        self.check(not shared, f"every Layout Id used by one layout only ({row})", shared)


class Skip(Exception):
    pass


def value_of(snapshot, item):
    hive, key, name = item
    if hive == "file":
        return snapshot.files.get(key)
    return snapshot.value(hive, key, name) if name is not None else (key in snapshot.registry[hive])


def layout_string(image, number):
    """String resource `number` of a PE image."""
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for block in kind.directory.entries:
            if block.id != number // 16 + 1:
                continue
            entry = block.directory.entries[0]
            data = image.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)
            offset = 0
            for index in range(16):
                length = int.from_bytes(data[offset:offset + 2], "little")
                text = data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
                if index == number % 16:
                    return text
                offset += 2 + 2 * length
    raise SystemExit(f"no string {number} in the layout image")


def copy_installer(case, folder, name="setup8.exe"):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    shutil.copy(case.installer, path)
    return path


def case_install(case):
    """setup8.exe /admin /quiet in a 64-bit prefix, started from a folder
    that also holds planted DLLs; a second run; /uninstall; a later install."""
    prefix = Prefix(case, "prefix")
    before = prefix.snapshot()
    folder = os.path.join(case.work, "download")
    installer = copy_installer(case, folder)
    planted = plant_dlls(case, folder, installer)
    planted_log = os.path.join(case.work, "planted.log")
    step_log = os.path.join(case.work, "install.log")
    # /log adds to a file: what is in it stays.
    earlier = "a line the file held before\r\n"
    with open(step_log, "w", encoding="utf-8", newline="") as f:
        f.write(earlier)
    status = prefix.run(windows_path(installer), "/admin", "/quiet", "/log", windows_path(step_log),
                        env={"PLANTED_DLL_LOG": windows_path(planted_log),
                             "WINETEST_DLLOVERRIDES": ",".join(sorted(planted - NOT_PREFERRED_NATIVE)) + "=n,b"})
    case.check_exit(status, 0, "the first install")
    loaded = open(planted_log, encoding="utf-8").read().splitlines() if os.path.exists(planted_log) else []
    case.check(loaded == [], f"none of the DLLs planted beside the installer ({', '.join(sorted(planted))}) loaded",
               loaded)
    check_step_log(case, step_log)
    with open(step_log, encoding="utf-8", newline="") as f:
        kept = f.read(len(earlier))
    case.check(kept == earlier, "the /log file's earlier content kept, the steps added after it", repr(kept))
    installed = prefix.snapshot()
    expected = case.installed(prefix, "a0002c01", installer, preload=("2", "d0002c01"))
    case.check_changes("the first install", before, installed, expected)
    case.check_layout_ids_unique(installed, "the first install")

    rows = [("a second install", ["/admin", "/quiet"], installed, {}),
            ("/uninstall", ["/uninstall", "/quiet"], before, {}),
            ("an install after the uninstall", ["/admin", "/quiet"], before, expected)]
    for row, args, reference, row_expected in rows:
        status = prefix.run(windows_path(case.installer), *args)
        case.check_exit(status, 0, row)
        case.check_changes(row, reference, prefix.snapshot(), row_expected)
    prefix.remove()


def plant_dlls(case, folder, installer):
    """Copies of the planted DLL under the name of every library the
    installer imports that Windows would look for beside it, and of
    version.dll, input.dll and cabinet.dll; their base names."""
    image = pefile.PE(installer)
    imported = {entry.dll.decode().lower().removesuffix(".dll") for entry in image.DIRECTORY_ENTRY_IMPORT}
    with open(case.args.import_libraries, encoding="utf-8") as listing:
        system_only = {line.split()[0].lower().removesuffix(".dll") for line in listing
                       if line.strip() and not line.startswith("#")}
    names = (imported - system_only) | ALWAYS_PLANTED
    for name in names:
        shutil.copy(os.path.join(case.args.stubs, "planted.dll"), os.path.join(folder, name + ".dll"))
    print(f"imports: {', '.join(sorted(imported))}; planted: {', '.join(sorted(names))}")
    return names


def check_step_log(case, path):
    """/log: UTF-8 text, a line for each step of the install."""
    if not case.check(os.path.exists(path), "the /log file written", "no file"):
        return
    raw = open(path, "rb").read()
    try:
        lines = [line for line in raw.decode("utf-8").splitlines() if line.strip()]
    except UnicodeDecodeError as error:
        case.check(False, "the /log file in UTF-8", error)
        return
    for step in ("System32\\Kurd.dll", "SysWOW64\\Kurd.dll", "Keyboard Layouts\\a0002c01",
                 "Uninstall\\KurdKeyboardLayout", "Preload"):
        case.check(any(step.lower() in line.lower() for line in lines), f"a line of the /log file naming {step}",
                   lines)


def case_foreign_layout(case):
    """Another layout at a0002c01 with its own substitute and Preload
    entries: ours takes a0012c01 and d0012c01, theirs stay as they were;
    the uninstall command from Programs and Features (the kept copy)
    restores everything."""
    prefix = Prefix(case, "prefix")
    setup_reg = os.path.join(case.work, "foreign.reg")
    with open(setup_reg, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                f"[HKEY_LOCAL_MACHINE\\{LAYOUTS}\\a0002c01]\r\n"
                '"Layout File"="KBDFOREIGN.DLL"\r\n"Layout Text"="Another layout"\r\n'
                '"Layout Id"="00c0"\r\n\r\n'
                f"[HKEY_CURRENT_USER\\{PRELOAD}]\r\n"
                '"1"="00000409"\r\n"2"="d0002c01"\r\n"3"="00000401"\r\n\r\n'
                f"[HKEY_CURRENT_USER\\{SUBSTITUTES}]\r\n"
                '"d0002c01"="a0002c01"\r\n')
    case.check_exit(prefix.run("regedit", "/S", windows_path(setup_reg)), 0, "importing the foreign layout")
    before = prefix.snapshot()
    case.check(before.value("HKLM", f"{LAYOUTS}\\a0002c01", "layout id") == ("sz", "00c0"),
               "the foreign layout in place before the install", before.registry["HKLM"].get(f"{LAYOUTS}\\a0002c01"))

    status = prefix.run(windows_path(case.installer), "/admin", "/quiet")
    case.check_exit(status, 0, "an install beside the foreign layout")
    installed = prefix.snapshot()
    installed_copy = os.path.join(prefix.path, "drive_c", prefix.kept_copy)
    case.check_changes("an install beside the foreign layout", before, installed,
                       case.installed(prefix, "a0012c01", case.installer, preload=("4", "d0012c01")))
    case.check_layout_ids_unique(installed, "an install beside the foreign layout")

    uninstall = installed.value("HKLM", UNINSTALL, "uninstallstring")
    if case.check(uninstall and uninstall[1].endswith(" /uninstall") and os.path.exists(installed_copy),
                  "an UninstallString running the kept copy", uninstall):
        row = "the UninstallString with /quiet"
        status = prefix.run(uninstall[1][:-len(" /uninstall")].strip('"'), "/uninstall", "/quiet")
        after = prefix.snapshot()
        case.check_exit(status, 0, row)
        # A running program cannot delete itself: the kept copy is moved
        # aside in its folder, and the copy and then the folder are deleted
        # at the next restart, which nothing waits for.
        pending = after.value("HKLM", SESSION_MANAGER, "pendingfilerenameoperations")
        folder = f"\\??\\C:\\{prefix.program_files}\\{PRODUCT}"
        pairs = pending_pairs(pending)
        aside = pairs[0][0] if pairs else ""
        expected = {
            ("HKLM", SESSION_MANAGER, "pendingfilerenameoperations"): Matches(
                "the kept copy moved aside in its folder, then the folder, deleted at the restart",
                lambda v: len(pairs) == 2 and re.fullmatch(re.escape(folder + "\\setup.exe.") + r"[0-9a-f]{8}\.old",
                                                           aside, re.I)
                and pairs[0][1] == "" and pairs[1] == (folder, "")),
        }
        if aside:
            expected[("file", aside[len("\\??\\C:\\"):].replace("\\", "/").lower(), None)] = sha256(case.installer)
        case.check_changes(row, before, after, expected)
        restart(prefix)
        case.check_changes(f"{row}, after a restart", before, prefix.snapshot(), {})

    # Another maker's Kurd.dll takes ours' place: the keys that name
    # Kurd.dll load it now, and an uninstall leaves them and their places
    # in the user's list.
    case.check_exit(prefix.run(windows_path(case.installer), "/admin", "/quiet"), 0, "installed again")
    installed = prefix.snapshot()
    foreign = os.path.join(prefix.system32, "version.dll")
    shutil.copy(foreign, os.path.join(prefix.system32, "Kurd.dll"))
    row = "an uninstall after another maker's Kurd.dll took ours' place"
    case.check_exit(prefix.run(windows_path(case.installer), "/uninstall", "/quiet"), 0, row)
    kept = (f"{LAYOUTS}\\a0012c01", PRELOAD, SUBSTITUTES)
    expected = {item: None for item in case.installed(prefix, "a0012c01", case.installer, preload=("4", "d0012c01"))
                if item[1] not in kept}
    expected[("file", "windows/system32/kurd.dll", None)] = sha256(foreign)
    case.check_changes(row, installed, prefix.snapshot(), expected)
    prefix.remove()


def case_x86_prefix(case):
    """A 32-bit prefix: the x86 image in System32 and nothing else; the
    uninstall restores it."""
    prefix = Prefix(case, "prefix", bits=32)
    before = prefix.snapshot()
    status = prefix.run(windows_path(case.installer), "/admin", "/quiet")
    case.check_exit(status, 0, "an install on 32-bit Windows")
    case.check_changes("an install on 32-bit Windows", before, prefix.snapshot(),
                       case.installed(prefix, "a0002c01", case.installer, preload=("2", "d0002c01"),
                                      system32_image="x86"))
    status = prefix.run(windows_path(case.installer), "/uninstall", "/quiet")
    case.check_exit(status, 0, "an uninstall on 32-bit Windows")
    case.check_changes("an uninstall on 32-bit Windows", before, prefix.snapshot(), {})
    prefix.remove()


def flipped_payload(case, eighths):
    """A copy of the installer with one byte flipped `eighths` eighths of
    the way into its packed layout images."""
    image = pefile.PE(case.installer)
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in kind.directory.entries:
            if str(entry.name or "").upper() != "KURD_IMAGES":
                continue
            data = entry.directory.entries[0].data.struct
            offset = image.get_offset_from_rva(data.OffsetToData) + data.Size * eighths // 8
            content = bytearray(open(case.installer, "rb").read())
            content[offset] ^= 0x01
            path = os.path.join(case.work, f"flipped at {eighths} eighths", "setup8.exe")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").write(content)
            return path
    raise SystemExit(f"no resource KURD_IMAGES in {case.installer}")


def case_failures(case):
    """Each failure gives its exit code and leaves the registry and the
    system folders as they were before it, with only the planted file
    added. The rows share one prefix and one starting state: a row that
    leaves something behind fails, and so do the rows after it."""
    prefix = Prefix(case, "prefix")
    installer = windows_path(case.installer)
    wine_dll = os.path.join(prefix.system32, "version.dll")
    not_a_dll = os.path.join(case.work, "notes.txt")
    with open(not_a_dll, "w") as f:
        f.write("not a layout\n")
    install = [installer, "/admin", "/quiet"]
    # (row, system folder, what is put there: a file copied to Kurd.dll, a
    # FOLDER at Kurd.dll, or IMMUTABLE for the folder itself, command, code)
    rows = [
        ("an unknown switch", None, None, [installer, "/quiet", "/frobnicate"], 87),
        ("/log without a file", None, None, [installer, "/quiet", "/admin", "/log"], 87),
        ("a stray word", None, None, [installer, "/quiet", "admin"], 87),
        ("an unknown switch before /admin", None, None, [installer, "/quiet", "-x", "/admin"], 87),
        ("/log naming a disk", None, None, [installer, "/quiet", "/log", "\\\\.\\PhysicalDrive0"], 87),
        ("/log naming a device in a folder", None, None, [installer, "/quiet", "/log", "C:\\windows\\nul.txt"], 87),
        ("/log naming a folder", None, None, [installer, "/quiet", "/log", "C:\\windows"], 87),
        ("another library's Kurd.dll in System32", "system32", wine_dll, install, 1603),
        ("a Kurd.dll with no version resource in System32", "system32", not_a_dll, install, 1603),
        ("another library's Kurd.dll in SysWOW64", "syswow64", wine_dll, install, 1603),
        ("a folder named Kurd.dll in System32", "system32", FOLDER, install, 1603),
        ("a folder named Kurd.dll in SysWOW64", "syswow64", FOLDER, install, 1603),
        # Root writes anywhere a permission allows: an immutable folder is
        # one that nobody can write. SysWOW64 is written after System32, so
        # that row also undoes a written file.
        ("a System32 that cannot be written", "system32", IMMUTABLE, install, 1603),
        ("a SysWOW64 that cannot be written", "syswow64", IMMUTABLE, install, 1603),
    ]
    # A byte flipped early or late in the packed images: the stream no
    # longer unpacks, or unpacks to images whose digests differ; either way
    # the run is refused before anything is touched.
    for eighths, where in ((1, "early in"), (7, "late in")):
        rows.append((f"one byte flipped {where} the packed images", None, None,
                     [windows_path(flipped_payload(case, eighths)), "/admin", "/quiet"], 1603))
    before = prefix.snapshot()
    for row, folder, what, command, code in rows:
        folder_path = os.path.join(prefix.path, "drive_c/windows", folder) if folder else None
        target = os.path.join(folder_path, "Kurd.dll") if folder else None
        expected = {}
        if what == IMMUTABLE:
            if not set_immutable(folder_path, True):
                print(f"SKIPPED row {row}: this file system cannot make a folder immutable")
                continue
        elif what == FOLDER:
            os.mkdir(target)
        elif what:
            shutil.copy(what, target)
            expected[("file", f"windows/{folder}/kurd.dll", None)] = sha256(what)
        try:
            case.check_exit(prefix.run(*command), code, row)
        finally:
            if what == IMMUTABLE:
                set_immutable(folder_path, False)
        unchanged = case.check_changes(row, before, prefix.snapshot(), expected)
        if what == FOLDER:
            case.check(os.path.isdir(target), f"the folder {folder}\\Kurd.dll left in place ({row})",
                       "it was moved or replaced")
        if unchanged and what:
            remove_any(target)
        elif not unchanged:
            # The row left something behind: the next one starts afresh.
            prefix.remove()
            prefix = Prefix(case, "prefix")
            before = prefix.snapshot()
    prefix.remove()


FOLDER, IMMUTABLE = "folder", "immutable"


def set_immutable(folder, on):
    """The folder's immutable attribute (ext4 and the like): no one, root
    included, can add, remove or rename its entries. False where the file
    system has no such attribute."""
    return subprocess.run(["chattr", "+i" if on else "-i", folder], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def remove_any(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def older_build(case, source, target):
    """A copy of a layout image that says it is an older version: the last
    of the build's four numbers that is not 0, one lower."""
    version = [int(part) for part in case.args.version.split(".")]
    older = version.copy()
    older[max(i for i, part in enumerate(version) if part)] -= 1

    def words(numbers):  # dwFileVersionMS and dwFileVersionLS as stored
        return struct.pack("<4H", numbers[1], numbers[0], numbers[3], numbers[2])

    content = bytearray(open(source, "rb").read())
    fixed = content.find(bytes.fromhex("BD04EFFE"))
    case.check(fixed > 0 and content[fixed + 8:fixed + 16] == words(version),
               f"a fixed version block saying {case.args.version} in the layout image", fixed)
    content[fixed + 8:fixed + 16] = content[fixed + 16:fixed + 24] = words(older)  # file and product version
    # The version as text, the older one as long, so that the block keeps its shape.
    text, older_text = (", ".join(str(n).zfill(len(str(v))) for n, v in zip(numbers, version)).encode("utf-16-le")
                        for numbers in (version, older))
    case.check(content.count(text) == 2, "the version twice as text in the layout image", content.count(text))
    content = content.replace(text, older_text)
    open(target, "wb").write(content)


def pending_pairs(value):
    """(source, target) of a restart schedule as the registry file gives it:
    the file drops the empty target of a deletion at the end."""
    if not value or value[0] != "multi_sz":
        return []
    strings = value[1] + ([""] if len(value[1]) % 2 else [])
    return list(zip(strings[0::2], strings[1::2]))


def restart(prefix):
    """A Windows restart: the prefix's server ends, and the next start boots
    the prefix, carrying out the restart schedule."""
    prefix.stop()
    prefix.run("cmd", "/c", "exit")


class Holder:
    """Kurd.dll in System32 in use while it lives: loaded as the layout
    loader maps it (kbdload.exe: it can be renamed but not deleted), held
    open without sharing delete (holder.exe: neither), or held sharing
    nothing ("exclusive": it cannot even be read); or ("lock") the
    installer's lock held by another program. `held`: whether it is."""

    def __init__(self, case, prefix, how):
        self.release = os.path.join(case.work, f"release-{how}")
        ready = os.path.join(case.work, f"ready-{how}")
        for path in (self.release, ready):
            if os.path.exists(path):
                os.remove(path)
        target = "Global\\CentralKurdishKeyboardLayoutSetup" if how == "lock" else "C:\\windows\\system32\\Kurd.dll"
        if how == "load":
            command = ["kbdload.exe", target, windows_path(ready), windows_path(self.release)]
        else:
            command = ["holder.exe", "file" if how == "hold" else how, target, windows_path(ready),
                       windows_path(self.release)]
        self.process = prefix.start(windows_path(os.path.join(case.args.windows, command[0])), *command[1:])
        began = time.monotonic()
        while not os.path.exists(ready) and self.process.poll() is None and time.monotonic() - began < 60:
            time.sleep(0.1)
        self.held = case.check(os.path.exists(ready), f"{target} held ({how})", f"exit {self.process.poll()}")

    def end(self):
        open(self.release, "w").close()
        self.process.wait(timeout=60)


def case_in_use(case):
    """Kurd.dll in use (loaded, or held open) through sequences of runs and
    restarts: each ends, after the restart, as its last run reported. Held
    sharing nothing, it cannot be told apart: install and uninstall are
    refused, saying it is in use, and change nothing."""
    prefix = Prefix(case, "prefix")
    pristine = prefix.snapshot()
    install, uninstall = [windows_path(case.installer), "/admin", "/quiet"], [windows_path(case.installer),
                                                                             "/uninstall", "/quiet"]
    case.check_exit(prefix.run(*install), 0, "the first install")
    installed = prefix.snapshot()
    older = os.path.join(case.work, "older-Kurd.dll")
    older_build(case, case.images["x64"], older)
    # (row, the older build first, how it is in use, [(command, exit code)], installed at the end)
    rows = [
        ("loaded: uninstalled, installed again before the restart", False, "load",
         [(uninstall, 0), (install, 0)], True),
        ("held open: uninstalled, installed again before the restart", False, "hold",
         [(uninstall, 3010), (install, 0)], True),
        ("an older build loaded: the upgrade needs no restart", True, "load", [(install, 0)], True),
        ("an older build held open: upgraded, uninstalled before the restart", True, "hold",
         [(install, 3010), (uninstall, 3010)], False),
        ("held open: uninstalled, restarted, installed", False, "hold", [(uninstall, 3010), ("restart", None),
                                                                         (install, 0)], True),
    ]
    for row, planted, how, commands, ends_installed in rows:
        if not os.path.exists(os.path.join(prefix.system32, "Kurd.dll")):
            case.check_exit(prefix.run(*install), 0, f"{row}: the install before")
        if planted:
            shutil.copy(older, os.path.join(prefix.system32, "Kurd.dll"))
        holder = Holder(case, prefix, how)
        for command, code in commands:
            if command == "restart":
                holder.end()
                restart(prefix)
                continue
            case.check_exit(prefix.run(*command), code, f"{row}: {command[1]}")
        holder.end()
        restart(prefix)
        case.check_changes(f"{row}, after the restart", installed if ends_installed else pristine,
                           prefix.snapshot(), {})
    log = os.path.join(case.work, "exclusive.log")
    holder = Holder(case, prefix, "exclusive")
    for command in (install, uninstall):
        row = f"{command[1]} while Kurd.dll is held sharing nothing"
        case.check_exit(prefix.run(*command, "/log", windows_path(log)), 1603, row)
    holder.end()
    case.check_changes("held sharing nothing", installed, prefix.snapshot(), {})
    refusals = [line for line in open(log, encoding="utf-8") if "Kurd.dll is in use" in line]
    case.check(len(refusals) == 2, "the log saying twice that Kurd.dll is in use", refusals)
    prefix.remove()


def processes_running(program):
    """The Linux processes of a Windows program run from `program` (its
    Windows path): Wine names such a process by its command line."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                first = f.read().split(b"\0")[0].decode("utf-8", "replace")
        except OSError:
            continue
        if first.lower() == program.lower():
            found.append(int(entry))
    return found


def steps_logged(log):
    """The lines of the log from the plan on: the plan's line, then a line
    for each step."""
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = [line.rstrip() for line in f]
    except FileNotFoundError:
        return []
    planned = [i for i, line in enumerate(lines) if line.startswith("layout ")]
    return lines[planned[0]:] if planned else []


def run_killed(prefix, installer, args, log, after):
    """Starts the installer and kills its process, as a crash or a power
    cut would (SIGKILL: nothing of it runs on), once its log shows `after`
    steps (0: once it has planned); the last line logged before the kill,
    or None if it finished first."""
    if os.path.exists(log):
        os.remove(log)
    process = prefix.start(windows_path(installer), *args, "/log", windows_path(log))
    killed = None
    while process.poll() is None:
        logged = steps_logged(log)
        if len(logged) > after:
            pids = processes_running(windows_path(installer))
            for pid in pids:
                os.kill(pid, signal.SIGKILL)
            if pids:
                killed = logged[-1]
            break
        time.sleep(0.001)
    process.wait(timeout=120)
    return killed


def case_killed(case):
    """Runs killed at spread points of an install, a repair (an older build
    replaced) and an uninstall, some followed by a restart: the next run, of
    either kind, leaves the machine as a clean run of its kind does, with
    nothing of the killed run left behind."""
    prefix = Prefix(case, "prefix")
    pristine = prefix.snapshot()
    install, uninstall = ["/admin", "/quiet"], ["/uninstall", "/quiet"]
    case.check_exit(prefix.run(windows_path(case.installer), *install), 0, "a clean install")
    installed = prefix.snapshot()
    case.check_exit(prefix.run(windows_path(case.installer), *uninstall), 0, "a clean uninstall")
    older = os.path.join(case.work, "older-Kurd.dll")
    older_build(case, case.images["x64"], older)
    # (the run killed, after how many steps, restarted before the next, the next run)
    trials = [("install", 1, False, "install"), ("uninstall", 2, False, "uninstall"),
              ("install", 8, True, "uninstall"), ("install", 11, False, "install"),
              ("repair", 0, True, "install"), ("uninstall", 5, False, "install"),
              ("repair", 1, False, "uninstall")]
    log = os.path.join(case.work, "killed.log")
    for number, (killed_run, after, restarted, next_run) in enumerate(trials):
        # Each trial runs a copy of its own: its process is found by its path.
        installer = copy_installer(case, os.path.join(case.work, f"trial {number}"))
        if killed_run == "repair":
            shutil.copy(older, os.path.join(prefix.system32, "Kurd.dll"))
        last = run_killed(prefix, installer, uninstall if killed_run == "uninstall" else install, log, after)
        row = f"{killed_run} killed after step {after} ({last or 'it finished first'})" + \
              (", a restart" if restarted else "") + f", then {next_run}"
        print(row)
        if restarted:
            restart(prefix)
        status = prefix.run(windows_path(installer), *(install if next_run == "install" else uninstall))
        case.check_exit(status, 0, row)
        restart(prefix)
        case.check_changes(row, installed if next_run == "install" else pristine, prefix.snapshot(), {})
    prefix.remove()


def case_two_at_once(case):
    """One run at a time: while another holds the installer's lock, a run
    waits, then exits 1618 and changes nothing; a holder killed while a run
    waits leaves the lock to it, and that run installs what started, not
    what its download folder holds by then; setup7.exe and setup8.exe
    started together both end well, one after the other or the second
    finding the work done."""
    prefix = Prefix(case, "prefix")
    before = prefix.snapshot()
    holder = Holder(case, prefix, "lock")
    if holder.held:
        began = time.monotonic()
        status = prefix.run(windows_path(case.installer), "/admin", "/quiet")
        waited = time.monotonic() - began
        case.check_exit(status, 1618, "an install while another holds the lock")
        case.check(waited >= 4, "the run waited for the lock before it gave up", f"{waited:.1f} s")
    holder.end()
    case.check_changes("an install while another holds the lock", before, prefix.snapshot(), {})

    holder = Holder(case, prefix, "lock")
    if holder.held:
        row = "an install waiting for a lock its killed holder abandons, its file swapped meanwhile"
        installer = copy_installer(case, os.path.join(case.work, "swapped"))
        started = installer + ".started"
        log = os.path.join(case.work, "waiting.log")
        run = prefix.start(windows_path(installer), "/admin", "/quiet", "/log", windows_path(log))
        began = time.monotonic()
        while not (os.path.exists(log) and os.path.getsize(log)) and time.monotonic() - began < 60:
            time.sleep(0.05)
        os.rename(installer, started)
        with open(installer, "wb") as f:
            f.write(open(started, "rb").read()[:-512] + bytes(512))
        for pid in processes_running(windows_path(os.path.join(case.args.windows, "holder.exe"))):
            os.kill(pid, signal.SIGKILL)
        holder.process.wait(timeout=60)
        status = run.wait(timeout=120)
        case.check(status == 0, f"exit code 0 for {row}", f"status {status}")
        case.check_changes(row, before, prefix.snapshot(),
                           case.installed(prefix, "a0002c01", started, preload=("2", "d0002c01")))
        case.check_exit(prefix.run(windows_path(case.installer), "/uninstall", "/quiet"), 0, f"{row}: uninstalled")
        case.check_changes(f"{row}: uninstalled", before, prefix.snapshot(), {})

    installers = [copy_installer(case, os.path.join(case.work, "download"), name) for name in ("setup7.exe", "setup8.exe")]
    runs = [prefix.start(windows_path(installer), "/admin", "/quiet") for installer in installers]
    statuses = sorted(run.wait(timeout=180) for run in runs)
    case.check(statuses in ([0, 0], [0, 1618 & 0xFF]), "two installs at once: both done, or one told to wait",
               statuses)
    case.check_changes("two installs at once", before, prefix.snapshot(),
                       case.installed(prefix, "a0002c01", installers[1], preload=("2", "d0002c01")))
    prefix.remove()


def case_input_dll(case):
    """input.dll in the system folder the installer sees: the install and
    the uninstall call InstallLayoutOrTip and leave Preload alone; when the
    call returns FALSE, the Preload path runs instead."""
    prefix = Prefix(case, "prefix")
    shutil.copy(os.path.join(case.args.stubs, "input.dll"), os.path.join(prefix.installer_system, "input.dll"))
    before = prefix.snapshot()
    calls_log = os.path.join(case.work, "input-calls.log")
    profile = INSTALL_PROFILE.format(klid="a0002c01")
    rows = [("an install with InstallLayoutOrTip", "/admin", "1", None, (profile, 0)),
            ("an uninstall with InstallLayoutOrTip", "/uninstall", "1", None, (profile, ILOT_UNINSTALL)),
            ("an install where InstallLayoutOrTip fails", "/admin", "0", ("2", "d0002c01"), (profile, 0)),
            ("an uninstall where InstallLayoutOrTip fails", "/uninstall", "0", None, (profile, ILOT_UNINSTALL))]
    for row, action, result, preload, call in rows:
        if os.path.exists(calls_log):
            os.remove(calls_log)
        status = prefix.run(windows_path(case.installer), action, "/quiet",
                            env={"INPUT_STUB_LOG": windows_path(calls_log), "INPUT_STUB_RESULT": result})
        case.check_exit(status, 0, row)
        calls = open(calls_log, encoding="utf-8").read().splitlines() if os.path.exists(calls_log) else []
        case.check(calls == [f"{call[0]}\t0x{call[1]:08X}"],
                   f"one call InstallLayoutOrTip(\"{call[0]}\", 0x{call[1]:08X}) ({row})", calls)
        expected = case.installed(prefix, "a0002c01", case.installer, preload=preload) if action == "/admin" else {}
        case.check_changes(row, before, prefix.snapshot(), expected)
    prefix.remove()


def utf16_value(text):
    """A REG_EXPAND_SZ's data as a registry file for regedit writes it."""
    return "hex(2):" + ",".join(f"{b:02x}" for b in (text + "\0").encode("utf-16-le"))


def write_wine_hive(path, keys):
    """A registry file in Wine's own format, as RegSaveKeyW writes it in a
    64-bit prefix: the only one Wine's RegLoadKeyW loads. keys: {key:
    {name: text}}."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("WINE REGISTRY Version 2\n\n#arch=win64\n\n")
        for key, values in keys.items():
            f.write(f"[{key.replace(chr(92), chr(92) * 2)}] 0\n")
            f.write("".join(f'"{name}"="{text}"\n' for name, text in values.items()) + "\n")


def loaded_by_installer(prefix):
    """The registries loaded under HKEY_USERS by the installer's names."""
    done = subprocess.run(prefix.command("reg", ["query", "HKU"]), env=prefix.environment(None),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace", timeout=120)
    return [line.strip() for line in done.stdout.splitlines() if "kurdkeyboardlayout_" in line.lower()]


def case_all_users(case):
    """/allusers in a prefix of one user, given profiles as Windows has them:
    ProfileList's Default and its folder, a second profile named through
    %SystemDrive% in a folder with Kurdish letters, whose list has the layout
    already, one whose folder is gone, one whose registry file cannot be
    loaded, the welcome screen's list. Wine drops what is written into a
    loaded registry when it unloads it: what the installer writes there is
    read during the call, by the input.dll stand-in (Windows 10).
    Windows 7: the current user's and the welcome screen's lists gain the
    layout, the profiles' registries are loaded, written and unloaded (the
    log), the damaged one is named (1011), and the uninstall gives every
    list back. Windows 10: the call for each profile's registry where it is
    loaded, not in the running session; the uninstall's edits seen in the
    second profile's registry while it is loaded. Nothing of ours stays
    loaded after any run."""
    prefix = Prefix(case, "prefix")
    users = os.path.join(prefix.path, "drive_c", "users")
    kurdish = KURDISH_FOLDER.split(" ")[0]
    second, gone, damaged = "S-1-5-21-0-0-0-1001", "S-1-5-21-0-0-0-1002", "S-1-5-21-0-0-0-1003"
    write_wine_hive(os.path.join(users, "Default", "NTUSER.DAT"), {r"Keyboard Layout\Preload": {"1": "00000409"}})
    write_wine_hive(os.path.join(users, kurdish, "NTUSER.DAT"),
                    {r"Keyboard Layout\Preload": {"1": "00000409", "2": "d0002c01", "3": "00000401"},
                     r"Keyboard Layout\Substitutes": {"d0002c01": "a0002c01"}})
    os.makedirs(os.path.join(users, "damaged"))
    with open(os.path.join(users, "damaged", "NTUSER.DAT"), "w") as f:
        f.write("not a registry\n")
    profiles = os.path.join(case.work, "profiles.reg")
    with open(profiles, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                f"[HKEY_LOCAL_MACHINE\\{PROFILE_LIST}]\r\n"
                f'"Default"={utf16_value("%SystemDrive%" + chr(92) + "users" + chr(92) + "Default")}\r\n\r\n'
                + "".join(f"[HKEY_LOCAL_MACHINE\\{PROFILE_LIST}\\{sid}]\r\n\"ProfileImagePath\"={utf16_value(folder)}\r\n\r\n"
                          for sid, folder in ((second, "%SystemDrive%\\users\\" + kurdish),
                                              (gone, "C:\\users\\gone"), (damaged, "%SystemDrive%\\users\\damaged")))
                + f"[HKEY_USERS\\.DEFAULT\\{PRELOAD}]\r\n\"1\"=\"00000409\"\r\n")
    case.check_exit(prefix.run("regedit", "/S", windows_path(profiles)), 0, "importing the profiles")
    before = prefix.snapshot()
    log = os.path.join(case.work, "all-users.log")
    install, uninstall = ["/admin", "/allusers", "/quiet", "/log", windows_path(log)], ["/uninstall", "/quiet"]

    row = "an install for all users on Windows 7"
    case.check_exit(prefix.run(windows_path(case.installer), *install), 1011, row)
    expected = case.installed(prefix, "a0002c01", case.installer, preload=("2", "d0002c01"))
    expected[("HKDEF", PRELOAD, "2")] = ("sz", "d0002c01")
    expected[("HKDEF", SUBSTITUTES, "d0002c01")] = ("sz", "a0002c01")
    case.check_changes(row, before, prefix.snapshot(), expected)
    lines = open(log, encoding="utf-8").read().splitlines()
    for wanted in (f"load the registry of user Default from C:\\users\\Default\\NTUSER.DAT: done",
                   'set HKU\\Default\\Keyboard Layout\\Preload "2" to "d0002c01": done',
                   "write the registry of user Default to disk and unload it: done",
                   f"load the registry of user {second} from C:\\users\\{kurdish}\\NTUSER.DAT: done",
                   f"write the registry of user {second} to disk and unload it: done",
                   f"(C:\\users\\gone) is gone", f"(C:\\users\\damaged) is not changed", "exit code 1011"):
        case.check(any(wanted in line for line in lines), f"a line of the log with {wanted!r} ({row})", lines)
    case.check(not loaded_by_installer(prefix), f"no registry of ours loaded after {row}", loaded_by_installer(prefix))
    case.check_exit(prefix.run(windows_path(case.installer), *uninstall), 1011, f"{row}: uninstalled")
    case.check_changes(f"{row}: uninstalled", before, prefix.snapshot(), {})

    shutil.copy(os.path.join(case.args.stubs, "input.dll"), os.path.join(prefix.installer_system, "input.dll"))
    prefix.run("reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "win10", "/f")
    before = prefix.snapshot()
    calls_log = os.path.join(case.work, "input-calls.log")
    profile, registry = INSTALL_PROFILE.format(klid="a0002c01"), "HKEY_USERS\\KurdKeyboardLayout_"
    rows = [("an install for all users on Windows 10", install, [
                f"{profile}\t0x00000000",
                f"{profile}\t0x00000020\t{registry}Default\tPreload 1=00000409\tSubstitutes (none)",
                f"{profile}\t0x00000020\tHKEY_USERS\\.DEFAULT\tPreload 1=00000409\tSubstitutes "]),
            ("an uninstall on Windows 10", uninstall, [
                f"{profile}\t0x00000001",
                f"{profile}\t0x00000021\t{registry}{second}\tPreload 1=00000409,2=00000401\tSubstitutes ",
                f"{profile}\t0x00000021\t{registry}Default\tPreload 1=00000409\tSubstitutes (none)",
                f"{profile}\t0x00000021\tHKEY_USERS\\.DEFAULT\tPreload 1=00000409\tSubstitutes "])]
    for row, args, calls in rows:
        if os.path.exists(calls_log):
            os.remove(calls_log)
        case.check_exit(prefix.run(windows_path(case.installer), *args, env={"INPUT_STUB_LOG": windows_path(calls_log)}),
                        1011, row)
        seen = open(calls_log, encoding="utf-8").read().splitlines() if os.path.exists(calls_log) else []
        case.check(seen == calls, f"the calls {calls} ({row})", seen)
        case.check(not loaded_by_installer(prefix), f"no registry of ours loaded after {row}", loaded_by_installer(prefix))
    case.check_changes("uninstalled on Windows 10", before, prefix.snapshot(), {})
    prefix.remove()


def product_version(path):
    """The ProductVersion of a program's version resource."""
    image = pefile.PE(path)
    for info in image.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            return info.StringTable[0].entries[b"ProductVersion"].decode()
    raise SystemExit(f"no version resource in {path}")


def case_versions(case):
    """The installer built one version on upgrades this one; this one run
    over it is refused with 1638 and changes nothing; run again, the newer
    one repairs, which here changes nothing either."""
    prefix = Prefix(case, "prefix")
    this, following, version = case.installer, case.args.next_installer, case.args.version
    newer = product_version(following)
    case.check(tuple(map(int, newer.split("."))) > tuple(map(int, version.split("."))),
               f"the second installer newer than {version}", newer)
    case.check_exit(prefix.run(windows_path(this), "/admin", "/quiet"), 0, f"{version} installed")
    installed = prefix.snapshot()
    case.check_exit(prefix.run(windows_path(following), "/admin", "/quiet"), 0, f"{newer} over {version}")
    upgraded = prefix.snapshot()
    expected = {key: value for key, value in case.installed(prefix, "a0002c01", following).items()
                if key in {("HKLM", UNINSTALL, "displayversion"), ("file", prefix.kept_copy.lower(), None),
                           ("HKLM", UNINSTALL, "estimatedsize")}}
    expected[("HKLM", UNINSTALL, "displayversion")] = ("sz", newer)
    if installed.value("HKLM", UNINSTALL, "estimatedsize") == upgraded.value("HKLM", UNINSTALL, "estimatedsize"):
        del expected[("HKLM", UNINSTALL, "estimatedsize")]
    case.check_changes(f"{newer} over {version}", installed, upgraded, expected)
    log = os.path.join(case.work, "refused.log")
    for row, installer, code in ((f"{version} over {newer}", this, 1638), (f"{newer} again", following, 0)):
        case.check_exit(prefix.run(windows_path(installer), "/admin", "/quiet", "/log", windows_path(log)), code, row)
        case.check_changes(row, upgraded, prefix.snapshot(), {})
    refused = [line for line in open(log, encoding="utf-8") if newer in line and version in line]
    case.check(len(refused) == 1, f"a line of the log naming {newer} and {version}", refused)
    prefix.remove()


def case_archive(case):
    """The download unpacked into a folder with Kurdish letters and spaces
    in its name: the 32-bit Halvaro.exe, started with "/quiet ", a click on
    Command2, and setup8.exe installs the layout."""
    prefix = Prefix(case, "prefix")
    before = prefix.snapshot()
    folder = os.path.join(case.work, KURDISH_FOLDER)
    os.makedirs(folder)
    archive = os.path.join(case.args.dist, f"Kurd-{case.args.version}.zip")
    with zipfile.ZipFile(archive) as download:
        download.extractall(folder)
    launcher = os.path.join(folder, "Halvaro.exe")
    status = prefix.run(windows_path(os.path.join(case.args.windows, "launcherprobe.exe")),
                        windows_path(launcher), "--args", "/quiet ", "click:command2", "exit", "settle",
                        gui=True, timeout=90)
    case.check_exit(status, 0, "the launcher probe")
    installed = prefix.snapshot()
    case.check_changes("an install from the unpacked download", before, installed,
                       case.installed(prefix, "a0002c01", os.path.join(folder, "setup8.exe"),
                                      preload=("2", "d0002c01")))
    prefix.remove()


CASES = {"install": case_install, "foreign_layout": case_foreign_layout, "x86_prefix": case_x86_prefix,
         "failures": case_failures, "in_use": case_in_use, "killed": case_killed, "two_at_once": case_two_at_once,
         "input_dll": case_input_dll, "archive": case_archive, "versions": case_versions, "all_users": case_all_users}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="tests/wine/run")
    parser.add_argument("--x86-test", required=True, help="tests/gui/x86_test")
    parser.add_argument("--dist", required=True, help="the dist folder")
    parser.add_argument("--version", required=True, help="the package's version, four numbers")
    parser.add_argument("--next-installer", required=True, help="the installer built one version on")
    parser.add_argument("--windows", required=True, help="the windows-x64 build folder")
    parser.add_argument("--stubs", required=True, help="the folder of the 32-bit input.dll and planted.dll")
    parser.add_argument("--import-libraries", required=True, help="win32/import_libraries.txt")
    parser.add_argument("--work", required=True, help="a folder for this test's prefixes and files")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    for name in ("dist", "next_installer", "windows", "stubs", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    case = Case(args, args.case)
    try:
        CASES[args.case](case)
    except Skip as skip:
        print(f"SKIPPED: {skip}")
        return SKIPPED
    for failure in case.failures:
        print(f"FAILED {failure}")
    return 1 if case.failures else 0


if __name__ == "__main__":
    sys.exit(main())
