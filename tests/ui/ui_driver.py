#!/usr/bin/env python3
"""Drives the bootstrapper's window under Wine and Xvfb the way a user would.

Pointer and keyboard input go through xdotool at the layout's design coordinates (design x f =
client pixels, f = dpi / 96 x 2/3); every page and overlay is captured from the X root window
and checked by pixel probes at the same coordinates. Two programs are driven:

  LumoraWebSetup.exe  the shipped executable: welcome page, agreement, links (with and without
                      a desktop shell), custom page, path field, folder picker, shortcut marks,
                      minimise and second start, 144 DPI.
  ui_harness.exe      the same window around the real controller, whose statuses and questions
                      come from a command file (the install workflow cannot be stopped at a
                      given stage in the test bed): progress, completion, failure overlays,
                      the worker's questions, the exit question.

State that a screenshot cannot show (the native path field sits under the Direct2D surface in
Wine's GL presentation) is read with ui_probe.exe. The legal documents go to url_recorder.exe,
registered as the prefix's https handler, which records each URL and the process that started
it. Screenshots go to BUILD/screenshots.

  ui_driver.py --build BUILD_DIR --source SOURCE_DIR
"""
import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import zlib

TITLE = "LumoraMP3"  # start of the window title; the test bed shows no other such window

WHITE = (255, 255, 255)
RED_START = (255, 60, 56)
RED_END = (255, 53, 100)
HOVER_START = (245, 55, 52)
HOVER_END = (245, 48, 95)
PRESSED_START = (230, 50, 47)
PRESSED_END = (230, 43, 86)
DISABLED = (199, 199, 204)
UNCHECKED = (204, 204, 209)
TRACK = (230, 230, 235)
FLAT_ON_WHITE = (244, 244, 245)  # (39, 43, 50) at alpha 13/255 over white
SCRIM_ON_WHITE = (209, 209, 209)  # black at alpha 0.18 over white

# Design rectangles (left, top, right, bottom), as the window lays them out.
WELCOME_INSTALL = (204, 369, 696, 441)
CUSTOM_INSTALL = (120, 369, 441, 441)
BACK = (459, 369, 780, 441)
LAUNCH = (204, 414, 696, 487)
CHANGE_FOLDER = (712, 189, 832, 246)
DIALOG_CANCEL = (141, 322, 441, 394)
DIALOG_CONFIRM = (459, 322, 759, 394)
TITLE_RECT = (150, 278, 750, 340)
LINKS_RECT = (125, 515, 471, 555)
CUSTOM_LINK = (724, 515, 850, 555)
FREE_SPACE = (680, 270, 840, 310)
PROGRESS_TEXT = (100, 495, 800, 545)
COMPLETED_TEXT = (150, 306, 750, 352)
DIALOG_TITLE = (110, 140, 790, 200)
DIALOG_BODY = (110, 210, 790, 285)
CLOSE_GLYPH = (870, 45)

HTTPS_HANDLER = r"HKLM\Software\Classes\https\shell\open\command"

# Names of DLLs the program loads that are not on Windows' known-DLL list (so Windows would look
# for them beside the executable first), and of some that system DLLs load in turn. version.dll
# is left out: Wine's own start-up code loads it through the default search path before the
# program runs, which Windows does not do.
PLANTED_DLLS = ["winhttp", "bcrypt", "crypt32", "wintrust", "d2d1", "dwrite", "dwmapi",
                "windowscodecs", "uxtheme", "comctl32"]
MINIMISE_GLYPH = (825, 45)


