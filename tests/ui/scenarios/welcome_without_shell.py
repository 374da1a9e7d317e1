"""The welcome page with no desktop shell: a legal link opens nothing, and installer.log says
so once an installation has started."""
import os
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def installer_log(self):
        path = os.path.join(self.testbed, "prefix", "drive_c", "Program Files",
                            "LUMWebBootstrapper", "installer.log")
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
            self.wait_for_documents([], "no shell: the privacy-policy link opens nothing")
            image = self.capture("welcome-no-shell")
            self.check(self.welcome_drawn(image) and
                       near(self.check_mark(image, 52, 516), RED_START, 4),
                       "no shell: the page and the agreement mark stay as they were")
            url = f"https://localhost:{self.port}/html/android/lumora/privacy_policy.html"
            line = f"[legal] 无法通过桌面外壳打开：{url}\r\n"
            self.check(line not in self.installer_log()[logged_before:],
                       "no shell: the line waits until an installation starts")
            self.click(*centre(WELCOME_INSTALL))
            deadline = time.time() + 30
            while line not in self.installer_log()[logged_before:] and time.time() < deadline:
                time.sleep(0.2)
            self.check(line in self.installer_log()[logged_before:],
                       "no shell: installer.log records the document that could not be opened",
                       repr(self.installer_log()[logged_before:][-300:]))
            self.click(*CLOSE_GLYPH)
            self.wait_for(self.scrim_shown, "no shell: closing while busy asks first")
            self.click(*centre(DIALOG_CONFIRM))
            self.wait_exit(process, "no shell: closing ends with 0")
        finally:
            self.end_all()
            self.restart_prefix()
