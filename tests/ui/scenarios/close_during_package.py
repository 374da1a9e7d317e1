"""The window closed while the package runs: the package is never ended midway; the window goes
at once, the program ends when the package has, and the installation is whole."""
import os
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_close_during_package(self):
        self.forget_installation()
        drive_c = os.path.join(self.testbed, "prefix", "drive_c")
        release = os.path.join(drive_c, "lumora-package-release")  # see tools/demo_package
        if os.path.exists(release):
            os.remove(release)
        self.serve_demo("--package", os.path.join(self.build, "artifacts",
                                                  "VIVOV3_Setup_x64_slow.exe"))
        process = self.open_window(self.setup_exe, name="close during package")
        try:
            self.wait_for(self.welcome_drawn, "close during package: welcome page", timeout=60)
            self.click(*centre(WELCOME_INSTALL))
            self.wait_for(lambda i: self.progress_width(i) >= 840,
                          "close during package: the package runs (95 %)", timeout=90)
            self.click(*CLOSE_GLYPH)
            self.wait_for(self.scrim_shown, "close during package: closing while busy asks first")
            self.click(*centre(DIALOG_CONFIRM))
            deadline = time.time() + 20
            while self.probe("state").get("window") != "0" and time.time() < deadline:
                time.sleep(0.2)
            self.check(self.probe("state").get("window") == "0" and process.poll() is None,
                       "close during package: the window goes at once, the program waits")
            open(release, "w").close()
            self.wait_exit(process, "close during package: ends with 0 once the package has")
            self.check(all(os.path.exists(os.path.join(self.installed_folder(), name))
                           for name in ("lumora.exe", "uninstall.exe", "setup_command_line.txt")),
                       "close during package: the installed files are whole")
            _, out = self.run("reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion"
                              r"\Uninstall\VIVOV3_PC", "/v", "DisplayVersion", "/reg:64")
            self.check("2.0.0" in out, "close during package: the uninstall entry is written", out)
            with open(os.path.join(drive_c, "Program Files", "LUMWebBootstrapper",
                                   "installer.log"), "rb") as f:
                self.check(b"[install] cancel requested while the package ran: waited for it to "
                           b"end, exit code 0\r\n" in f.read(),
                           "close during package: the log says it waited")
        finally:
            if os.path.exists(release):
                os.remove(release)
            self.forget_installation()
