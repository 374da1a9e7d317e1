"""The shipped program against the release server: a whole installation, then the installed
application starts (tools/run-demo.sh runs this one)."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_real_install(self):
        """The shipped program against the release server: install, ask to leave during the
        download and stay, complete, start the installed application."""
        self.forget_installation()
        self.serve_demo("--seconds", "12")
        process = self.open_window(self.setup_exe, name="install")
        self.wait_for(self.welcome_drawn, "install: welcome page", timeout=60)
        self.click(*centre(WELCOME_INSTALL))
        first = self.wait_for(lambda i: self.progress_width(i) > 0, "install: download progress shows",
                              timeout=60, shot="install-progress-early")
        later = self.wait_for(lambda i: self.progress_width(i) > self.progress_width(first) + 30,
                              "install: progress moves", timeout=30, shot="install-progress-later")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "install: closing while busy asks first",
                      shot="install-exit-question")
        self.click(*centre(DIALOG_CANCEL))  # "取消"
        # Further along, or on a loaded machine already through: the download did not stop.
        self.wait_for(lambda i: self.no_scrim(i) and (self.completion_shown(i) or
                                                      self.progress_width(i) >= self.progress_width(later)),
                      "install: cancel keeps the download going")
        self.wait_for(self.completion_shown, "install: completion page", timeout=120,
                      shot="install-completed")
        self.expect_application_starts(process, "install", lambda: self.click(*centre(LAUNCH)))
