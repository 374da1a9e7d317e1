"""Minimise and second start, the custom page: path field, folder picker, shortcut marks,
back, install."""
import time

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_custom(self):
        """Minimise and second start, custom page, path field, picker, marks, back, install."""
        process = self.open_window(self.setup_exe, name="custom")
        self.wait_for(self.welcome_drawn, "custom: welcome page drawn", timeout=60)

        self.click(*MINIMISE_GLYPH)
        deadline = time.time() + 20
        while self.probe("state").get("iconic") != "1" and time.time() < deadline:
            time.sleep(0.2)
        self.check(self.probe("state").get("iconic") == "1", "minimise glyph minimises the window")
        code, _ = self.run(self.setup_exe, timeout=90)
        self.check(code == 0, "second start ends with 0", f"exit code {code}")
        state = self.probe("state")
        self.check(state.get("iconic") == "0" and state.get("foreground") == "1",
                   "second start restores and raises the first window", str(state))
        self.check(self.find_window(), "custom: window visible again")
        self.wait_for(self.welcome_drawn, "custom: restored window drawn")

        self.click(*centre(CUSTOM_LINK))
        image = self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6),
                              "custom: page shown", shot="custom")
        edit = self.probe("edit")
        f = self.f
        self.check(edit.get("visible") == "1", "custom: path field shown", str(edit))
        self.check((edit.get("x"), edit.get("y"), edit.get("w"), edit.get("h")) ==
                   (str(int(68 * f)), str(int(200 * f)), str(int(643 * f)), str(int(45 * f))),
                   "custom: path field placed in the path box", str(edit))
        self.check(edit.get("text") == r"C:\Program Files\VIVOV3", "custom: proposed folder shown",
                   str(edit))
        self.expect_colour(image, 93, 282, RED_START, 4, "custom: desktop shortcut checked")
        self.expect_colour(image, 306, 282, RED_START, 4, "custom: start-menu entry checked")
        self.expect_colour(image, 480, 405, FLAT_ON_WHITE, 3, "custom: back button flat")
        (lx, ly), (rx, ry) = self.button_ends(CUSTOM_INSTALL)
        self.expect_colour(image, lx, ly, RED_START, 5, "custom: install button gradient start")
        self.expect_colour(image, rx, ry, RED_END, 5, "custom: install button gradient end")
        self.expect_colour(image, 450, 560, WHITE, 1, "custom: white canvas")
        free_before = image.region(FREE_SPACE)
        gray = sum(1 for c in free_before if is_gray_text(c))
        self.check(gray > 20 * f * f, "custom: free-space text drawn", f"{gray}")

        self.click(150, 290)
        self.wait_for(lambda i: near(i.pixel(93, 282), UNCHECKED, 4), "custom: desktop mark toggles")
        self.click(400, 290)
        self.wait_for(lambda i: near(i.pixel(306, 282), UNCHECKED, 4),
                      "custom: start-menu mark toggles", shot="custom-unchecked")
        self.click(150, 290)
        self.wait_for(lambda i: near(i.pixel(93, 282), RED_START, 4), "custom: desktop mark back on")

        # Typed into the native field: a folder on no drive has no free space to show.
        self.click(300, 222)
        self.xdotool("key", "End")
        self.xdotool("key", "--repeat", "40", "BackSpace")
        self.xdotool("type", "--delay", "15", r"Q:\nowhere")
        deadline = time.time() + 10
        while self.probe("edit").get("text") != r"Q:\nowhere" and time.time() < deadline:
            time.sleep(0.2)
        self.check(self.probe("edit").get("text") == r"Q:\nowhere", "custom: typing edits the path")
        self.move(450, 560)  # a repaint picks up the new text
        self.click(450, 560)
        image = self.wait_for(lambda i: differing(i.region(FREE_SPACE), free_before) > 10,
                              "custom: free-space text follows the typed path",
                              shot="custom-typed-path")

        # Folder picker: chosen folder goes into the field, a cancelled picker changes nothing.
        self.click(*centre(CHANGE_FOLDER))
        if self.check(self.wait_window("Select Folder"), "picker: folder dialog opens"):
            time.sleep(0.5)
            self.xdotool("type", "--delay", "15", r"C:\windows")
            self.xdotool("key", "Return")
            deadline = time.time() + 15
            while self.probe("edit").get("text") != r"C:\windows" and time.time() < deadline:
                time.sleep(0.2)
            self.check(self.probe("edit").get("text") == r"C:\windows",
                       "picker: chosen folder put into the path field", str(self.probe("edit")))
        self.click(*centre(CHANGE_FOLDER))
        if self.check(self.wait_window("Select Folder"), "picker: opens again"):
            time.sleep(0.5)
            self.xdotool("key", "Escape")
            self.wait_window("Select Folder", present=False)
            self.check(self.probe("edit").get("text") == r"C:\windows",
                       "picker: cancelling keeps the path")

        self.find_window()
        self.click(*centre(BACK))
        self.wait_for(self.welcome_drawn, "custom: back returns to the welcome page")
        self.check(self.probe("edit").get("visible") == "0", "custom: back hides the path field")
        self.click(*centre(CUSTOM_LINK))
        self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "custom: page shown again")
        self.check(self.probe("edit").get("text") == r"C:\windows", "custom: path kept across pages")
        self.click(200, 405)
        self.wait_for(lambda i: self.progress_shown(i) and not near(i.pixel(722, 217), RED_START, 30),
                      "custom: install button starts the installation")
        self.check(self.probe("edit").get("visible") == "0", "custom: path field hidden during a run")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "custom: exit question")
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_exit(process, "custom: program ends with 0")

    def wait_window(self, name, present=True, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = bool(self.xdotool("search", "--onlyvisible", "--name", name))
            if found == present:
                return True
            time.sleep(0.2)
        return False
