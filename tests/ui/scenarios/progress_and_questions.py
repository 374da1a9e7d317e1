"""The harness: the progress page and its bounds, the exit question, the worker's questions,
the completion page and a launch that fails."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_progress_and_questions(self):
        process, send, answers = self.harness("harness-progress")
        send("status 3 45 - 正在安装")
        image = self.wait_for(self.progress_shown, "progress: page shown", shot="progress-45")
        self.check(is_strong_red(image.pixel(450, 210)), "progress: logo drawn")
        dark = image.count(PROGRESS_TITLE, is_dark)
        self.check(dark > 150 * self.f * self.f, "progress: title drawn", f"{dark}")
        fill = int(6 * 45)  # 9 x 45 design units, at 2/3
        self.check(near(image.raw(fill - 3, 309), RED_START, 3) and
                   near(image.raw(fill + 3, 309), TRACK, 3),
                   "progress: fill ends at 45 %", f"{image.raw(fill - 3, 309)} {image.raw(fill + 3, 309)}")
        text45 = image.region(PROGRESS_TEXT)
        self.check(sum(1 for c in text45 if is_gray_text(c)) > 60, "progress: percentage text drawn")

        def bar_and_text(progress, shot=None):
            send(f"status 3 {progress} - 正在安装")
            return self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) > 10,
                                 f"progress: {progress} shown", shot=shot)

        below = bar_and_text(-5, "progress-minus5")
        self.check(near(below.raw(1, 309), TRACK, 3), "progress: -5 draws an empty bar")
        send("status 3 45 - 正在安装")
        self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) <= 10, "progress: back at 45")
        zero = bar_and_text(0)
        self.check(differing(below.region(PROGRESS_TEXT), zero.region(PROGRESS_TEXT)) <= 5,
                   "progress: -5 reads as 0 %")
        above = bar_and_text(130, "progress-130")
        self.check(near(above.raw(597, 309), RED_START, 3), "progress: 130 draws a full bar")
        send("status 3 45 - 正在安装")
        self.wait_for(lambda i: differing(i.region(PROGRESS_TEXT), text45) <= 10, "progress: 45 again")
        hundred = bar_and_text(100)
        self.check(differing(above.region(PROGRESS_TEXT), hundred.region(PROGRESS_TEXT)) <= 5,
                   "progress: 130 reads as 100 %")

        # The exit question while busy.
        self.click(*CLOSE_GLYPH)
        image = self.wait_for(self.scrim_shown, "exit question: shown over the progress page",
                              shot="overlay-exit")
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f, "exit question: text")
        self.click(*centre(DIALOG_CANCEL))
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                      "exit question: cancel keeps the progress page")
        self.check(process.poll() is None, "exit question: program still runs")

        # The worker's questions.
        send("confirm 0")
        image = self.wait_for(self.scrim_shown, "close-app question: shown", shot="overlay-close-app")
        close_label = self.confirm_label(image)
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_for(lambda i: self.no_scrim(i), "close-app question: answered")
        self.wait_answers(answers, ["answer 0 1"], "close-app question: confirm answers yes")
        send("confirm 1")
        image = self.wait_for(self.scrim_shown, "force-close question: shown",
                              shot="overlay-force-close")
        self.check(differing(self.confirm_label(image), close_label) > 20,
                   "force-close question: its own confirm label")
        self.click(*centre(DIALOG_CANCEL))
        self.wait_for(lambda i: self.no_scrim(i), "force-close question: answered")
        self.wait_answers(answers, ["answer 0 1", "answer 1 0"], "force-close question: cancel answers no")

        # Completion, then a launch that fails (nothing is installed in the test bed).
        send("status 6 100 - 安装完成")
        image = self.wait_for(lambda i: self.primary_colours(i, LAUNCH, RED_START, RED_END),
                              "completion: page shown", shot="completed")
        self.check(is_strong_red(image.pixel(450, 210)), "completion: logo drawn")
        gray = image.count(COMPLETED_TEXT, is_gray_text)
        self.check(gray > 80 * self.f * self.f, "completion: text drawn", f"{gray}")
        self.expect_colour(image, 450, 585, WHITE, 1, "completion: white canvas")
        self.click(*centre(LAUNCH))
        image = self.wait_for(lambda i: self.scrim_shown(i) and
                              near(i.pixel(63, 528), tuple(int(c * 0.82) for c in RED_START), 5),
                              "launch failure: error overlay over the welcome page",
                              shot="overlay-error-launch")
        self.labels["E_LAUNCH"] = self.confirm_label(image)
        self.check(image.count(DIALOG_BODY, is_dark) > 100 * self.f * self.f,
                   "launch failure: message shown")
        # "重新下载" starts a new run from the current options.
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_for(lambda i: self.no_scrim(i) and self.progress_shown(i),
                      "launch failure: retry starts a new run")
        self.click(*CLOSE_GLYPH)
        self.wait_for(self.scrim_shown, "exit question: shown during the new run")
        self.click(*centre(DIALOG_CONFIRM))
        self.wait_exit(process, "exit question: confirm ends the harness with 0")
