"""The welcome page with no desktop shell: a legal link opens nothing, and installer.log says
so once an installation starts, not before."""
import os
import shutil
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def working_folder(self):
        return os.path.join(self.testbed, "prefix", "drive_c", "Program Files",
                            "LUMWebBootstrapper")

    def installer_log(self):
        path = os.path.join(self.working_folder(), "installer.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def scenario_welcome_without_shell(self):
        """With no desktop shell a legal link opens nothing, since the elevated window must not
        open it itself. installer.log says so, but nothing touches the working folder until the
        user starts an installation: then the run's mode line comes first and the waiting line
        follows. The shell is really ended; Wine starts no new one, so the prefix's processes are
        restarted afterwards."""
        open(self.opened_log, "w").close()
        shutil.rmtree(self.working_folder(), ignore_errors=True)
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
            self.check(not os.path.exists(self.working_folder()),
                       "no shell: no working folder before an installation is started")

            self.click(*centre(WELCOME_INSTALL))
            self.wait_for(self.progress_shown, "no shell: the installation starts")
            url = f"https://localhost:{self.port}/html/android/lumora/privacy_policy.html"
            line = f"[legal] 无法通过桌面外壳打开：{url}\r\n"
            deadline = time.time() + 30
            while line not in self.installer_log() and time.time() < deadline:
                time.sleep(0.2)
            lines = [text[20:] for text in self.installer_log().splitlines(keepends=True)]
            self.check(lines[:2] == ["[install] mode=windowed switches=(none)\r\n", line],
                       "no shell: installer.log has the run's mode, then the document that could "
                       "not be opened", repr(lines[:3]))
            self.click(*CLOSE_GLYPH)
            self.wait_for(self.scrim_shown, "no shell: closing while busy asks first")
            self.click(*centre(DIALOG_CONFIRM))
            self.wait_exit(process, "no shell: leaving the download ends with 0")
        finally:
            self.end_all()
            self.restart_prefix()