def centre(rect):
    return ((rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2)


class Failed(Exception):
    pass


class Image:
    def __init__(self, width, height, rgb, factor):
        self.width, self.height, self.rgb, self.f = width, height, rgb, factor

    def pixel(self, x, y):
        """Colour at design coordinates."""
        return self.raw(int(x * self.f), int(y * self.f))

    def raw(self, px, py):
        px = min(max(px, 0), self.width - 1)
        py = min(max(py, 0), self.height - 1)
        k = (py * self.width + px) * 3
        return tuple(self.rgb[k:k + 3])

    def region(self, rect):
        """Pixels of a design rectangle, row by row."""
        x0, y0 = int(rect[0] * self.f), int(rect[1] * self.f)
        x1, y1 = int(rect[2] * self.f), int(rect[3] * self.f)
        return [self.raw(x, y) for y in range(y0, y1) for x in range(x0, x1)]

    def count(self, rect, predicate):
        return sum(1 for c in self.region(rect) if predicate(c))

    def save(self, path):
        raw = bytearray()
        stride = self.width * 3
        for y in range(self.height):
            raw.append(0)
            raw.extend(self.rgb[y * stride:(y + 1) * stride])

        def chunk(kind, data):
            return (struct.pack(">I", len(data)) + kind + data +
                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
            out.write(chunk(b"IEND", b""))


def near(colour, expected, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def is_dark(c):
    return max(c) < 110


def is_gray_text(c):
    return max(c) < 170 and max(c) - min(c) < 30


def is_blue(c):
    return c[2] > 120 and c[2] - c[0] > 40


def is_strong_red(c):
    return c[0] > 200 and c[1] < 140 and c[2] < 170


def differing(a, b):
    return sum(1 for p, q in zip(a, b) if max(abs(x - y) for x, y in zip(p, q)) > 40)


class Driver:
    def __init__(self, build, source):
        self.build = os.path.abspath(build)
        self.source = os.path.abspath(source)
        self.testbed = os.path.join(self.build, "testbed")
        self.wine_run = os.path.join(self.source, "tools", "testbed", "wine-run.sh")
        self.setup_exe = os.path.join(self.build, "app", "LumoraWebSetup.exe")
        self.harness_exe = os.path.join(self.build, "tests", "ui_harness.exe")
        self.probe_exe = os.path.join(self.build, "tests", "ui_probe.exe")
        self.shots = os.path.join(self.build, "screenshots")
        self.work = os.path.join(self.testbed, "scratch", "ui-driver")
        os.makedirs(self.shots, exist_ok=True)
        os.makedirs(self.work, exist_ok=True)
        with open(os.path.join(self.testbed, "display")) as f:
            display = f.read().strip()
        self.env = dict(os.environ, DISPLAY=display, WINEPREFIX=os.path.join(self.testbed, "prefix"),
                        WINEDEBUG="-all")
        self.processes = []
        self.passed = 0
        self.failed = 0
        self.dpi = 96
        self.window = None
        self.geometry = None
        self.desktop_keeper = ""

    # ---------------------------------------------------------------------------- bookkeeping
    def check(self, ok, name, detail=""):
        if ok:
            self.passed += 1
            print(f"PASS {name}")
        else:
            self.failed += 1
            print(f"FAIL {name} {detail}")
        sys.stdout.flush()
        return ok

    def expect_colour(self, image, x, y, expected, tolerance, name):
        got = image.pixel(x, y)
        return self.check(near(got, expected, tolerance), name,
                          f"at design ({x}, {y}): {got}, expected {expected} +-{tolerance}")

    # ------------------------------------------------------------------------------ processes
    def winpath(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def start(self, exe, *args, env=None):
        log = open(os.path.join(self.work, os.path.basename(exe) + ".log"), "ab")
        process = subprocess.Popen(["bash", self.wine_run, self.testbed, exe, *args],
                                   env=env or self.env,
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def run(self, *args, timeout=60):
        # Output goes through a file, not a pipe: Wine's helper processes that such a call may
        # start outlive it and would hold a pipe open.
        with open(os.path.join(self.work, "run.out"), "w+b") as out:
            done = subprocess.run(["bash", self.wine_run, self.testbed, *args], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                  timeout=timeout)
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", "replace").strip()

    def end_all(self):
        """Ends whatever this driver started and is still running, by its process group."""
        for process in self.processes:
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(timeout=30)
        self.processes = []
        self.window = None

    def wait_exit(self, process, name, expected=0, timeout=60):
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return self.check(False, name, f"still running after {timeout} s")
        return self.check(code == expected, name, f"exit code {code}, expected {expected}")

    def probe(self, what):
        code, out = self.run(self.probe_exe, what)
        fields = {}
        if "text=" in out:
            out, fields["text"] = out.split("text=", 1)
        for word in out.split():
            key, _, value = word.partition("=")
            fields[key] = value
        return fields

    def reg(self, *args):
        self.run("reg", *args)

    def restart_prefix(self):
        """Ends every process of the prefix and starts its persistent wineserver and the desktop
        keeper again, as testbed.sh leaves them."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL)
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
        if self.desktop_keeper:
            # Not one of self.processes: it stays until the prefix ends.
            with open(os.path.join(self.work, "desktop_keeper.log"), "ab") as log:
                subprocess.Popen(["bash", self.wine_run, self.testbed, self.desktop_keeper],
                                 env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True)

    def set_dpi(self, dpi):
        """LogPixels takes effect for a new wineserver: restart the test bed's persistent one."""
        self.reg("add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                 "/d", str(dpi), "/f")
        self.restart_prefix()
        self.dpi = dpi

    # ---------------------------------------------------------------------------- the window
    @property
    def f(self):
        return self.dpi / 96.0 * 0.6666667

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                              timeout=30).stdout.decode().strip()

    def find_window(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            ids = self.xdotool("search", "--onlyvisible", "--name", TITLE).split()
            if ids:
                self.window = ids[-1]
                geometry = {}
                for line in self.xdotool("getwindowgeometry", "--shell", self.window).splitlines():
                    key, _, value = line.partition("=")
                    geometry[key] = int(value) if value.lstrip("-").isdigit() else value
                self.geometry = geometry
                return True
            time.sleep(0.2)
        return False

    def click(self, x, y):
        self.xdotool("mousemove", "--window", self.window, str(int(x * self.f)),
                     str(int(y * self.f)), "click", "1")

    def move(self, x, y):
        self.xdotool("mousemove", "--window", self.window, str(int(x * self.f)),
                     str(int(y * self.f)))

    def capture(self, name=None):
        g = self.geometry
        expected = g["WIDTH"] * g["HEIGHT"] * 3
        for _ in range(5):
            # xwd fails now and then when a window goes away while it reads the screen.
            shot = subprocess.run(
                f"xwd -root -silent | convert xwd:- -crop {g['WIDTH']}x{g['HEIGHT']}+{g['X']}+{g['Y']}"
                " +repage -depth 8 rgb:-", shell=True, env=self.env, capture_output=True, timeout=60)
            if len(shot.stdout) == expected:
                break
            time.sleep(0.2)
        else:
            raise Failed("screen capture failed: " + shot.stderr.decode())
        image = Image(g["WIDTH"], g["HEIGHT"], shot.stdout, self.f)
        if name:
            image.save(os.path.join(self.shots, name + ".png"))
        return image

    def wait_for(self, predicate, name, timeout=20, shot=None):
        """Captures until predicate(image) holds; a generous bound, not a timing assertion."""
        deadline = time.time() + timeout
        image = self.capture()
        while not predicate(image) and time.time() < deadline:
            time.sleep(0.15)
            image = self.capture()
        ok = predicate(image)
        if shot:
            image = self.capture(shot) if ok else image
        if not ok:
            safe = "".join(c if c.isalnum() else "-" for c in name)
            image.save(os.path.join(self.shots, "failed-" + safe + ".png"))
        self.check(ok, name)
        return image

    def open_window(self, exe, *args, name, env=None):
        process = self.start(exe, *args, env=env)
        if not self.check(self.find_window(), f"{name}: window appears"):
            raise Failed(name)
        self.check(self.geometry["WIDTH"] == int(600 * self.dpi / 96) and
                   self.geometry["HEIGHT"] == int(400 * self.dpi / 96),
                   f"{name}: window size at {self.dpi} DPI",
                   f"{self.geometry['WIDTH']} x {self.geometry['HEIGHT']}")
        return process

    # ---------------------------------------------------------------------------- page tests
    def button_ends(self, rect):
        y = (rect[1] + rect[3]) / 2
        return (rect[0] + 6, y), (rect[2] - 6, y)

    def primary_colours(self, image, rect, start, end):
        (lx, ly), (rx, ry) = self.button_ends(rect)
        return near(image.pixel(lx, ly), start, 5) and near(image.pixel(rx, ry), end, 5)

    def welcome_drawn(self, image):
        return self.primary_colours(image, WELCOME_INSTALL, RED_START, RED_END)

    def scrim_shown(self, image):
        return near(image.pixel(450, 590), SCRIM_ON_WHITE, 4) and near(image.pixel(100, 300), WHITE, 2)

    def no_scrim(self, image):
        return near(image.pixel(450, 590), WHITE, 2)

    def progress_shown(self, image):
        return near(image.pixel(899, 463.5), TRACK, 4) or near(image.pixel(899, 463.5), RED_START, 4)

    def check_mark(self, image, left, top):
        return image.pixel(left + 11, top + 12)

    def check_welcome_page(self, image, label):
        self.expect_colour(image, 450, 585, WHITE, 1, f"{label}: white canvas")
        hero = image.pixel(20, 20)
        self.check(not near(hero, WHITE, 10), f"{label}: hero image drawn", str(hero))
        logo = image.pixel(449.75, 243)
        self.check(is_strong_red(logo), f"{label}: logo drawn", str(logo))
        dark = image.count(TITLE_RECT, is_dark)
        self.check(dark > 150 * self.f * self.f, f"{label}: title text drawn", f"{dark} dark pixels")
        blue = image.count(LINKS_RECT, is_blue)
        self.check(blue > 60 * self.f * self.f, f"{label}: link labels drawn in blue", f"{blue}")
        gray = image.count(CUSTOM_LINK, is_gray_text)
        self.check(gray > 30 * self.f * self.f, f"{label}: custom-install link drawn", f"{gray}")
        (lx, ly), (rx, ry) = self.button_ends(WELCOME_INSTALL)
        self.expect_colour(image, lx, ly, RED_START, 5, f"{label}: install button gradient start")
        self.expect_colour(image, rx, ry, RED_END, 5, f"{label}: install button gradient end")
        self.expect_colour(image, 63, 528, RED_START, 4, f"{label}: agreement mark checked")
        tick = image.pixel(65.5, 535)
        self.check(tick[1] > 140, f"{label}: white tick in the mark", str(tick))

    # ------------------------------------------------------------------------------ scenarios
    def scenario_welcome(self):
        """Welcome page, hover and press colours, agreement mark, links, agreement overlay."""
        open(self.opened_log, "w").close()
        process = self.open_window(self.setup_exe, name="welcome")
        image = self.wait_for(self.welcome_drawn, "welcome: page drawn", timeout=60, shot="welcome")
        self.check_welcome_page(image, "welcome")

        install = (250, 405)
        self.move(*install)
        image = self.wait_for(lambda i: self.primary_colours(i, WELCOME_INSTALL, HOVER_START, HOVER_END),
                              "welcome: hover colours on the install button", shot="welcome-hover")
        self.xdotool("mousedown", "1")
        self.wait_for(lambda i: self.primary_colours(i, WELCOME_INSTALL, PRESSED_START, PRESSED_END),
                      "welcome: pressed colours while pressed over the button")
        self.move(450, 495)  # still pressed, now off the button
        self.wait_for(self.welcome_drawn, "welcome: no pressed colours once the pointer left")
        self.xdotool("mouseup", "1")  # released on nothing: no click target
        image = self.capture()
        self.check(self.welcome_drawn(image) and near(self.check_mark(image, 52, 516), RED_START, 4),
                   "welcome: release outside every target changes nothing")

        self.click(100, 535)  # the mark's label "同意"
        image = self.wait_for(lambda i: near(self.check_mark(i, 52, 516), UNCHECKED, 4),
                              "welcome: clicking the agreement row clears the mark",
                              shot="welcome-unchecked")
        (lx, ly), (rx, ry) = self.button_ends(WELCOME_INSTALL)
        self.expect_colour(image, lx, ly, DISABLED, 3, "welcome: install button gray when not agreed")
        self.move(*install)
        time.sleep(0.5)
        image = self.capture()
        self.expect_colour(image, lx, ly, DISABLED, 3, "welcome: no hover colour on the gray button")
        self.move(450, 495)
        self.click(228.5, 535)  # the gap between the first two links
        self.wait_for(lambda i: near(self.check_mark(i, 52, 516), RED_START, 4),
                      "welcome: the gap between links toggles the mark")
        self.click(600, 535)  # right of the last link
        self.wait_for(lambda i: near(self.check_mark(i, 52, 516), UNCHECKED, 4),
                      "welcome: right of the last link toggles the mark")

        self.click(281, 535)  # "《隐私政策》"
        self.wait_for_documents(["/html/android/lumora/privacy_policy.html"],
                                "welcome: privacy-policy link opens its document")
        image = self.capture()
        self.expect_colour(image, 63, 528, UNCHECKED, 4, "welcome: a link click leaves the mark alone")

        # Not agreed: the install button asks first.
        self.click(*install)
        image = self.wait_for(self.scrim_shown, "agreement: overlay shown over the page",
                              shot="overlay-agreement")
        self.expect_colour(image, *self.button_ends(DIALOG_CONFIRM)[0], RED_START, 5,
                           "agreement: confirm button red")
        self.expect_colour(image, 180, 358, FLAT_ON_WHITE, 3, "agreement: cancel button flat")
        dark = image.count(DIALOG_TITLE, is_dark)
        self.check(dark > 80 * self.f * self.f, "agreement: title drawn", f"{dark}")
        links = self.sentence_links(image)
        if self.check(links is not None, "agreement: sentence drawn with blue titles inside dark text"):
            x0, x1 = links
            unit = (x1 - x0) / 20.0  # the three titles are 20 characters
            y = 232.5
            open(self.opened_log, "w").close()
            self.click(x0 - 2.5 * unit, y)  # "阅读"
            self.click(x0 + 16 * unit, y)  # inside "《会员服务协议》"
            self.click(x0 + 3 * unit, y)  # inside "《用户协议》"
            if self.probe("hittest").get("supported") == "1":
                self.wait_for_documents(["/html/android/lumora/vip_service.html",
                                         "/html/android/lumora/user_agreement.html"],
                                        "agreement: titles in the sentence open their documents, "
                                        "the plain words nothing", ordered=False)
            else:
                # Hit-testing fails here, and a failed hit test names no document.
                print("NOTE DirectWrite hit-testing is not implemented by this Wine")
                self.wait_for_documents([], "agreement: no document without a hit test")
            self.check(self.scrim_shown(self.capture()), "agreement: overlay stays after a link")

        self.click(*centre(DIALOG_CANCEL))
        image = self.wait_for(self.no_scrim, "agreement: cancel closes the overlay")
        self.expect_colour(image, 63, 528, UNCHECKED, 4, "agreement: cancel leaves the mark cleared")

        self.click(*install)
        self.wait_for(self.scrim_shown, "agreement: overlay shown again")
        self.click(*centre(DIALOG_CONFIRM))
        image = self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                              "agreement: accepting starts the installation (progress page)",
                              shot="progress-started")
        self.expect_colour(image, 63, 528, WHITE, 1, "progress: welcome page gone")
        self.check(self.probe("edit").get("visible") == "0", "progress: path field hidden")

        # Busy: closing asks first; "取消" keeps the run, "确定" ends the program.
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "exit question: shown when closing during a run",
                      shot="overlay-exit-real")
        self.click(*centre(DIALOG_CANCEL))
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                      "exit question: cancel keeps the run and the window")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "exit question: shown again")
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_exit(process, "exit question: confirm ends the program with 0")

    def sentence_links(self, image):
        """Pixel columns (in design units) of the blue titles inside the agreement sentence."""
        f = image.f
        blue_columns, dark_columns = [], []
        for px in range(int(90 * f), int(810 * f)):
            column = [image.raw(px, py) for py in range(int(215 * f), int(252 * f))]
            if any(is_blue(c) for c in column):
                blue_columns.append(px / f)
            elif any(is_dark(c) for c in column):
                dark_columns.append(px / f)
        if not blue_columns or not dark_columns:
            return None
        x0, x1 = min(blue_columns), max(blue_columns)
        if not (min(dark_columns) < x0 and max(dark_columns) > x1):
            return None
        return x0, x1

    def opened_documents(self):
        """(URL, parent process id, parent executable) of each document the recorder got."""
        with open(self.opened_log, encoding="utf-8") as f:
            rows = [line.rstrip("\r\n").split("\t") for line in f if line.strip()]
        return [tuple(row + ["", ""])[:3] for row in rows]

    def wait_for_documents(self, expected_paths, name, timeout=30, ordered=True):
        """The documents opened since the log was emptied, and that the desktop shell opened
        each of them: the bootstrapper runs elevated, a browser it started would too."""
        deadline = time.time() + timeout
        while expected_paths and time.time() < deadline:
            if len(self.opened_documents()) >= len(expected_paths):
                break
            time.sleep(0.2)
        time.sleep(3.0)  # anything opened by mistake shows up by now as well
        opened = self.opened_documents()
        urls = [url for url, _, _ in opened]
        expected = [f"https://localhost:{self.port}" + p for p in expected_paths]
        if not ordered:
            urls, expected = sorted(urls), sorted(expected)
        self.check(urls == expected, name, f"opened {urls}")
        if opened:
            parents = sorted({(exe, pid) for _, pid, exe in opened})
            self.check(all(exe.lower() == "explorer.exe" for exe, _ in parents),
                       f"{name}: through the desktop shell (explorer.exe), not LumoraWebSetup.exe",
                       f"started by {parents}")

    def installer_log(self):
        path = os.path.join(self.testbed, "prefix", "drive_c", "ProgramData", "VIVOV3",
                            "InstallerCache", "installer.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def scenario_welcome_without_shell(self):
        """With no desktop shell a legal link opens nothing, since the elevated window must not
        open it itself, and installer.log says so. The shell is really ended; Wine starts no new
        one, so the prefix's processes are restarted afterwards."""
        open(self.opened_log, "w").close()
        logged_before = len(self.installer_log())
        process = self.open_window(self.setup_exe, name="no shell")
        try:
            self.wait_for(self.welcome_drawn, "no shell: welcome page drawn", timeout=60)
            shell = self.probe("shell").get("shell", "0")
            if shell != "0":
                self.run("taskkill", "/F", "/PID", shell)
            deadline = time.time() + 20
            while self.probe("shell").get("shell") != "0" and time.time() < deadline:
                time.sleep(0.2)
            if not self.check(self.probe("shell").get("shell") == "0",
                              "no shell: the desktop shell has ended", str(self.probe("shell"))):
                raise Failed("the desktop shell is still there")

            self.click(281, 535)  # "《隐私政策》"
            url = f"https://localhost:{self.port}/html/android/lumora/privacy_policy.html"
            line = f"[legal] 无法通过桌面外壳打开：{url}\r\n"
            deadline = time.time() + 30
            while line not in self.installer_log()[logged_before:] and time.time() < deadline:
                time.sleep(0.2)
            self.check(line in self.installer_log()[logged_before:],
                       "no shell: installer.log records the document that could not be opened",
                       repr(self.installer_log()[logged_before:][-300:]))
            self.wait_for_documents([], "no shell: the privacy-policy link opens nothing")
            image = self.capture("welcome-no-shell")
            self.check(self.welcome_drawn(image) and
                       near(self.check_mark(image, 52, 516), RED_START, 4),
                       "no shell: the page and the agreement mark stay as they were")
            self.click(*CLOSE_GLYPH)
            self.wait_exit(process, "no shell: closing ends with 0")
        finally:
            self.end_all()
            self.restart_prefix()

    def scenario_custom(self):
        """Minimise and second start, custom page, path field, picker, marks, back, install."""
        process = self.open_window(self.setup_exe, name="custom")
        self.wait_for(self.welcome_drawn, "custom: welcome page drawn", timeout=60)

        self.click(*MINIMISE_GLYPH)
        deadline = time.time() + 20
        while self.probe("state").get("iconic") != "1" and time.time() < deadline:
            time.sleep(0.2)
        self.check(self.probe("state").get("iconic") == "1", "minimise glyph minimises the window")
        code, _ = self.run(self.setup_exe, timeout=90)
        self.check(code == 0, "second start ends with 0", f"exit code {code}")
        state = self.probe("state")
        self.check(state.get("iconic") == "0" and state.get("foreground") == "1",
                   "second start restores and raises the first window", str(state))
        self.check(self.find_window(), "custom: window visible again")
        self.wait_for(self.welcome_drawn, "custom: restored window drawn")

        self.click(*centre(CUSTOM_LINK))
        image = self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6),
                              "custom: page shown", shot="custom")
        edit = self.probe("edit")
        f = self.f
        self.check(edit.get("visible") == "1", "custom: path field shown", str(edit))
        self.check((edit.get("x"), edit.get("y"), edit.get("w"), edit.get("h")) ==
                   (str(int(68 * f)), str(int(200 * f)), str(int(643 * f)), str(int(45 * f))),
                   "custom: path field placed in the path box", str(edit))
        self.check(edit.get("text") == r"C:\Program Files\VIVOV3", "custom: proposed folder shown",
                   str(edit))
        self.expect_colour(image, 93, 282, RED_START, 4, "custom: desktop shortcut checked")
        self.expect_colour(image, 306, 282, RED_START, 4, "custom: start-menu entry checked")
        self.expect_colour(image, 480, 405, FLAT_ON_WHITE, 3, "custom: back button flat")
        (lx, ly), (rx, ry) = self.button_ends(CUSTOM_INSTALL)
        self.expect_colour(image, lx, ly, RED_START, 5, "custom: install button gradient start")
        self.expect_colour(image, rx, ry, RED_END, 5, "custom: install button gradient end")
        self.expect_colour(image, 450, 560, WHITE, 1, "custom: white canvas")
        free_before = image.region(FREE_SPACE)
        gray = sum(1 for c in free_before if is_gray_text(c))
        self.check(gray > 20 * f * f, "custom: free-space text drawn", f"{gray}")

        self.click(150, 290)
        self.wait_for(lambda i: near(i.pixel(93, 282), UNCHECKED, 4), "custom: desktop mark toggles")
        self.click(400, 290)
        self.wait_for(lambda i: near(i.pixel(306, 282), UNCHECKED, 4),
                      "custom: start-menu mark toggles", shot="custom-unchecked")
        self.click(150, 290)
        self.wait_for(lambda i: near(i.pixel(93, 282), RED_START, 4), "custom: desktop mark back on")

        # Typed into the native field: a folder on no drive has no free space to show.
        self.click(300, 222)
        self.xdotool("key", "End")
        self.xdotool("key", "--repeat", "40", "BackSpace")
        self.xdotool("type", "--delay", "15", r"Q:\nowhere")
        deadline = time.time() + 10
        while self.probe("edit").get("text") != r"Q:\nowhere" and time.time() < deadline:
            time.sleep(0.2)
        self.check(self.probe("edit").get("text") == r"Q:\nowhere", "custom: typing edits the path")
        self.move(450, 560)  # a repaint picks up the new text
        self.click(450, 560)
        image = self.wait_for(lambda i: differing(i.region(FREE_SPACE), free_before) > 10,
                              "custom: free-space text follows the typed path",
                              shot="custom-typed-path")

        # Folder picker: chosen folder goes into the field, a cancelled picker changes nothing.
        self.click(*centre(CHANGE_FOLDER))
        if self.check(self.wait_window("Select Folder"), "picker: folder dialog opens"):
            time.sleep(0.5)
            self.xdotool("type", "--delay", "15", r"C:\windows")
            self.xdotool("key", "Return")
            deadline = time.time() + 15
            while self.probe("edit").get("text") != r"C:\windows" and time.time() < deadline:
                time.sleep(0.2)
            self.check(self.probe("edit").get("text") == r"C:\windows",
                       "picker: chosen folder put into the path field", str(self.probe("edit")))
        self.click(*centre(CHANGE_FOLDER))
        if self.check(self.wait_window("Select Folder"), "picker: opens again"):
            time.sleep(0.5)
            self.xdotool("key", "Escape")
            self.wait_window("Select Folder", present=False)
            self.check(self.probe("edit").get("text") == r"C:\windows",
                       "picker: cancelling keeps the path")

        self.find_window()
        self.click(*centre(BACK))
        self.wait_for(self.welcome_drawn, "custom: back returns to the welcome page")
        self.check(self.probe("edit").get("visible") == "0", "custom: back hides the path field")
        self.click(*centre(CUSTOM_LINK))
        self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "custom: page shown again")
        self.check(self.probe("edit").get("text") == r"C:\windows", "custom: path kept across pages")
        self.click(200, 405)
        self.wait_for(lambda i: self.progress_shown(i) and not near(i.pixel(722, 217), RED_START, 30),
                      "custom: install button starts the installation")
        self.check(self.probe("edit").get("visible") == "0", "custom: path field hidden during a run")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "custom: exit question")
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_exit(process, "custom: program ends with 0")

    def wait_window(self, name, present=True, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = bool(self.xdotool("search", "--onlyvisible", "--name", name))
            if found == present:
                return True
            time.sleep(0.2)
        return False

    def scenario_high_dpi(self):
        """144 DPI: the window, its path field and the pages scale by 1.5."""
        self.set_dpi(144)
        try:
            process = self.open_window(self.setup_exe, name="144 DPI")
            image = self.wait_for(self.welcome_drawn, "144 DPI: welcome page drawn", timeout=90,
                                  shot="welcome-144dpi")
            self.check_welcome_page(image, "144 DPI")
            self.click(*centre(CUSTOM_LINK))
            self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "144 DPI: custom page",
                          shot="custom-144dpi")
            edit = self.probe("edit")
            self.check((edit.get("x"), edit.get("y"), edit.get("w"), edit.get("h")) ==
                       ("68", "200", "643", "45"), "144 DPI: path field placed", str(edit))
            self.click(*CLOSE_GLYPH)
            self.wait_exit(process, "144 DPI: close glyph ends the program with 0")
        finally:
            self.end_all()
            self.set_dpi(96)

    # ------------------------------------------------------------------- whole installations
    def serve_demo(self, *extra):
        subprocess.run([sys.executable, os.path.join(self.source, "tools", "demo", "serve_demo.py"),
                        "--port", self.port, "--ca", os.path.join(self.build, "pki", "ca.crt"),
                        "--package", os.path.join(self.build, "artifacts", "VIVOV3_Setup_x64.exe"),
                        *extra], check=True, stdout=subprocess.DEVNULL, timeout=60)

    def installed_folder(self):
        return os.path.join(self.testbed, "prefix", "drive_c", "Program Files", "VIVOV3")

    def forget_installation(self):
        self.run("taskkill", "/F", "/IM", "lumora.exe")
        self.reg("delete", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC",
                 "/f", "/reg:64")
        subprocess.run(["rm", "-rf", self.installed_folder()])

    def progress_width(self, image):
        """Design x where the progress fill ends (0 when empty)."""
        end = 0
        for x in range(0, 900, 3):
            if near(image.pixel(x, 463.5), RED_START, 6):
                end = x
        return end

    def completion_shown(self, image):
        return (self.primary_colours(image, LAUNCH, RED_START, RED_END) and
                image.count(COMPLETED_TEXT, is_gray_text) > 20 * self.f * self.f)

    def scenario_real_install(self):
        """The shipped program against the release server: install, ask to leave during the
        download and stay, complete, start the installed application."""
        self.forget_installation()
        self.serve_demo("--seconds", "12")
        process = self.open_window(self.setup_exe, name="install")
        self.wait_for(self.welcome_drawn, "install: welcome page", timeout=60)
        self.click(*centre(WELCOME_INSTALL))
        first = self.wait_for(lambda i: self.progress_width(i) > 0, "install: download progress shows",
                              timeout=60, shot="install-progress-early")
        later = self.wait_for(lambda i: self.progress_width(i) > self.progress_width(first) + 30,
                              "install: progress moves", timeout=30, shot="install-progress-later")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "install: closing while busy asks first",
                      shot="install-exit-question")
        self.click(*centre(DIALOG_CANCEL))  # "取消"
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_width(i) >= self.progress_width(later),
                      "install: cancel keeps the download going")
        self.wait_for(self.completion_shown, "install: completion page", timeout=120,
                      shot="install-completed")
        marker = os.path.join(self.installed_folder(), "lumora_started.txt")
        self.check(not os.path.exists(marker), "install: application not started before the click")
        self.click(*centre(LAUNCH))
        self.wait_exit(process, "install: the window closes after the launch")
        deadline = time.time() + 60
        while not os.path.exists(marker) and time.time() < deadline:
            time.sleep(0.3)
        self.check(os.path.exists(marker), "install: the installed application runs",
                   f"no {marker}")
        self.run("taskkill", "/F", "/IM", "lumora.exe")

    def scenario_real_retry(self):
        """A failed run is retried from the failure overlay and then completes."""
        self.forget_installation()
        self.serve_demo("--manifest-status", "500")
        process = self.open_window(self.setup_exe, name="retry")
        self.wait_for(self.welcome_drawn, "retry: welcome page", timeout=60)
        self.click(*centre(WELCOME_INSTALL))
        image = self.wait_for(self.scrim_shown, "retry: network failure overlay", timeout=60,
                              shot="retry-network-failure")
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f, "retry: failure text drawn")
        self.serve_demo()
        self.click(*centre(DIALOG_CONFIRM))  # "重新检测"
        self.wait_for(self.completion_shown, "retry: the new run completes", timeout=120,
                      shot="retry-completed")
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "retry: closing the completion page ends with 0")
        self.forget_installation()

    def scenario_planted_dlls(self):
        """Started from a folder that also holds DLLs named like the system DLLs it uses, with
        Wine told to prefer such DLLs to its own, the program loads none of them and still
        installs."""
        folder = os.path.join(self.work, "planted")
        subprocess.run(["rm", "-rf", folder])
        os.makedirs(folder)
        exe = os.path.join(folder, "LumoraWebSetup.exe")
        shutil.copy(self.setup_exe, exe)
        probe = os.path.join(folder, "dll_search_probe.exe")
        shutil.copy(os.path.join(self.build, "tests", "dll_search_probe.exe"), probe)
        for name in PLANTED_DLLS:
            shutil.copy(os.path.join(self.build, "tests", "planted.dll"),
                        os.path.join(folder, name + ".dll"))
        env = dict(self.env, WINEDLLOVERRIDES=",".join(PLANTED_DLLS) + "=n,b")

        def loaded():
            return sorted(n[:-len(".dll.loaded")] for n in os.listdir(folder) if n.endswith(".loaded"))

        # Without a restricted search the planted copies win, so the check below means something.
        with open(os.path.join(self.work, "probe.out"), "w+b") as out:
            subprocess.run(["bash", self.wine_run, self.testbed, probe,
                            *[n + ".dll" for n in PLANTED_DLLS]], env=env, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=60)
        self.check(loaded() == sorted(PLANTED_DLLS), "planted: an unprotected program loads them all",
                   str(loaded()))
        for name in os.listdir(folder):
            if name.endswith(".loaded"):
                os.remove(os.path.join(folder, name))

        self.forget_installation()
        self.serve_demo()
        process = self.open_window(exe, name="planted", env=env)
        self.wait_for(self.welcome_drawn, "planted: welcome page", timeout=60)
        self.click(*centre(WELCOME_INSTALL))
        self.wait_for(self.completion_shown, "planted: the installation completes", timeout=120,
                      shot="planted-completed")
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "planted: closing the completion page ends with 0")
        self.check(loaded() == [], "planted: none of the planted DLLs was loaded", str(loaded()))
        self.forget_installation()

    # ------------------------------------------------------------------------ harness scenarios
    def harness(self, name):
        commands = os.path.join(self.work, name + ".commands")
        answers = os.path.join(self.work, name + ".answers")
        open(commands, "w").close()
        open(answers, "w").close()
        process = self.open_window(self.harness_exe, self.winpath(commands), self.winpath(answers),
                                   name=name)
        self.wait_for(self.welcome_drawn, f"{name}: welcome page drawn", timeout=60)

        def send(line):
            with open(commands, "a", encoding="utf-8") as f:
                f.write(line + "\n")

        def answer_lines():
            with open(answers) as f:
                return [line.strip() for line in f if line.strip()]

        return process, send, answer_lines

    def confirm_label(self, image):
        return image.region(DIALOG_CONFIRM)

    def scenario_progress_and_questions(self):
        process, send, answers = self.harness("harness-progress")
        send("status 3 45 - 正在安装")
        image = self.wait_for(self.progress_shown, "progress: page shown", shot="progress-45")
        self.check(is_strong_red(image.pixel(450, 210)), "progress: logo drawn")
        dark = image.count((150, 310, 750, 365), is_dark)
        self.check(dark > 150 * self.f * self.f, "progress: title drawn", f"{dark}")
        fill = int(6 * 45)  # 9 x 45 design units, at 2/3
        self.check(near(image.raw(fill - 3, 309), RED_START, 3) and
                   near(image.raw(fill + 3, 309), TRACK, 3),
                   "progress: fill ends at 45 %", f"{image.raw(fill - 3, 309)} {image.raw(fill + 3, 309)}")
        text45 = image.region(PROGRESS_TEXT)
        self.check(sum(1 for c in text45 if is_gray_text(c)) > 60, "progress: percentage text drawn")

        def bar_and_text(progress, shot=None):
            send(f"status 3 {progress} - 正在安装")
            return self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) > 10,
                                 f"progress: {progress} shown", shot=shot)

        below = bar_and_text(-5, "progress-minus5")
        self.check(near(below.raw(1, 309), TRACK, 3), "progress: -5 draws an empty bar")
        send("status 3 45 - 正在安装")
        self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) <= 10, "progress: back at 45")
        zero = bar_and_text(0)
        self.check(differing(below.region(PROGRESS_TEXT), zero.region(PROGRESS_TEXT)) <= 5,
                   "progress: -5 reads as 0 %")
        above = bar_and_text(130, "progress-130")
        self.check(near(above.raw(597, 309), RED_START, 3), "progress: 130 draws a full bar")
        send("status 3 45 - 正在安装")
        self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) <= 10, "progress: 45 again")
        hundred = bar_and_text(100)
        self.check(differing(above.region(PROGRESS_TEXT), hundred.region(PROGRESS_TEXT)) <= 5,
                   "progress: 130 reads as 100 %")

        # The exit question while busy.
        self.click(*CLOSE_GLYPH)
        image = self.wait_for(self.scrim_shown, "exit question: shown over the progress page",
                              shot="overlay-exit")
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f, "exit question: text")
        self.click(*centre(DIALOG_CANCEL))
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                      "exit question: cancel keeps the progress page")
        self.check(process.poll() is None, "exit question: program still runs")

        # The worker's questions.
        send("confirm 0")
        image = self.wait_for(self.scrim_shown, "close-app question: shown", shot="overlay-close-app")
        close_label = self.confirm_label(image)
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_for(lambda i: self.no_scrim(i), "close-app question: answered")
        self.wait_answers(answers, ["answer 0 1"], "close-app question: confirm answers yes")
        send("confirm 1")
        image = self.wait_for(self.scrim_shown, "force-close question: shown",
                              shot="overlay-force-close")
        self.check(differing(self.confirm_label(image), close_label) > 20,
                   "force-close question: its own confirm label")
        self.click(*centre(DIALOG_CANCEL))
        self.wait_for(lambda i: self.no_scrim(i), "force-close question: answered")
        self.wait_answers(answers, ["answer 0 1", "answer 1 0"], "force-close question: cancel answers no")

        # Completion, then a launch that fails (nothing is installed in the test bed).
        send("status 6 100 - 安装完成")
        image = self.wait_for(lambda i: self.primary_colours(i, LAUNCH, RED_START, RED_END),
                              "completion: page shown", shot="completed")
        self.check(is_strong_red(image.pixel(450, 210)), "completion: logo drawn")
        gray = image.count(COMPLETED_TEXT, is_gray_text)
        self.check(gray > 80 * self.f * self.f, "completion: text drawn", f"{gray}")
        self.expect_colour(image, 450, 585, WHITE, 1, "completion: white canvas")
        self.click(*centre(LAUNCH))
        image = self.wait_for(lambda i: self.scrim_shown(i) and
                              near(i.pixel(63, 528), tuple(int(c * 0.82) for c in RED_START), 5),
                              "launch failure: error overlay over the welcome page",
                              shot="overlay-error-launch")
        self.labels["E_LAUNCH"] = self.confirm_label(image)
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f,
                   "launch failure: message shown")
        # "重新下载" starts a new run from the current options.
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                      "launch failure: retry starts a new run")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "exit question: shown during the new run")
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_exit(process, "exit question: confirm ends the harness with 0")

    def wait_answers(self, answers, expected, name, timeout=20):
        deadline = time.time() + timeout
        while answers() != expected and time.time() < deadline:
            time.sleep(0.2)
        self.check(answers() == expected, name, str(answers()))

    def scenario_error_labels(self):
        """The failure overlay's confirm label follows the error code, compared as a whole."""
        texts = {"E_NETWORK": "当前网络不可用，请检查网络连接", "e_network": "当前网络不可用，请检查网络连接",
                 "E_UAC": "未获得安装权限，请重新授权", "E_INSTALL": "安装失败，请稍后重试",
                 "-": "安装包校验失败，请重新下载安装"}
        for code, text in texts.items():
            name = "harness-" + ("empty" if code == "-" else code)
            process, send, _ = self.harness(name)
            send(f"status 7 0 {code} {text}")
            image = self.wait_for(self.scrim_shown, f"{code}: failure overlay shown",
                                  shot="overlay-error-" + ("empty" if code == "-" else code))
            self.labels[code] = self.confirm_label(image)
            self.click(*centre(DIALOG_CANCEL))  # "退出安装"
            self.wait_exit(process, f"{code}: leaving from the overlay ends with 0")
            self.end_all()
        same = ["e_network", "-", "E_LAUNCH"]  # all "重新下载"
        for code in same[1:]:
            if code in self.labels:
                self.check(differing(self.labels[code], self.labels["e_network"]) <= 5,
                           f"labels: {code} offers the same retry as e_network")
        own = ["E_NETWORK", "E_UAC", "E_INSTALL", "E_DISK_SPACE", "e_network"]
        for i, a in enumerate(own):
            for b in own[i + 1:]:
                if a in self.labels and b in self.labels:
                    self.check(differing(self.labels[a], self.labels[b]) > 20,
                               f"labels: {a} and {b} differ")

    def scenario_disk_space(self):
        process, send, _ = self.harness("harness-disk-space")
        self.click(*centre(CUSTOM_LINK))
        self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "disk space: custom page")
        self.click(300, 222)
        self.xdotool("key", "End")
        self.xdotool("type", "--delay", "15", r"\Lumora")
        deadline = time.time() + 10
        typed = "C:\\Program Files\\VIVOV3\\Lumora"
        while self.probe("edit").get("text") != typed and time.time() < deadline:
            time.sleep(0.2)
        # Moving to a 144 DPI monitor: new size, path field laid out again, drawing resources
        # made anew (the images come back as after a lost device).
        send("dpi 144")
        self.dpi = 144
        deadline = time.time() + 20
        while time.time() < deadline and not (self.find_window() and self.geometry["WIDTH"] == 900):
            time.sleep(0.2)
        self.check(self.geometry["WIDTH"] == 900 and self.geometry["HEIGHT"] == 600,
                   "DPI change: window takes the suggested size", str(self.geometry))
        image = self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6),
                              "DPI change: page drawn at the new scale", shot="custom-dpi-changed")
        hero = image.pixel(20, 20)
        self.check(not near(hero, WHITE, 10), "DPI change: hero image drawn again", str(hero))
        edit = self.probe("edit")
        self.check((edit.get("x"), edit.get("y"), edit.get("w"), edit.get("h")) ==
                   ("68", "200", "643", "45"), "DPI change: path field laid out again", str(edit))
        send("dpi 96")
        self.dpi = 96
        deadline = time.time() + 20
        while time.time() < deadline and not (self.find_window() and self.geometry["WIDTH"] == 600):
            time.sleep(0.2)
        self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "DPI change: back at 96 DPI")

        send("status 7 0 E_DISK_SPACE 磁盘空间不足，请更换安装目录")
        image = self.wait_for(self.scrim_shown, "disk space: failure overlay shown",
                              shot="overlay-error-disk-space")
        self.labels["E_DISK_SPACE"] = self.confirm_label(image)
        self.check(self.probe("edit").get("visible") == "0", "disk space: overlay hides the path field")
        self.click(*centre(DIALOG_CONFIRM))  # "更改目录"
        self.wait_for(lambda i: self.no_scrim(i) and near(i.pixel(722, 217), RED_START, 6),
                      "disk space: change folder returns to the custom page",
                      shot="custom-after-disk-space")
        edit = self.probe("edit")
        self.check(edit.get("visible") == "1" and edit.get("text") == typed,
                   "disk space: path field shown with the previous path", str(edit))
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "disk space: closing when not busy ends with 0 at once")

    # ------------------------------------------------------------------------------------ run
    def main(self, only=None):
        with open(os.path.join(self.testbed, "config.sh")) as f:
            config = f.read().splitlines()
        setting = {key: value.strip().strip("'") for key, _, value in
                   (line.partition("=") for line in config)}
        self.port = setting["LUM_DEV_PORT"]
        self.desktop_keeper = setting.get("LUM_DESKTOP_KEEPER", "")
        # The https handler, for whoever opens a URL in the prefix: the recorder instead of
        # winebrowser. Its log is named in the command: the shell has its own environment.
        self.opened_log = os.path.join(self.work, "opened.log")
        recorder = os.path.join(self.build, "tests", "url_recorder.exe")
        _, out = self.run("reg", "query", HTTPS_HANDLER, "/ve")
        previous = next((line.split("REG_SZ", 1)[1].strip() for line in out.splitlines()
                         if "REG_SZ" in line), "")
        self.reg("add", HTTPS_HANDLER, "/ve", "/d",
                 f'"{self.winpath(recorder)}" "%1" "{self.winpath(self.opened_log)}"', "/f")
        self.labels = {}
        # Runs started by the page scenarios stay on the progress page: a slow download.
        self.serve_demo("--seconds", "200")
        scenarios = [self.scenario_welcome, self.scenario_welcome_without_shell,
                     self.scenario_custom, self.scenario_progress_and_questions,
                     self.scenario_disk_space, self.scenario_error_labels, self.scenario_high_dpi,
                     self.scenario_real_install, self.scenario_real_retry,
                     self.scenario_planted_dlls]
        if only:
            scenarios = [s for s in scenarios if only in s.__name__]
        try:
            for scenario in scenarios:
                print(f"--- {scenario.__name__}")
                try:
                    scenario()
                except Failed as error:
                    self.check(False, f"{scenario.__name__} stopped", str(error))
                finally:
                    self.end_all()
        finally:
            self.end_all()
            if self.dpi != 96:
                self.set_dpi(96)
            if previous:
                self.reg("add", HTTPS_HANDLER, "/ve", "/d", previous, "/f")
        print(f"screenshots: {self.shots}")
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed or not self.passed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--only", help="run the scenarios whose name contains this")
    args = parser.parse_args()
    driver = Driver(args.build, args.source)
    return driver.main(args.only)


if __name__ == "__main__":
    sys.exit(main())
