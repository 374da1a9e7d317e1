"""The focus ring scales with the DPI: around the agreement mark at 96 and at 144 DPI, 3 design
units thick, that is 2 and 3 pixels; Esc on the welcome page closes the window."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def scenario_keyboard_ring_dpi(self):
        try:
            rings = {}
            for dpi in (96, 144):
                if dpi != self.dpi:
                    self.set_dpi(dpi)
                name = f"ring {dpi} DPI"
                process = self.open_window(self.setup_exe, name=name)
                before = self.wait_for(self.welcome_drawn, f"{name}: welcome page", timeout=90)
                self.check(self.ring_pixels(before, AGREEMENT_CHECK, 0) == 0,
                           f"{name}: no ring before a key")
                self.keys("Tab")
                image = self.wait_for(lambda i: self.ring_around(i, AGREEMENT_CHECK, 0),
                                      f"{name}: ring around the agreement mark",
                                      shot=f"keyboard-ring-{dpi}dpi")
                band = self.ring_band(AGREEMENT_CHECK, 0)
                column = int((band[0] + band[2]) / 2 * self.f)
                rings[dpi] = sum(1 for py in range(int(band[1] * self.f), int(band[3] * self.f))
                                 if is_dark(image.raw(column, py)))
                self.key("Escape")
                self.wait_exit(process, f"{name}: Esc closes the window with 0")
            self.check(rings == {96: 2, 144: 3}, "ring: 2 pixels thick at 96 DPI, 3 at 144",
                       str(rings))
        finally:
            self.end_all()
            if self.dpi != 96:
                self.set_dpi(96)
