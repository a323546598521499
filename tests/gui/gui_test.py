#!/usr/bin/python3
"""End-to-end tests of the launcher's x86-64 build under wine64.

    gui_test.py --runner RUN --windows DIR --work DIR CASE

Each case starts the launcher through launcherprobe.exe (tests/windows),
which reports what is on screen and sends real keys and clicks; this
script compares the report with what a user should see. The installer
stand-ins setup7.exe/setup8.exe record how they were started, and the
shell's trace shows what the launcher asked it to start. Exit status: 0
passed, 1 failed (each failure says what was expected and what was seen),
77 skipped (with the reason printed).
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import time

from plant_names import plant_names

SKIPPED = 77

# Window style bits.
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000

WINDOWS_WORD = [0x0648, 0x064A, 0x0646, 0x062F, 0x0648, 0x0632, 0x20]  # "Windows" in Arabic script
CAPTION = [ord(c) for c in "Halvaro  - Arabic Basic Halvaro "] + [
    0x0644, 0x0647, 0x20, 0x0633, 0x0647, 0x200C, 0x0631, 0x20,
    0x0634, 0x064A, 0x0648, 0x0627, 0x0632, 0x0649, 0x20,
    0x0639, 0x0647, 0x200C, 0x0631, 0x0647, 0x200C, 0x0628, 0x0649]
BUTTON_TEXTS = {
    "command1": [ord(c) for c in "Win 7 , Win Vista ,Win XP "] + WINDOWS_WORD,
    "command2": [0x064A, 0x0627, 0x0646, 0x20, 0x0632, 0x064A, 0x0627, 0x062A, 0x0631, 0x20]
    + [ord(c) for c in "Win 10, Win 8.1, Win 8 "] + WINDOWS_WORD,
    "command3": [ord(c) for c in "Cancel"],
}

# Client rectangles in twips: left, top, width, height.
CONTROL_TWIPS = {
    "command2": (60, 3840, 3975, 615),
    "command1": (4080, 3840, 3735, 615),
    "command3": (11220, 3840, 1815, 615),
    "picture4": (0, 4470, 13200, 375),
}
CLIENT_TWIPS = (13200, 4845)

BACK = (64, 64, 64)
BUTTON_FACE = (192, 192, 192)
CHART_BACKGROUND = (26, 26, 26)
KEY_FACE = (51, 51, 51)
STRIP_START = (255, 128, 0)

# A Kurdish folder name: REH WITH SMALL V BELOW, LAM WITH SMALL V, OE,
# YEH WITH SMALL V.
KURDISH_FOLDER = "\u0695\u06b5\u06c6\u06ce"


def pixels(twips, dpi):
    """Twips to pixels at this DPI, halves away from zero."""
    n = twips * dpi
    return (abs(n) + 720) // 1440 * (1 if n >= 0 else -1)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def is_pulse_colour(rgb):
    return 150 <= rgb[0] <= 225 and rgb[1] == 150 and rgb[2] == 150


class Report:
    """The probe's output: one fact per line, a name and its values."""

    def __init__(self, stdout):
        self.lines = [line.split(" ") for line in stdout.splitlines() if line]

    def all(self, name):
        return [line[1:] for line in self.lines if line[0] == name]

    def one(self, name):
        found = self.all(name)
        return found[0] if found else None

    def ints(self, name):
        values = self.one(name)
        return tuple(int(v, 0) for v in values) if values else None

    def controls(self):
        result = {}
        for values in self.all("control"):
            text_at = values.index("text")
            result[values[0]] = {
                "rect": tuple(int(v) for v in values[1:5]),
                "text": [int(v, 16) for v in values[text_at + 1:] if v],
            }
        return result

    def pixel_at(self, x, y):
        for values in self.all("pixel"):
            if int(values[0]) == x and int(values[1]) == y:
                return tuple(int(v) for v in values[2:5])
        return None


