"""High contrast, switched on and off while the window runs: every page and the failure overlay
in the system's colours without the images, the layout unchanged, then the design's colours
again.

Wine 8 cannot turn high contrast on: SPI_SETHIGHCONTRAST is a stub that fails and
SPI_GETHIGHCONTRAST always reads off, whatever the registry holds. The harness's "contrast"
command stands in for the setting (and sends the system's message that it changed); the system
colours are real, set to a high-contrast scheme in the prefix for the scenario."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

# The indices ui_probe.exe colors reads, with Windows' "High Contrast Black" values.
SCHEME = {"5": "000000",   # COLOR_WINDOW
          "8": "ffffff",   # COLOR_WINDOWTEXT
          "13": "1aebff",  # COLOR_HIGHLIGHT
          "14": "000000",  # COLOR_HIGHLIGHTTEXT
          "26": "ffff00",  # COLOR_HOTLIGHT
          "15": "000000",  # COLOR_BTNFACE
          "18": "ffffff",  # COLOR_BTNTEXT
          "17": "3ff23f"}  # COLOR_GRAYTEXT


def rgb(hex_colour):
    return tuple(int(hex_colour[k:k + 2], 16) for k in (0, 2, 4))


WINDOW = rgb(SCHEME["5"])
WINDOW_TEXT = rgb(SCHEME["8"])
HIGHLIGHT = rgb(SCHEME["13"])
HIGHLIGHT_TEXT = rgb(SCHEME["14"])
HOT_LIGHT = rgb(SCHEME["26"])
GRAY = rgb(SCHEME["17"])


class Scenario:
    def system_colours(self, *settings):
        return dict(word.split("=") for word in self.run(self.probe_exe, "colors", *settings)[1].split())

    def drawn_in(self, image, rect, colour, least):
        count = image.count(rect, lambda c: near(c, colour, 40))
        return count > least * self.f * self.f

    def contrast_welcome(self, image):
        (lx, ly), (rx, ry) = self.button_ends(WELCOME_INSTALL)
        return near(image.pixel(lx, ly), HIGHLIGHT, 3) and near(image.pixel(rx, ry), HIGHLIGHT, 3)

    def check_contrast_welcome(self, image):
        label = "high contrast welcome"
        self.expect_colour(image, 450, 585, WINDOW, 1, f"{label}: canvas in the window colour")
        self.expect_colour(image, 20, 20, WINDOW, 1, f"{label}: no hero image")
        self.expect_colour(image, 449.75, 243, WINDOW, 1, f"{label}: no logo")
        self.check(self.drawn_in(image, TITLE_RECT, WINDOW_TEXT, 150), f"{label}: title in the text colour")
        self.check(self.drawn_in(image, LINKS_RECT, HOT_LIGHT, 60), f"{label}: links in the link colour")
        self.check(self.drawn_in(image, CUSTOM_LINK, WINDOW_TEXT, 30),
                   f"{label}: custom-install link in the text colour")
        self.check(self.drawn_in(image, WELCOME_INSTALL, HIGHLIGHT_TEXT, 100),
                   f"{label}: install label in the highlight-text colour")
        self.expect_colour(image, 63, 528, HIGHLIGHT, 3, f"{label}: agreement mark in the highlight colour")
        self.expect_colour(image, 65.5, 535, HIGHLIGHT_TEXT, 60, f"{label}: tick in the highlight-text colour")

    def scenario_high_contrast(self):
        saved = self.system_colours()
        real = self.probe("contrast")
        try:
            if self.probe("contrast", "1").get("on") != "1":
                print("NOTE SPI_SETHIGHCONTRAST does not turn high contrast on in this Wine")
            self.check(self.system_colours(*(f"{k}={v}" for k, v in SCHEME.items())) == SCHEME,
                       "high contrast: the scheme's system colours set")
            process, send, _ = self.harness("harness-contrast")
            self.check_welcome_page(self.capture(), "before high contrast")

            send("contrast 1")
            image = self.wait_for(self.contrast_welcome, "high contrast: welcome page switches live",
                                  shot="contrast-welcome")
            self.check_contrast_welcome(image)

            self.click(100, 535)  # not agreed: the install button is disabled
            image = self.wait_for(lambda i: near(i.pixel(63, 528), WINDOW, 3),
                                  "high contrast: agreement mark cleared", shot="contrast-unchecked")
            self.check(image.count((52, 516, 74, 554), lambda c: near(c, WINDOW_TEXT, 60)) > 20 * self.f,
                       "high contrast: unchecked mark outlined in the text colour")
            self.expect_colour(image, *self.button_ends(WELCOME_INSTALL)[0], WINDOW, 3,
                               "high contrast: disabled button in the button face colour")
            self.check(self.drawn_in(image, WELCOME_INSTALL, GRAY, 100),
                       "high contrast: disabled label in the gray-text colour")
            self.click(100, 535)
            self.wait_for(self.contrast_welcome, "high contrast: agreement mark set again")

            self.click(*centre(CUSTOM_LINK))
            image = self.wait_for(lambda i: near(i.pixel(722, 217), HIGHLIGHT, 3),
                                  "high contrast: custom page", shot="contrast-custom")
            self.expect_colour(image, 93, 282, HIGHLIGHT, 3, "high contrast custom: mark highlighted")
            self.expect_colour(image, 480, 405, WINDOW, 3, "high contrast custom: back button face")
            self.check(self.drawn_in(image, BACK, WINDOW_TEXT, 100),
                       "high contrast custom: back label in the button text colour")
            self.check(self.drawn_in(image, FREE_SPACE, WINDOW_TEXT, 20),
                       "high contrast custom: free space in the text colour")
            self.click(*centre(BACK))
            self.wait_for(self.contrast_welcome, "high contrast: back to the welcome page")

            send("status 3 45 - 正在安装")
            fill = int(6 * 45)
            image = self.wait_for(lambda i: near(i.raw(fill - 3, 309), HIGHLIGHT, 3),
                                  "high contrast: progress fill in the highlight colour",
                                  shot="contrast-progress")
            self.check(near(image.raw(fill + 3, 309), WINDOW, 3), "high contrast progress: track")
            self.expect_colour(image, 450, 210, WINDOW, 1, "high contrast progress: no logo")
            self.check(self.drawn_in(image, PROGRESS_TITLE, WINDOW_TEXT, 150),
                       "high contrast progress: title in the text colour")
            self.check(self.drawn_in(image, PROGRESS_TEXT, WINDOW_TEXT, 60),
                       "high contrast progress: percentage in the text colour")

            send("status 6 100 - 安装完成")
            image = self.wait_for(lambda i: near(i.pixel(*self.button_ends(LAUNCH)[0]), HIGHLIGHT, 3),
                                  "high contrast: completion page", shot="contrast-completed")
            self.check(self.drawn_in(image, COMPLETED_TEXT, WINDOW_TEXT, 80),
                       "high contrast completion: text in the text colour")
            self.expect_colour(image, 450, 210, WINDOW, 1, "high contrast completion: no logo")

            send("status 7 0 E_DISK_SPACE 磁盘空间不足，请更换安装目录")
            image = self.wait_for(lambda i: near(i.pixel(*self.button_ends(DIALOG_CONFIRM)[0]), HIGHLIGHT, 3),
                                  "high contrast: failure overlay", shot="contrast-overlay")
            self.expect_colour(image, 450, 590, WINDOW, 1, "high contrast overlay: no tint")
            self.expect_colour(image, 100, 300, WINDOW, 1, "high contrast overlay: card")
            self.expect_colour(image, 180, 358, WINDOW, 3, "high contrast overlay: cancel button face")
            self.check(self.drawn_in(image, DIALOG_BODY, WINDOW_TEXT, 100),
                       "high contrast overlay: message in the text colour")
            self.check(self.drawn_in(image, (75, 100, 825, 120), WINDOW_TEXT, 200),
                       "high contrast overlay: card outlined")
            self.click(*centre(DIALOG_CONFIRM))  # "更改目录": the custom page
            self.wait_for(lambda i: near(i.pixel(722, 217), HIGHLIGHT, 3),
                          "high contrast: custom page after the overlay")

            send("contrast 0")
            image = self.wait_for(lambda i: near(i.pixel(722, 217), RED_START, 6),
                                  "high contrast off: custom page in the design's colours",
                                  shot="contrast-off-custom")
            self.expect_colour(image, 450, 560, WHITE, 1, "high contrast off: white canvas")
            self.expect_colour(image, 480, 405, FLAT_ON_WHITE, 3, "high contrast off: back button flat")
            self.click(*centre(BACK))
            image = self.wait_for(self.welcome_drawn, "high contrast off: welcome page",
                                  shot="contrast-off-welcome")
            self.check_welcome_page(image, "high contrast off")
            self.click(*CLOSE_GLYPH)
            self.wait_exit(process, "high contrast: close glyph ends the harness with 0")
        finally:
            self.end_all()
            if real.get("on") != "1":
                self.probe("contrast", "0")
            restored = self.system_colours(*(f"{k}={v}" for k, v in saved.items()))
            self.check(restored == saved, "high contrast: the prefix's system colours restored",
                       str(restored))
