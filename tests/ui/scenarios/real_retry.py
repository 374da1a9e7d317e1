"""The shipped program: a failed run retried from the failure overlay."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_real_retry(self):
        """A failed run is retried from the failure overlay and then completes."""
        self.forget_installation()
        self.serve_demo("--manifest-status", "500")
        process = self.open_window(self.setup_exe, name="retry")
        self.wait_for(self.welcome_drawn, "retry: welcome page", timeout=60)
        self.click(*centre(WELCOME_INSTALL))
        image = self.wait_for(self.scrim_shown, "retry: network failure overlay", timeout=60,
                              shot="retry-network-failure")
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f, "retry: failure text drawn")
        self.serve_demo()
        self.click(*centre(DIALOG_CONFIRM))  # "重新检测"
        self.wait_for(self.completion_shown, "retry: the new run completes", timeout=120,
                      shot="retry-completed")
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "retry: closing the completion page ends with 0")
        self.forget_installation()
