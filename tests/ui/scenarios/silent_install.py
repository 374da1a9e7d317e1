"""The shipped program run silently (/S): a whole installation during which no window ever shows
on the display (silent_tests checks the rest of the run)."""
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def visible_windows(self):
        return set(self.xdotool("search", "--onlyvisible", "--name", "").split())

    def scenario_silent_install(self):
        """/S and /D=: no new visible X window at any time, exit code 0, the uninstall entry."""
        self.forget_installation()
        self.serve_demo("--seconds", "4")
        before = self.visible_windows()
        process = self.start(self.setup_exe, "/S", r"/D=C:\Program Files\VIVOV3")
        shown = set()
        while process.poll() is None:
            shown |= self.visible_windows() - before
            time.sleep(0.1)
        self.check(not shown, "silent: no window appears", f"windows {sorted(shown)}")
        self.wait_exit(process, "silent: exit code 0")
        _, entry = self.run("reg", "query",
                            r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC",
                            "/v", "DisplayVersion", "/reg:64")
        self.check("2.0.0" in entry, "silent: the uninstall entry names the version", entry)