class Case:
    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.failures = []
        self.work = os.path.join(args.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.stub_log = os.path.join(self.work, "installers.log")

    def check(self, condition, expected, seen):
        if not condition:
            self.failures.append(f"{self.name}: expected {expected}; saw {seen}")
        return condition

    def program(self, name):
        return os.path.join(self.args.windows, name)

    def folder_with_launcher(self, folder, installers=("setup7.exe", "setup8.exe")):
        os.makedirs(folder, exist_ok=True)
        shutil.copy(self.program("halvaro/Halvaro.exe"), folder)
        for installer in installers:
            shutil.copy(self.program(installer), folder)
        return folder

    def probe(self, launcher, steps, dpi=None, arguments=None, first_tick=False, second_click=False, trace=False,
              pulse=False, timeout=40, may_fail_to_start=False, while_running=None, dll_overrides=None, env=None):
        """Runs the launcher under the probe; returns its report and stderr.
        while_running(), if given, is called while the probe runs. Where
        Wine does not start the probe or the launcher's window at all, it
        says so and tries once more: that is Wine's start-up failing on a
        loaded machine, and a launcher that cannot start fails twice."""
        command = [self.args.runner, "exec", "--gui", "--timeout", str(timeout)]
        if dpi:
            command += ["--dpi", str(dpi)]
        command += [windows_path(self.program("launcherprobe.exe")), launcher]
        if dpi and dpi > 120:
            # The 1280x800 desktop is too small for the window at this scale.
            command += ["--desktop", "Wide", "1920x1080"]
        if arguments is not None:
            command += ["--args", arguments]
        if first_tick or second_click or pulse:
            command += ["--hooks", windows_path(self.program("launcherhooks.dll"))]
        if first_tick:
            command += ["--first-tick", windows_path(os.path.join(self.work, "first-tick.txt"))]
        if second_click:
            command += ["--second-click"]
        if pulse:
            command += ["--pulse", windows_path(os.path.join(self.work, "pulse.txt"))]
        if trace:
            command += ["--winedebug", "trace+exec"]
        command += steps
        env = dict(os.environ, SETUP_STUB_LOG=windows_path(self.stub_log), **(env or {}))
        if dll_overrides:
            env["WINETEST_DLLOVERRIDES"] = dll_overrides
        for attempt in (1, 2):
            with subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  errors="replace") as running:
                if while_running:
                    while_running()
                stdout, stderr = running.communicate(timeout=timeout + 30)
            print(f"--- probe report ({' '.join(steps)})\n{stdout}", end="")
            not_started = not stdout.strip() or (Report(stdout).one("form") == ["none"] and not may_fail_to_start)
            if attempt == 2 or not not_started:
                break
            print(f"note: Wine did not start {'the probe' if not stdout.strip() else 'the launcher'} "
                  f"(exit {running.returncode}: {stderr.strip()[-300:]}); retrying once")
            if os.path.exists(self.stub_log):
                os.remove(self.stub_log)
        if running.returncode != 0 and not (may_fail_to_start and "start_error" in stdout):
            self.failures.append(f"{self.name}: launcherprobe exited with {running.returncode}: "
                                 f"{stderr.strip()[-2000:]}")
        return Report(stdout), stderr

    def installer_starts(self):
        """(path, parameters) for every recorded installer start."""
        if not os.path.exists(self.stub_log):
            return []
        starts = []
        with open(self.stub_log, encoding="utf-8") as log:
            for line in log.read().splitlines():
                path, command_line = line.split("\t", 1)
                starts.append((path, argument_text(command_line)))
        return starts

    def check_exit(self, report, how):
        exit_code = report.one("exit")
        self.check(exit_code == ["0"], f"the launcher to end with exit code 0 after {how}",
                   f"exit {' '.join(exit_code or ['not reported'])}")

    def check_nothing_started(self, report, how):
        self.check_exit(report, how)
        self.check(self.installer_starts() == [], f"no installer started after {how}",
                   self.installer_starts())


def argument_text(command_line):
    """What follows the program name and one blank on a command line."""
    quoted = False
    for i, c in enumerate(command_line):
        if c == '"':
            quoted = not quoted
        elif c in " \t" and not quoted:
            return command_line[i + 1:]
    return ""


def shell_requests(stderr):
    """The file and parameters of every ShellExecute the launcher made,
    read from the shell's trace (Wine escapes backslashes and non-ASCII)."""
    requests = []
    for line in stderr.splitlines():
        if ":trace:exec:SHELL_execute mask=" not in line:
            continue
        requests.append((traced_string(line, 'file=L"'), traced_string(line, 'parm=L"')))
    return requests


