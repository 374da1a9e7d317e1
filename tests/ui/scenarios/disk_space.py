"""The harness: a DPI change on the custom page and the disk-space failure, whose "更改目录"
returns to the custom page with the path kept."""
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_disk_space(self):
        process, send, answers = self.harness("harness-disk-space")
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

        # Running as SYSTEM, "更改目录" offers no picker, and the log says why: once the line is
        # there the click has been handled, and a picker would already be up.
        logged_before = len(self.installer_log())
        send("identity system")
        self.wait_answers(answers, ["identity system"], "SYSTEM: the harness takes the identity")
        self.click(*centre(CHANGE_FOLDER))
        line = "[install] folder picker not offered: the program runs as SYSTEM\r\n"
        deadline = time.time() + 20
        while line not in self.installer_log()[logged_before:] and time.time() < deadline:
            time.sleep(0.2)
        self.check(line in self.installer_log()[logged_before:],
                   "SYSTEM: installer.log says why the picker is not offered",
                   repr(self.installer_log()[logged_before:][-300:]))
        self.check(self.wait_window("Select Folder", present=False, timeout=0.5),
                   "SYSTEM: no folder picker opens")
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "disk space: closing when not busy ends with 0 at once")
