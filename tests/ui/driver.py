"""The driver of the bootstrapper's window under Wine and Xvfb, used by the scenarios in
scenarios/ (ui_driver.py runs them).

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
"""
import json
import os
import re
import signal
import struct
import subprocess
import sys
import time
import zlib

TITLE = "LumoraMP3"  # start of the window title; the test bed shows no other such window
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def read_constants(header, kind):
    """The `inline constexpr KIND kName{a, b, c, d};` lines of a product header, each as a tuple of
    its four numbers (simple arithmetic such as 60 / 255.0f allowed)."""
    pattern = re.compile(r"^inline constexpr " + kind + r" (k\w+)\{([^}]*)\};", re.M)
    with open(os.path.join(SOURCE, header), encoding="utf-8") as f:
        found = pattern.findall(f.read())
    number = re.compile(r"^[0-9.]+f?( / [0-9.]+f?)?$")
    values = {}
    for name, body in found:
        terms = [term.strip() for term in body.split(",")]
        if len(terms) != 4 or not all(number.match(t) for t in terms):
            raise ValueError(f"{header}: cannot read {name}{{{body}}}")
        values[name] = tuple(eval(t.replace("f", "")) for t in terms)  # noqa: S307 -- checked above
    return values


# Design rectangles (left, top, right, bottom), as the window lays them out (ui/page/layout.h).
LAYOUT = read_constants("ui/page/layout.h", "DesignRect")
# The design's colours (ui/paint/palette.h), as 8-bit RGB; translucent ones over white.
PALETTE = read_constants("ui/paint/palette.h", "D2D1_COLOR_F")


def colour(name):
    r, g, b, a = PALETTE[name]
    return tuple(int(255 - (255 - c * 255) * a + 0.5) for c in (r, g, b))


WHITE = colour("kWhite")
RED_START = colour("kRedStart")
RED_END = colour("kRedEnd")
HOVER_START = colour("kHoverStart")
HOVER_END = colour("kHoverEnd")
PRESSED_START = colour("kPressedStart")
PRESSED_END = colour("kPressedEnd")
DISABLED = colour("kDisabledFill")
UNCHECKED = colour("kUncheckedCircle")
TRACK = colour("kProgressTrack")
FLAT_ON_WHITE = colour("kFlatFill")
SCRIM_ON_WHITE = colour("kScrim")

WELCOME_INSTALL = LAYOUT["kWelcomeInstall"]
CUSTOM_INSTALL = LAYOUT["kCustomInstall"]
BACK = LAYOUT["kBack"]
LAUNCH = LAYOUT["kLaunch"]
CHANGE_FOLDER = LAYOUT["kChangeFolder"]
DIALOG_CANCEL = LAYOUT["kDialogCancel"]
DIALOG_CONFIRM = LAYOUT["kDialogConfirm"]
TITLE_RECT = LAYOUT["kWelcomeTitle"]
PROGRESS_TITLE = LAYOUT["kProgressTitle"]
USER_AGREEMENT_LINK = LAYOUT["kUserAgreementLink"]
PRIVACY_POLICY_LINK = LAYOUT["kPrivacyPolicyLink"]
VIP_SERVICE_LINK = LAYOUT["kVipServiceLink"]
LINKS_RECT = USER_AGREEMENT_LINK[:1] + VIP_SERVICE_LINK[1:]  # the three links together
CUSTOM_LINK = LAYOUT["kCustomInstallLink"]
FREE_SPACE = LAYOUT["kFreeSpace"]
PROGRESS_TEXT = LAYOUT["kProgressText"]
COMPLETED_TEXT = LAYOUT["kCompletedText"]
DIALOG_TITLE = LAYOUT["kDialogTitle"]
DIALOG_BODY = LAYOUT["kDialogBody"]
AGREEMENT_CHECK = LAYOUT["kAgreementCheck"]
DESKTOP_OPTION = LAYOUT["kDesktopOption"]
PATH_BOX = LAYOUT["kPathBox"]
PATH_EDIT = LAYOUT["kPathEdit"]
PROGRESS_TRACK = LAYOUT["kProgressTrack"]
MINIMIZE_AREA = LAYOUT["kMinimizeArea"]
CLOSE_AREA = LAYOUT["kCloseArea"]

HTTPS_HANDLER = r"HKLM\Software\Classes\https\shell\open\command"

# Names of DLLs the program loads that are not on Windows' known-DLL list (so Windows would look
# for them beside the executable first), and of some that system DLLs load in turn. version.dll
# is left out: Wine's own start-up code loads it through the default search path before the
# program runs, which Windows does not do.
PLANTED_DLLS = ["winhttp", "bcrypt", "crypt32", "wintrust", "d2d1", "dwrite", "dwmapi",
                "windowscodecs", "uxtheme", "comctl32"]