def traced_string(line, key):
    start = line.find(key)
    if start < 0:
        return None
    i = start + len(key)
    out = []
    while i < len(line) and line[i] != '"':
        if line[i] == "\\":
            following = line[i + 1:i + 5]
            if len(following) == 4 and all(c in "0123456789abcdefABCDEF" for c in following):
                out.append(chr(int(following, 16)))
                i += 5
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(line[i + 1], line[i + 1]))
            i += 2
            continue
        out.append(line[i])
        i += 1
    return "".join(out)


# ---------------------------------------------------------------- window


def check_window(case, report, dpi):
    case.check(report.ints("dpi") == (dpi,), f"the screen at {dpi} DPI", report.one("dpi"))
    width, height = (pixels(t, dpi) for t in CLIENT_TWIPS)
    client = report.ints("client_size")
    case.check(client == (width, height), f"client size {width}x{height} at {dpi} DPI", client)

    screen = report.ints("screen")
    window = report.ints("window")
    if screen and window:
        centre = ((window[0] + window[2]) / 2, (window[1] + window[3]) / 2)
        case.check(abs(centre[0] - screen[0] / 2) <= 1 and abs(centre[1] - screen[1] / 2) <= 1,
                   f"the window centred on the {screen[0]}x{screen[1]} screen",
                   f"window {window}, centre {centre}")

    style = (report.ints("style") or (0,))[0]
    for bit, name, wanted in ((WS_CAPTION, "WS_CAPTION", True), (WS_SYSMENU, "WS_SYSMENU", True),
                              (WS_THICKFRAME, "WS_THICKFRAME", False),
                              (WS_MINIMIZEBOX, "WS_MINIMIZEBOX", False),
                              (WS_MAXIMIZEBOX, "WS_MAXIMIZEBOX", False)):
        case.check(bool(style & bit) == wanted, f"{name} {'set' if wanted else 'clear'}",
                   f"style 0x{style:08X}")

    caption = [int(v, 16) for v in report.one("caption") or []]
    case.check(caption == CAPTION, "caption " + " ".join(f"{c:04X}" for c in CAPTION),
               " ".join(f"{c:04X}" for c in caption))

    controls = report.controls()
    for name, twips in CONTROL_TWIPS.items():
        expected = tuple(pixels(t, dpi) for t in twips)
        seen = controls.get(name, {}).get("rect")
        case.check(seen == expected, f"{name} at {expected} (left, top, width, height) at {dpi} DPI",
                   seen)
    for name, text in BUTTON_TEXTS.items():
        seen = controls.get(name, {}).get("text")
        case.check(seen == text, f"{name} caption " + " ".join(f"{c:04X}" for c in text),
                   seen and " ".join(f"{c:04X}" for c in seen))


