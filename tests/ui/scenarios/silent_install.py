"""The shipped program run silently (/S) against the release server: a whole installation
during which no window ever shows on the display."""
import os
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC"


class Scenario:
    def visible_windows(self):
        return set(self.xdotool("search", "--onlyvisible", "--name", "").split())

    def scenario_silent_install(self):
        """/S with a shortcut switch and /D=: exit code 0, no new visible X window at any time,
        the registry entry, the log's mode line, and the package's command line."""
        self.forget_installation()
        self.serve_demo("--seconds", "4")
        before = self.visible_windows()
        folder = r"C:\Program Files\VIVOV3"
        process = self.start(self.setup_exe, "/S", "/NoDesktopShortcut", "/D=" + folder)
        shown = set()
        while process.poll() is None:
            shown |= self.visible_windows() - before
            time.sleep(0.1)
        self.check(not shown, "silent: no window appears", f"windows {sorted(shown)}")
        self.wait_exit(process, "silent: exit code 0")

        _, entry = self.run("reg", "query", UNINSTALL_KEY, "/v", "DisplayVersion", "/reg:64")
        self.check("2.0.0" in entry, "silent: the uninstall entry names the version", entry)
        record = os.path.join(self.installed_folder(), "setup_command_line.txt")
        lines = []
        if os.path.exists(record):
            with open(record, "rb") as f:
                lines = f.read().decode("utf-16").splitlines()
        self.check(lines[:2] == ["/S /CHANNEL=baidu2 /DESKTOP_SHORTCUT=0 /START_MENU_SHORTCUT=1",
                                 folder], "silent: the package's command line", repr(lines[:2]))
        log_path = os.path.join(self.testbed, "prefix", "drive_c", "ProgramData", "VIVOV3",
                                "InstallerCache", "installer.log")
        with open(log_path, "rb") as f:
            log = f.read().decode("utf-8", "replace")
        mode = "[install] mode=silent switches=/S /NODESKTOPSHORTCUT /D=" + folder + "\r\n"
        at = log.rfind(mode)
        self.check(at >= 0 and "[complete] elapsed_seconds=" in log[at:],
                   "silent: the log names the mode, then the completion", repr(log[-300:]))