def centre(rect):
    return ((rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2)


CLOSE_GLYPH = centre(CLOSE_AREA)
MINIMISE_GLYPH = centre(MINIMIZE_AREA)


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


class Labels(dict):
    """The failure overlays' confirm labels by error code. Some scenarios compare labels that
    others took, and ctest runs each scenario in a process of its own: each scenario's labels are
    kept in the test bed's scratch folder, one file per scenario, for the scenarios after it."""

    def __init__(self, folder, scenario):
        super().__init__()
        os.makedirs(folder, exist_ok=True)
        self.path = os.path.join(folder, scenario + ".json")
        if os.path.exists(self.path):
            os.remove(self.path)
        for name in sorted(os.listdir(folder)):
            if name.endswith(".json"):
                with open(os.path.join(folder, name)) as f:
                    for code, pixels in json.load(f).items():
                        super().__setitem__(code, [tuple(p) for p in pixels])
        self.own = set()

    def __setitem__(self, code, pixels):
        super().__setitem__(code, pixels)
        self.own.add(code)

    def save(self):
        with open(self.path, "w") as f:
            json.dump({code: self[code] for code in sorted(self.own)}, f)


class Driver:
    def __init__(self, build, source, testbed=None):
        self.build = os.path.abspath(build)
        self.source = os.path.abspath(source)
        # ctest names the lane's test bed; run-demo.sh and a plain run use the build's own.
        self.testbed = os.path.abspath(testbed or os.environ.get("LUM_TESTBED") or
                                       os.path.join(self.build, "testbed"))
        self.wine_run = os.path.join(self.source, "tools", "testbed", "wine-run.sh")
        self.setup_exe = os.path.join(self.build, "app", "LumoraWebSetup.exe")
        self.harness_exe = os.path.join(self.build, "tests", "ui_harness.exe")
        self.probe_exe = os.path.join(self.build, "tests", "ui_probe.exe")
        self.uia_client_exe = os.path.join(self.build, "tests", "uia_client.exe")
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

    def probe(self, *what):
        code, out = self.run(self.probe_exe, *what)
        fields = {}
        if "text=" in out:
            out, fields["text"] = out.split("text=", 1)
        for word in out.split():
            key, _, value = word.partition("=")
            fields[key] = value
        return fields

    def screen_reader(self, count=1, interval_ms=0, timeout=20):
        """What uia_client.exe, a UI Automation client in a process of its own, reads of the
        window: per look a dict with "window" (control type, name), "children" (control type,
        name, enabled, focus) and "field" (control type, focus, name; None while hidden). A
        client that does not finish its looks is a failure of the window's UI Automation."""
        path = os.path.join(self.work, "uia_client.out")
        with open(path, "w+b") as out:
            client = subprocess.Popen(["bash", self.wine_run, self.testbed, self.uia_client_exe,
                                       str(count), str(interval_ms)], env=self.env,
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.DEVNULL, start_new_session=True)
            try:
                client.wait(timeout=timeout + count * interval_ms / 1000)
            except subprocess.TimeoutExpired:
                os.killpg(client.pid, signal.SIGKILL)
                client.wait(timeout=30)
                raise Failed(f"uia_client.exe stalled: no answer for {timeout} s")
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        looks, look = [], {"window": None, "children": [], "field": None}
        for line in text.splitlines():
            kind, _, rest = line.partition(" ")
            words, _, name = rest.partition(" name=")
            fields = dict(word.partition("=")[::2] for word in words.split())
            if kind == "window":
                look["window"] = (fields.get("ct"), name)
            elif kind == "child":
                look["children"].append((fields["ct"], name, fields["enabled"], fields["focus"]))
            elif kind == "field":
                look["field"] = (fields["ct"], fields["focus"], name)
            elif kind == "end":
                looks.append(look)
                look = {"window": None, "children": [], "field": None}
        return looks

    def stuck_screen_reader(self, timeout=30):
        """A screen reader that stops answering in the middle of its walk: uia_client.exe holds
        the window's node and its first child's, and its whole process is stopped (SIGSTOP);
        end_all ends it."""
        log = os.path.join(self.work, "uia_client.exe.log")
        open(log, "wb").close()  # start() appends the client's output here
        client = self.start(self.uia_client_exe, "stop")
        deadline = time.time() + timeout
        while time.time() < deadline and client.poll() is None:
            with open(log, "rb") as f:
                if b"stopped" in f.read():
                    os.killpg(client.pid, signal.SIGSTOP)
                    return client
            time.sleep(0.1)
        raise Failed("uia_client.exe did not get to the middle of its walk")

    def reg(self, *args):
        self.run("reg", *args)

    def restart_prefix(self):
        """Ends every process of the prefix and starts its persistent wineserver, the desktop
        keeper and the shell again, as testbed.sh leaves them: it returns once the shell answers
        (and the keeper runs in the prefix, so that the test bed's stop ends it)."""
        done = subprocess.run(["bash", os.path.join(self.source, "tools", "testbed", "testbed.sh"),
                               "restart", self.testbed], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Failed("the prefix did not start again: " + done.stderr.strip())

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

    def key(self, *keys):
        """Keys to the window that has the X focus; the window takes it once, when it is first
        pressed (keys()), as a window a user switched to."""
        self.xdotool("key", "--delay", "30", *keys)

    def keys(self, *keys):
        self.xdotool("windowfocus", "--sync", self.window)
        self.key(*keys)

    def ring_band(self, rect, grow):
        """The straight part of the top edge of a focus ring drawn grow design units outside
        rect (a button's ring is rounded like the button), 6 units high."""
        margin = 50 if grow else 12
        return (rect[0] + margin, rect[1] - grow - 3, rect[2] - margin, rect[1] - grow + 3)

    def ring_pixels(self, image, rect, grow):
        """Dark pixels in the ring's band: nothing the pages draw there is dark."""
        return image.count(self.ring_band(rect, grow), is_dark)

    def ring_around(self, image, rect, grow):
        # At least one whole row of the band.
        band = self.ring_band(rect, grow)
        return self.ring_pixels(image, rect, grow) >= int((band[2] - band[0]) * self.f)

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
        # Off the window: a pointer a scenario left over the install button would draw it hovered.
        self.xdotool("mousemove", "0", "0")
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

    # -------------------------------------------------------------------- legal documents
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

    def expect_application_starts(self, process, label, press):
        """press() on the completion page closes the window and starts the installed
        application, not before."""
        marker = os.path.join(self.installed_folder(), "lumora_started.txt")
        self.check(not os.path.exists(marker), f"{label}: application not started before the press")
        press()
        self.wait_exit(process, f"{label}: the window closes after the launch")
        deadline = time.time() + 60
        while not os.path.exists(marker) and time.time() < deadline:
            time.sleep(0.3)
        self.check(os.path.exists(marker), f"{label}: the installed application runs",
                   f"no {marker}")
        self.run("taskkill", "/F", "/IM", "lumora.exe")

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

    def wait_answers(self, answers, expected, name, timeout=20):
        deadline = time.time() + timeout
        while answers() != expected and time.time() < deadline:
            time.sleep(0.2)
        self.check(answers() == expected, name, str(answers()))

    # ------------------------------------------------------------------------------------ run
    def setup(self, name):
        """What every scenario starts from."""
        with open(os.path.join(self.testbed, "config.sh")) as f:
            config = f.read().splitlines()
        setting = {key: value.strip().strip("'") for key, _, value in
                   (line.partition("=") for line in config)}
        self.port = setting["LUM_DEV_PORT"]
        # The https handler, for whoever opens a URL in the prefix: the recorder instead of
        # winebrowser. Its log is named in the command: the shell has its own environment. A
        # lane's test bed has it from the start (testbed.sh); another gets it for the scenario.
        self.opened_log = os.path.join(self.work, "opened.log")
        self.previous_handler = ""
        if not setting.get("LUM_HTTPS_RECORDER"):
            recorder = os.path.join(self.build, "tests", "url_recorder.exe")
            _, out = self.run("reg", "query", HTTPS_HANDLER, "/ve")
            self.previous_handler = next((line.split("REG_SZ", 1)[1].strip()
                                          for line in out.splitlines() if "REG_SZ" in line), "")
            self.reg("add", HTTPS_HANDLER, "/ve", "/d",
                     f'"{self.winpath(recorder)}" "%1" "{self.winpath(self.opened_log)}"', "/f")
        self.labels = Labels(os.path.join(self.work, "labels"), name)
        # Runs started by the page scenarios stay on the progress page: a slow download.
        self.serve_demo("--seconds", "200")

    def teardown(self, name):
        """Leaves the test bed as setup found it, for the next scenario or ctest entry."""
        self.end_all()
        self.labels.save()
        if self.dpi != 96:
            self.set_dpi(96)
        if self.previous_handler:
            self.reg("add", HTTPS_HANDLER, "/ve", "/d", self.previous_handler, "/f")
        if os.path.exists(self.installed_folder()):
            self.forget_installation()

    def run_scenarios(self, names):
        try:
            for name in names:
                print(f"--- scenario_{name}")
                self.setup(name)
                try:
                    getattr(self, "scenario_" + name)()
                except Failed as error:
                    self.check(False, f"scenario_{name} stopped", str(error))
                finally:
                    self.teardown(name)
        finally:
            self.end_all()
        print(f"screenshots: {self.shots}")
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed or not self.passed else 0
