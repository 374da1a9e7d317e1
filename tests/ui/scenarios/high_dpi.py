"""144 DPI: the window, its path field and the pages scale by 1.5."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_high_dpi(self):
        """144 DPI: the window, its path field and the pages scale by 1.5."""
        self.set_dpi(144)
        try:
            process = self.open_window(self.setup_exe, name="144 DPI")
            image = self.wait_for(self.welcome_drawn, "144 DPI: welcome page drawn", timeout=90,
                                  shot="welcome-144dpi")
            self.check_welcome_page(image, "144 DPI")
            self.click(*centre(CUSTOM_LINK))
            self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6), "144 DPI: custom page",
                          shot="custom-144dpi")
            edit = self.probe("edit")
            self.check((edit.get("x"), edit.get("y"), edit.get("w"), edit.get("h")) ==
                       ("68", "200", "643", "45"), "144 DPI: path field placed", str(edit))
            self.click(*CLOSE_GLYPH)
            self.wait_exit(process, "144 DPI: close glyph ends the program with 0")
        finally:
            self.end_all()
            self.set_dpi(96)
