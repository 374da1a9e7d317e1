"""The keyboard alone through a whole installation of the shipped program: the first Tab shows
the focus ring and wraps to the agreement mark, Space toggles it, Shift+Tab returns to the install
button, Enter installs and Enter on the completion page starts the application."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_keyboard_install(self):
        self.forget_installation()
        self.serve_demo("--seconds", "1")
        process = self.open_window(self.setup_exe, name="keyboard install")
        self.wait_for(self.welcome_drawn, "keyboard install: welcome page", timeout=60)

        self.keys("Tab")
        image = self.wait_for(lambda i: self.ring_around(i, AGREEMENT_CHECK, 0),
                              "keyboard install: Tab wraps from the install button to the mark, "
                              "with a ring", shot="keyboard-install-ring")
        self.check(self.ring_pixels(image, WELCOME_INSTALL, 5) == 0,
                   "keyboard install: no ring left on the install button")
        self.key("space")
        self.wait_for(lambda i: near(self.check_mark(i, 52, 516), UNCHECKED, 4),
                      "keyboard install: Space clears the mark")
        self.key("space")
        self.wait_for(lambda i: near(self.check_mark(i, 52, 516), RED_START, 4),
                      "keyboard install: Space sets it again")
        self.key("shift+Tab")
        self.wait_for(lambda i: self.ring_around(i, WELCOME_INSTALL, 5) and
                      self.ring_pixels(i, AGREEMENT_CHECK, 0) == 0,
                      "keyboard install: Shift+Tab goes back to the install button")

        self.key("Return")
        self.wait_for(self.progress_shown, "keyboard install: Enter starts the installation",
                      timeout=30)
        self.wait_for(self.completion_shown, "keyboard install: completion page", timeout=120)
        self.wait_for(lambda i: self.ring_around(i, LAUNCH, 5),
                      "keyboard install: focus on the completion page's button",
                      shot="keyboard-completed")
        self.expect_application_starts(process, "keyboard install", lambda: self.key("Return"))
