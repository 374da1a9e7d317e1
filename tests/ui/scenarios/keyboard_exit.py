"""The keyboard alone leaves a running installation through the exit question: Esc asks with the
focus on the safe answer, the cancel button (confirming cancels the installation), the focus
stays on the question's two buttons, Esc and the cancel button keep the run, Enter on the confirm
button ends the program."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_keyboard_exit(self):
        process = self.open_window(self.setup_exe, name="keyboard exit")
        self.wait_for(self.welcome_drawn, "keyboard exit: welcome page", timeout=60)
        self.keys("Return")
        self.wait_for(self.progress_shown, "keyboard exit: Enter starts the installation")

        def question(i):
            return (self.scrim_shown(i) and self.ring_around(i, DIALOG_CANCEL, 5) and
                    self.ring_pixels(i, DIALOG_CONFIRM, 5) == 0)

        def on_confirm(i):
            return (self.scrim_shown(i) and self.ring_around(i, DIALOG_CONFIRM, 5) and
                    self.ring_pixels(i, DIALOG_CANCEL, 5) == 0)

        def running(i):
            return self.no_scrim(i) and self.progress_shown(i)

        self.key("Escape")
        self.wait_for(question, "keyboard exit: Esc asks, focus on the cancel button",
                      shot="keyboard-exit-question")
        self.key("Tab")
        self.wait_for(on_confirm, "keyboard exit: Tab goes to the confirm button",
                      shot="keyboard-exit-confirm")
        self.key("Tab")
        self.wait_for(question, "keyboard exit: Tab wraps to the cancel button")
        self.key("shift+Tab")
        self.wait_for(on_confirm, "keyboard exit: Shift+Tab back to the confirm button")
        self.key("shift+Tab")
        self.wait_for(question, "keyboard exit: Shift+Tab again to the cancel button")
        self.key("Return")
        self.wait_for(running, "keyboard exit: Enter on cancel keeps the run")
        self.key("Escape")
        self.wait_for(question, "keyboard exit: asked again, focus on cancel again")
        self.key("Escape")
        self.wait_for(running, "keyboard exit: Esc on the question keeps the run")
        self.check(process.poll() is None, "keyboard exit: the program still runs")
        self.key("Escape")
        self.wait_for(question, "keyboard exit: asked a third time")
        self.key("Tab")
        self.wait_for(on_confirm, "keyboard exit: Tab to the confirm button")
        self.key("Return")
        self.wait_exit(process, "keyboard exit: Enter on confirm ends the program with 0")
