"""The shipped program beside planted DLLs named like the system DLLs it uses: loads none
of them and still installs."""
import os
import shutil
import subprocess

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
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