def pixel_points(controls, dpi):
    """Client points and the colour each must show: (label, x, y, rgb)."""
    def at(twips):
        return pixels(twips, dpi)

    command1 = controls.get("command1", {}).get("rect", (0, 0, 0, 0))
    command3 = controls.get("command3", {}).get("rect", (0, 0, 0, 0))
    gap_x = (command1[0] + command1[2] + command3[0]) // 2
    points = [("back colour between Command1 and Command3", gap_x, command1[1] + command1[3] // 2, BACK),
              ("chart background near the top-left", at(30), at(30), CHART_BACKGROUND),
              ("chart background between the main and navigation blocks", at(10830), at(3000),
               CHART_BACKGROUND),
              ("key face of Space", at(3300), at(3150), KEY_FACE),
              ("key face of Tab", at(210), at(930), KEY_FACE)]
    for name in ("command1", "command2", "command3"):
        left, top, width, height = controls.get(name, {}).get("rect", (0, 0, 0, 0))
        inset = at(60)
        points.append((f"{name} face left of its caption", left + inset, top + height // 2, BUTTON_FACE))
        points.append((f"{name} face above its caption", left + width // 2, top + at(45), BUTTON_FACE))
    return points


def check_pixels(case, report, points):
    for label, x, y, rgb in points:
        seen = report.pixel_at(x, y)
        case.check(seen == rgb, f"{label} at client ({x},{y}) {rgb}", seen)


class Screenshot:
    """A 24-bit BMP file the probe wrote ("shot:FILE")."""

    def __init__(self, path):
        with open(path, "rb") as bmp:
            self.data = bmp.read()
        self.offset = struct.unpack_from("<I", self.data, 10)[0]
        self.width, self.height = struct.unpack_from("<ii", self.data, 18)
        self.stride = (self.width * 3 + 3) & ~3

    def rgb(self, x, y):
        row = self.height - 1 - y if self.height > 0 else y
        i = self.offset + row * self.stride + x * 3
        return self.data[i + 2], self.data[i + 1], self.data[i]


def caption_ink(shot, origin, rect, dpi):
    """The first and last columns of dark caption ink in a button, relative
    to its left edge, looking inside its edges and focus rectangle; None
    if it has none."""
    left, top, width, height = rect
    inset = pixels(90, dpi)
    columns = [x for x in range(left + inset, left + width - inset)
               if any(sum(shot.rgb(origin[0] + x, origin[1] + y)) < 300
                      for y in range(top + inset, top + height - inset))]
    return (columns[0] - left, columns[-1] - left) if columns else None


def check_captions(case, report, shot_path, dpi, centred):
    """Every button shows its caption; with centred, the installer
    captions' ink sits in the middle of the button, within 3 px at 96 DPI
    (half the trailing blank, which the shaped width counts). Uniscribe
    measures the shaped text; DrawTextW under Wine measures the unjoined
    forms and leaves these captions 8 to 15 px left of centre."""
    if not case.check(os.path.exists(shot_path), f"a screenshot {shot_path}", "none"):
        return
    shot = Screenshot(shot_path)
    origin = report.ints("client_origin")
    controls = report.controls()
    for name in ("command1", "command2", "command3"):
        rect = controls.get(name, {}).get("rect")
        if not case.check(rect and origin, f"{name} and the client origin in the report", rect):
            continue
        ink = caption_ink(shot, origin, rect, dpi)
        if not case.check(ink is not None, f"{name}'s caption drawn (dark ink inside the button)", "no ink"):
            continue
        if centred and name != "command3":
            off = ((ink[0]) - (rect[2] - 1 - ink[1])) / 2
            tolerance = 3 * dpi / 96
            case.check(abs(off) <= tolerance,
                       f"{name}'s caption centred within {tolerance:g} px (shaped by Uniscribe)",
                       f"ink from x {ink[0]} to {ink[1]} of {rect[2]}: {off:+g} px off centre")


def pixels_step(points):
    return "pixels:" + ";".join(f"{x},{y}" for _, x, y, _ in points)


def compare_with_x(case, report, probe_shot, x_shot, dpi):
    """The probe's capture and X's screenshot agree over the window above
    the strip (the strip pulses between the two)."""
    left, top, right, _ = report.ints("window")
    origin = report.ints("client_origin")
    height = origin[1] + pixels(CONTROL_TWIPS["picture4"][1], dpi) - top
    crop = f"{right - left}x{height}+{left}+{top}"
    if not case.check(os.path.exists(x_shot), f"an X screenshot {x_shot}", "none"):
        return
    compared = subprocess.run(["/usr/bin/compare", "-metric", "AE",
                               "(", probe_shot, "-crop", crop, "+repage", ")",
                               "(", x_shot, "-crop", crop, "+repage", ")", "null:"],
                              capture_output=True, text=True)
    differing = compared.stderr.strip()
    case.check(differing == "0", f"the probe's capture to equal X's screenshot over the window ({crop})",
               f"{differing} differing pixels")


def case_window(case, dpi):
    """The window at this DPI: geometry, styles, texts, pixels, focus and
    Tab order, the strip before the first tick, then Esc ends it."""
    launcher = windows_path(os.path.join(case.folder_with_launcher(case.work), "Halvaro.exe"))
    shot = os.path.join(case.work, f"launcher-{dpi}dpi.bmp")
    # A first run finds the controls (the pixel points depend on them) and
    # checks that the probe's screen capture is what X shows.
    probe_shot = os.path.join(case.work, "probe-capture.bmp")
    x_shot = os.path.join(case.work, "x-screenshot.png")

    def x_screenshot():
        for _ in range(200):
            if os.path.exists(probe_shot):
                break
            time.sleep(0.1)
        time.sleep(0.5)
        subprocess.run([case.args.runner, "screenshot", x_shot], check=False)

    # The capture waits for the first paint to settle: the window shows
    # before its chart and buttons are drawn.
    first, _ = case.probe(launcher, ["facts", "sleep:1500", f"shot:{windows_path(probe_shot)}", "sleep:3000",
                                     "key:esc", "exit"], dpi=dpi, while_running=x_screenshot)
    if not case.check(first.one("client_size"), "the launcher's window", "no window"):
        return
    compare_with_x(case, first, probe_shot, x_shot, dpi)
    points = pixel_points(first.controls(), dpi)
    width, height = (pixels(t, dpi) for t in CLIENT_TWIPS)
    edges = [("strip at the bottom-left client corner", 0, height - 1, None),
             ("strip at the bottom-right client corner", width - 1, height - 1, None),
             ("frame right of the client area", width, height - 1, "frame"),
             ("frame below the client area", 0, height, "frame")]
    steps = ["facts", "focus"] + ["key:tab", "focus"] * 4 + [
        pixels_step(points + edges), f"shot:{windows_path(shot)}", "key:esc", "exit", "settle"]
    report, _ = case.probe(launcher, steps, dpi=dpi, first_tick=True)
    print(f"screenshot: {shot}")
    check_captions(case, report, shot, dpi, centred=True)

    first_tick = report.one("first_tick_strip")
    case.check(first_tick == [str(v) for v in STRIP_START],
               f"the strip {STRIP_START} before the first tick", first_tick)
    check_window(case, report, dpi)
    check_pixels(case, report, points)
    for label, x, y, kind in edges:
        seen = report.pixel_at(x, y)
        if kind == "frame":
            case.check(seen is not None and not is_pulse_colour(seen) and seen != STRIP_START,
                       f"{label} at ({x},{y}) not the strip's colour", seen)
        else:
            case.check(seen is not None and is_pulse_colour(seen),
                       f"{label} at ({x},{y}) a pulse colour (150..225, 150, 150)", seen)

    focus = [values[0] for values in report.all("focus")]
    case.check(focus[:1] == ["command1"], "the focus on command1 at start", focus[:1])
    case.check(focus[1:3] == ["command2", "command3"], "Tab to move command1 -> command2 -> command3",
               focus[:3])
    rest = focus[3:]
    if rest[:1] == ["picture4"]:
        rest = rest[1:]
    case.check(rest[:1] == ["command1"], "Tab after command3 to come back to command1 (past the strip)",
               focus)
    case.check_nothing_started(report, "Esc")


def case_captions_without_uniscribe(case):
    """Where Uniscribe cannot be bound (Wine told not to load usp10.dll),
    DrawTextW still draws every caption and the launcher works."""
    launcher = windows_path(os.path.join(case.folder_with_launcher(case.work), "Halvaro.exe"))
    shot = os.path.join(case.work, "launcher.bmp")
    report, _ = case.probe(launcher, ["facts", "sleep:1500", f"shot:{windows_path(shot)}", "key:esc", "exit"],
                           dll_overrides="usp10=d")
    check_captions(case, report, shot, 96, centred=False)
    case.check_nothing_started(report, "Esc")


# ----------------------------------------------------------------- pulse


def case_pulse(case):
    """The strip as the launcher's own thread paints it, tick by tick (a
    hook records each tick's time and the colour it finds, which is what
    the previous tick painted), against the published ticks of the pulse,
    and its rate against a 20 ms reference timer on the same thread: a
    ratio measured in one run, which a loaded machine slows alike."""
    launcher = windows_path(os.path.join(case.folder_with_launcher(case.work), "Halvaro.exe"))
    report, _ = case.probe(launcher, ["pulse", "key:esc", "exit"], pulse=True, timeout=60)
    trace = report.all("pulse")
    frequency = next((int(line[1]) for line in trace if line[0] == "frequency"), 0)
    ticks = [(int(line[1]), tuple(int(v) for v in line[2:5])) for line in trace if line[0] == "tick"]
    references = [int(line[1]) for line in trace if line[0] == "reference"]
    if not case.check(frequency and len(ticks) >= 220 and len(references) >= 2,
                      "a trace of the launcher's ticks and the reference timer's", f"{len(trace)} lines"):
        return
    # The colour found at tick n+1 is the one tick n painted.
    painted = {n: colour for n, (_, colour) in enumerate(ticks)}
    case.check(painted[0] == STRIP_START, f"the strip {STRIP_START} before the first tick", painted[0])
    for tick, colour in ((1, (152, 150, 150)), (2, (155, 150, 150)), (3, (158, 150, 150)), (30, (225, 150, 150)),
                         (31, (225, 150, 150)), (32, (220, 150, 150)), (46, (150, 150, 150)),
                         (47, (150, 150, 150)), (48, (151, 150, 150)), (49, (152, 150, 150))):
        case.check(painted[tick] == colour, f"tick {tick} to paint {colour}", painted[tick])
    last = len(ticks) - 1
    repeats = [n for n in range(31, last - 92 + 1) if painted[n] != painted[n + 92]]
    case.check(not repeats, "the colours to repeat every 92 ticks after the first rise",
               f"tick {repeats[:1]} differs from 92 ticks later" if repeats else "")

    start, end = ticks[0][0], ticks[-1][0]
    inside = [t for t in references if start <= t <= end]
    launcher_ms = 1000 * (end - start) / last / frequency
    reference_ms = 1000 * (inside[-1] - inside[0]) / (len(inside) - 1) / frequency if len(inside) > 1 else 0
    ratio = launcher_ms / reference_ms if reference_ms else 0
    print(f"pulse: the launcher ticked every {launcher_ms:.2f} ms, the 20 ms reference every {reference_ms:.2f} ms "
          f"on the same thread: ratio {ratio:.3f}")
    case.check(0.9 <= ratio <= 1.1, "the strip to tick at the reference's 20 ms (ratio 0.9 to 1.1)",
               f"ratio {ratio:.3f}")
    case.check_nothing_started(report, "Esc")


# ------------------------------------------------------------------- gdi


def case_gdi(case):
    """The launcher's GDI object count stays flat over 30 s of pulsing."""
    launcher = windows_path(os.path.join(case.folder_with_launcher(case.work), "Halvaro.exe"))
    report, _ = case.probe(launcher, ["sleep:1000", "gdi:30:2000", "key:esc", "exit"], timeout=60)
    selfcheck = report.ints("gdi_selfcheck")
    case.check(selfcheck and selfcheck[1] == selfcheck[0] + 10 and selfcheck[2] == selfcheck[0],
               "the handle-table count to see 10 brushes made and freed in the probe (n, n+10, n)",
               selfcheck)
    samples = [(int(v[0]), int(v[2]), int(v[4])) for v in report.all("gdi")]
    case.check(len(samples) >= 15, "GDI counts sampled every 2 s over 30 s", len(samples))
    gui_resources = sorted({s[1] for s in samples})
    print(f"GetGuiResources(GR_GDIOBJECTS) reported: {gui_resources}")
    table = [s[2] for s in samples]
    print(f"GDI handle-table counts: {table}")
    case.check(all(count > 0 for count in table), "the launcher's GDI handle table to be readable",
               table)
    if table:
        case.check(max(table) - min(table) <= 2 and table[-1] <= table[0],
                   "a flat GDI object count (spread at most 2, not growing)",
                   f"from {table[0]} to {table[-1]}, range {min(table)}..{max(table)}")
    if any(gui_resources):
        counts = [s[1] for s in samples]
        case.check(max(counts) - min(counts) <= 2, "a flat GetGuiResources count", counts)


# ----------------------------------------------------------------- focus


def case_focus_reactivation(case):
    """The focus moved to Command2 stays there when the user switches to
    another window and back, so Enter then presses Command2."""
    folder = case.folder_with_launcher(os.path.join(case.work, "plain folder"))
    steps = ["key:tab", "focus", "deactivate", "activate", "focus", "key:enter", "exit", "settle"]
    report, _ = case.probe(windows_path(os.path.join(folder, "Halvaro.exe")), steps)
    focus = [values[0] for values in report.all("focus")]
    foreground = [values[0] for values in report.all("foreground")]
    case.check(foreground == ["probe", "form"], "the probe's window, then the launcher's, in the foreground",
               foreground)
    case.check(focus == ["command2", "command2"],
               "the focus on command2 after Tab, and again after the window is activated anew", focus)
    case.check_exit(report, "Enter after the window was activated anew")
    case.check(case.installer_starts() == [(windows_path(folder) + "\\setup8.exe", "/admin")],
               "Enter to start setup8.exe once", case.installer_starts())


# -------------------------------------------------------------- dispatch


def dispatch_rows(case):
    """(name, folder, launcher arguments, steps, installer expected or
    None, its parameters) for every dispatch case."""
    plain = os.path.join(case.work, "plain folder")
    return {
        "no_arguments": (plain, None, ["click:command2"], "setup8.exe", "/admin"),
        "one_argument": (plain, "x", ["click:command2"], "setup8.exe", "x /admin"),
        "quotes_and_spaces": (plain, '"C:\\My Files\\a b.txt" -q  "z"', ["click:command2"],
                              "setup8.exe", '"C:\\My Files\\a b.txt" -q  "z" /admin'),
        "kurdish_folder": (os.path.join(case.work, KURDISH_FOLDER), None, ["click:command2"],
                           "setup8.exe", "/admin"),
        "space_on_command1": (plain, None, ["key:space"], "setup7.exe", "/admin"),
        "enter_on_command1": (plain, None, ["key:enter"], "setup7.exe", "/admin"),
        "enter_on_command2": (plain, None, ["key:tab", "key:enter"], "setup8.exe", "/admin"),
        "enter_on_command3": (plain, None, ["key:tab", "key:tab", "key:enter"], None, None),
        "double_click": (plain, None, ["dblclick:command2"], "setup8.exe", "/admin"),
        "esc": (plain, None, ["key:esc"], None, None),
        "title_bar_close": (plain, None, ["click:close"], None, None),
    }


def run_dispatch(case, folder, launcher, arguments, steps, installer, parameters, how,
                 request_file=None, may_fail_to_start=False, **probe_options):
    """Runs one dispatch row; installer None means nothing may start."""
    report, stderr = case.probe(launcher, steps + ["exit", "settle"], arguments=arguments, trace=True,
                                may_fail_to_start=may_fail_to_start, **probe_options)
    if may_fail_to_start and report.one("form") == ["none"]:
        return report
    starts = case.installer_starts()
    requests = shell_requests(stderr)
    print(f"installer starts: {starts}\nshell requests: {requests}")
    if installer is None:
        case.check_nothing_started(report, how)
        case.check(requests == [], f"no shell request after {how}", requests)
        return report
    case.check_exit(report, how)
    expected_path = folder + ("" if folder.endswith("\\") else "\\") + installer
    case.check(starts == [(expected_path, parameters)],
               f"exactly one start of {expected_path!r} with parameters {parameters!r} after {how}",
               starts)
    expected_request = (request_file or (folder.rstrip("\\") + "\\" + installer), parameters)
    case.check(requests == [expected_request],
               f"one shell request for file {expected_request[0]!r} with parameters {parameters!r}",
               requests)
    return report


def case_dispatch(case, row):
    if row == "drive_root":
        return case_drive_root(case)
    if row == "long_path":
        return case_long_path(case)
    if row == "planted_libraries":
        return case_planted_libraries(case)
    if row == "click_while_closing":
        return case_click_while_closing(case)
    if row == "missing_installer":
        folder = case.folder_with_launcher(os.path.join(case.work, "no installers"), installers=())
        report, stderr = case.probe(windows_path(os.path.join(folder, "Halvaro.exe")),
                                    ["click:command2", "exit", "settle"], trace=True)
        case.check_exit(report, "a click on command2 with setup8.exe missing")
        case.check(case.installer_starts() == [], "nothing started", case.installer_starts())
        requests = shell_requests(stderr)
        case.check(len(requests) == 1, "one shell request, for the missing installer", requests)
        return
    folder, arguments, steps, installer, parameters = dispatch_rows(case)[row]
    case.folder_with_launcher(folder)
    run_dispatch(case, windows_path(folder), windows_path(os.path.join(folder, "Halvaro.exe")),
                 arguments, steps, installer, parameters, f"{' '.join(steps)} (row {row})")


def case_planted_libraries(case):
    """A copy of every library the launcher may load beyond the safe ones
    (plant_names.py), and of the shell it binds by full path, planted
    beside it, is never loaded: the launcher takes each from the system
    folder. Wine is told to prefer native copies of those names wherever
    one is found, as a Windows without them on its known-DLL list behaves,
    so a search that looked in the launcher's folder would load the planted
    copy. Drawing the captions binds Uniscribe; the click binds the shell."""
    folder = case.folder_with_launcher(os.path.join(case.work, "download folder"))
    unsafe = plant_names(os.path.join(folder, "Halvaro.exe"))
    case.check("usp10.dll" in unsafe, "the launcher's image to name usp10.dll", unsafe)
    names = sorted(set(unsafe) | {"shell32.dll"})
    print(f"planted as: {names}")
    for name in names:
        shutil.copy(case.program("planted.dll"), os.path.join(folder, name))
    planted_log = os.path.join(case.work, "planted.log")
    overrides = ",".join(name[:-len(".dll")] for name in names) + "=n,b"
    report, _ = case.probe(windows_path(os.path.join(folder, "Halvaro.exe")),
                           ["click:command2", "exit", "settle"], dll_overrides=overrides,
                           env={"PLANTED_DLL_LOG": windows_path(planted_log)})
    loaded = open(planted_log, encoding="utf-8").read().splitlines() if os.path.exists(planted_log) else []
    case.check(loaded == [], f"no planted library ({', '.join(names)}) ever loaded", loaded)
    case.check_exit(report, "a click on command2 beside planted libraries")
    case.check(case.installer_starts() == [(windows_path(folder) + "\\setup8.exe", "/admin")],
               "setup8.exe started once with /admin through the system's shell32",
               case.installer_starts())


def case_click_while_closing(case):
    """A second activation while the first is still in progress: as
    Command2's start request closes the form, a hook in the launcher sends
    it a click of Command1 (launcherhooks.dll). Only setup8.exe starts."""
    folder = case.folder_with_launcher(os.path.join(case.work, "plain folder"))
    run_dispatch(case, windows_path(folder), windows_path(os.path.join(folder, "Halvaro.exe")), None,
                 ["click:command2"], "setup8.exe", "/admin",
                 "a click on command2 and one on command1 while the form closes", second_click=True)


def case_drive_root(case):
    """The launcher at the root of drive R: (a dosdevices link): the shell
    is asked for "R:\\\\setup8.exe" and Windows starts R:\\setup8.exe."""
    root = case.folder_with_launcher(os.path.join(case.work, "drive-r"))
    dosdevices = os.path.join(os.environ["WINETEST_ROOT"], "prefix", "dosdevices")
    link = os.path.join(dosdevices, "r:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(root, link)
    try:
        run_dispatch(case, "R:\\", "R:\\Halvaro.exe", None, ["click:command2"], "setup8.exe", "/admin",
                     "a click on command2 at a drive root", request_file="R:\\\\setup8.exe")
    finally:
        os.remove(link)


def case_long_path(case):
    """A folder path longer than 260 characters."""
    folder = case.work
    while len(windows_path(folder)) <= 270:
        folder = os.path.join(folder, "a folder name that makes the whole path long")
    case.folder_with_launcher(folder)
    print(f"launcher folder: {len(windows_path(folder))} characters")
    report = run_dispatch(case, windows_path(folder), windows_path(os.path.join(folder, "Halvaro.exe")),
                          None, ["click:command2"], "setup8.exe", "/admin",
                          "a click on command2 in a folder over 260 characters long",
                          may_fail_to_start=True)
    if report.one("form") == ["none"]:
        errors = "; ".join(f"error {e[0]} for {e[1][:12]}..." for e in report.all("start_error"))
        print(f"SKIPPED: Wine cannot start a program from a {len(windows_path(folder))}-character "
              f"folder path: CreateProcessW failed ({errors})")
        return SKIPPED
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="tests/wine/run")
    parser.add_argument("--windows", required=True, help="the windows-x64 build folder")
    parser.add_argument("--work", required=True, help="a folder for this test's files")
    parser.add_argument("case", help="window-96, window-120, window-144, captions-without_uniscribe, pulse, "
                                     "gdi, focus-reactivation or dispatch-<row>")
    args = parser.parse_args()
    args.windows = os.path.abspath(args.windows)
    args.work = os.path.abspath(args.work)
    case = Case(args, args.case)
    if args.case.startswith("window-"):
        status = case_window(case, int(args.case.split("-")[1]))
    elif args.case == "captions-without_uniscribe":
        status = case_captions_without_uniscribe(case)
    elif args.case == "pulse":
        status = case_pulse(case)
    elif args.case == "gdi":
        status = case_gdi(case)
    elif args.case == "focus-reactivation":
        status = case_focus_reactivation(case)
    elif args.case.startswith("dispatch-"):
        status = case_dispatch(case, args.case[len("dispatch-"):])
    else:
        parser.error(f"unknown case {args.case}")
    for failure in case.failures:
        print(f"FAILED {failure}")
    if case.failures:
        return 1
    return status or 0


if __name__ == "__main__":
    sys.exit(main())
