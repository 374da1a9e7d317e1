#include "ui/paint/palette.h"

namespace lum::installer {
namespace {

D2D1_COLOR_F SystemColour(int index) {
  const COLORREF colour = GetSysColor(index);
  return D2D1_COLOR_F{GetRValue(colour) / 255.0f, GetGValue(colour) / 255.0f,
                      GetBValue(colour) / 255.0f, 1.0f};
}

}  // namespace

Palette SystemColourPalette() {
  const D2D1_COLOR_F window = SystemColour(COLOR_WINDOW);
  const D2D1_COLOR_F text = SystemColour(COLOR_WINDOWTEXT);
  const D2D1_COLOR_F highlight = SystemColour(COLOR_HIGHLIGHT);
  const D2D1_COLOR_F highlightText = SystemColour(COLOR_HIGHLIGHTTEXT);
  Palette colours;
  colours.canvas = window;
  colours.card = window;
  colours.scrim = palette::kNone;  // a tint would change the system's colours
  colours.glyph = text;
  colours.text = text;
  colours.label = text;
  colours.link = SystemColour(COLOR_HOTLIGHT);
  colours.primaryStart = colours.primaryEnd = highlight;
  colours.hoverStart = colours.hoverEnd = highlight;
  colours.pressedStart = colours.pressedEnd = highlight;
  colours.primaryText = highlightText;
  colours.disabledFill = SystemColour(COLOR_BTNFACE);
  colours.disabledText = SystemColour(COLOR_GRAYTEXT);
  colours.flatFill = SystemColour(COLOR_BTNFACE);
  colours.flatText = SystemColour(COLOR_BTNTEXT);
  colours.checked = highlight;
  colours.tick = highlightText;
  colours.unchecked = window;
  colours.progressTrack = window;
  colours.progressFill = highlight;
  colours.pathBoxOutline = text;
  colours.outline = text;
  colours.focusRing = text;
  colours.images = false;
  return colours;
}

Palette PaletteFor(bool highContrast) { return highContrast ? SystemColourPalette() : Palette{}; }

}  // namespace lum::installer
