"""The keyboard alone through a custom installation: Tab to the custom-install link, the path
field in the Tab order (tabbing in selects its text, typing replaces it), a shortcut mark
cleared with Space, install, and Esc on the completion page closes the window."""
import os
import subprocess
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

FOLDER = r"C:\keyboard folder"
# xdotool key names of FOLDER's characters.
FOLDER_KEYS = ["C", "colon", "backslash", *"keyboard", "space", *"folder"]


class Scenario:
    def scenario_keyboard_custom(self):
        self.forget_installation()
        folder = os.path.join(self.testbed, "prefix", "drive_c", "keyboard folder")
        subprocess.run(["rm", "-rf", folder])
        try:
            self.serve_demo("--seconds", "1")
            process = self.open_window(self.setup_exe, name="keyboard custom")
            self.wait_for(self.welcome_drawn, "keyboard custom: welcome page", timeout=60)

            self.keys(*["Tab"] * 5)
            self.wait_for(lambda i: self.ring_around(i, CUSTOM_LINK, 0),
                          "keyboard custom: five Tabs reach the custom-install link")
            self.key("Return")
            self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6) and
                          self.ring_around(i, CUSTOM_INSTALL, 5),
                          "keyboard custom: Enter opens the page, focus on its install button")
            self.key("Tab")
            self.wait_for(lambda i: self.ring_around(i, BACK, 5), "keyboard custom: Tab to back")
            self.key("Tab")
            self.wait_for(lambda i: self.ring_around(i, PATH_BOX, 0),
                          "keyboard custom: Tab wraps to the path field", shot="keyboard-path-field")
            self.key(*FOLDER_KEYS)
            self.wait_probe(lambda edit: edit.get("text") == FOLDER,
                            "keyboard custom: typing replaces the selected path")
            self.key("Tab")
            self.wait_for(lambda i: self.ring_around(i, CHANGE_FOLDER, 5) and
                          self.ring_pixels(i, PATH_BOX, 0) == 0,
                          "keyboard custom: Tab leaves the field for the change-folder button")
            self.key("shift+Tab")
            self.wait_for(lambda i: self.ring_around(i, PATH_BOX, 0),
                          "keyboard custom: Shift+Tab returns to the field")
            self.key("Tab", "Tab", "space")
            self.wait_for(lambda i: near(i.pixel(93, 282), UNCHECKED, 4) and
                          self.ring_around(i, DESKTOP_OPTION, 0),
                          "keyboard custom: Space clears the desktop shortcut mark")
            self.check(self.probe("edit").get("text") == FOLDER,
                       "keyboard custom: Tab and Space outside the field leave its text")
            self.key("Tab", "Tab", "Return")
            self.wait_for(self.completion_shown, "keyboard custom: installed", timeout=120)

            record = os.path.join(folder, "setup_command_line.txt")
            lines = []
            if os.path.exists(record):
                with open(record, encoding="utf-16") as f:
                    lines = f.read().splitlines()
            self.check(len(lines) > 1 and lines[1] == FOLDER,
                       "keyboard custom: installed into the typed folder", str(lines[:2]))
            self.check(bool(lines) and "/DESKTOP_SHORTCUT=0" in lines[0] and
                       "/START_MENU_SHORTCUT=1" in lines[0],
                       "keyboard custom: without the desktop shortcut", str(lines[:1]))
            self.key("Escape")
            self.wait_exit(process, "keyboard custom: Esc on the completion page closes with 0")
        finally:
            # The uninstall entry names the typed folder: later runs must not find it.
            self.end_all()
            self.forget_installation()
            subprocess.run(["rm", "-rf", folder])

    def wait_probe(self, predicate, name, timeout=10):
        deadline = time.time() + timeout
        while not predicate(self.probe("edit")) and time.time() < deadline:
            time.sleep(0.2)
        self.check(predicate(self.probe("edit")), name, str(self.probe("edit")))
