"""The shipped program: the window closed while the package runs. The package is never ended
midway: the window goes at once, the program ends when the package has, and the installation is
whole."""
import os
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC"


class Scenario:
    def scenario_close_during_package(self):
        """Install a package that runs until the scenario releases it, close the window and
        confirm while it runs: the window is gone at once, the program waits for the package."""
        self.forget_installation()
        # The slow demo package installs once this file exists (tools/demo_package).
        release = os.path.join(self.testbed, "prefix", "drive_c", "lumora-package-release")
        if os.path.exists(release):
            os.remove(release)
        self.serve_demo("--package",
                        os.path.join(self.build, "artifacts", "VIVOV3_Setup_x64_slow.exe"))
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
            self.check(self.probe("state").get("window") == "0",
                       "close during package: the window closes at once")
            self.check(process.poll() is None,
                       "close during package: the program waits for the package")
            open(release, "w").close()
            self.wait_exit(process, "close during package: ends with 0 once the package has")
            folder = self.installed_folder()
            self.check(all(os.path.exists(os.path.join(folder, name))
                           for name in ("lumora.exe", "uninstall.exe", "setup_command_line.txt")),
                       "close during package: the installed files are whole", str(
                           os.listdir(folder) if os.path.isdir(folder) else "no folder"))
            _, out = self.run("reg", "query", UNINSTALL_KEY, "/v", "DisplayVersion", "/reg:64")
            self.check("2.0.0" in out, "close during package: the uninstall entry is written", out)
        finally:
            if os.path.exists(release):
                os.remove(release)
            self.forget_installation()
