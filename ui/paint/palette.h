// The colours one paint draws with: the design's own, or under high contrast the system's, where
// the decorative images are left out as well. The layout is the same in both.
#pragma once

#include <windows.h>
#include <d2d1.h>

namespace lum::installer {

namespace palette {
inline constexpr D2D1_COLOR_F kWhite{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr D2D1_COLOR_F kDarkText{0.145f, 0.157f, 0.18f, 1.0f};
inline constexpr D2D1_COLOR_F kGrayText{0.36f, 0.37f, 0.40f, 1.0f};
inline constexpr D2D1_COLOR_F kLinkBlue{0.32f, 0.45f, 0.68f, 1.0f};
inline constexpr D2D1_COLOR_F kRedStart{1.0f, 60 / 255.0f, 56 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kRedEnd{1.0f, 53 / 255.0f, 100 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kHoverStart{0.96f, 55 / 255.0f, 52 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kHoverEnd{0.96f, 48 / 255.0f, 95 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kPressedStart{0.9f, 50 / 255.0f, 47 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kPressedEnd{0.9f, 43 / 255.0f, 86 / 255.0f, 1.0f};
inline constexpr D2D1_COLOR_F kDisabledFill{0.78f, 0.78f, 0.80f, 1.0f};
inline constexpr D2D1_COLOR_F kFlatFill{39 / 255.0f, 43 / 255.0f, 50 / 255.0f, 13 / 255.0f};
inline constexpr D2D1_COLOR_F kUncheckedCircle{0.80f, 0.80f, 0.82f, 1.0f};
inline constexpr D2D1_COLOR_F kProgressTrack{0.90f, 0.90f, 0.92f, 1.0f};
inline constexpr D2D1_COLOR_F kPathBoxOutline{0.91f, 0.91f, 0.92f, 1.0f};
inline constexpr D2D1_COLOR_F kScrim{0.0f, 0.0f, 0.0f, 0.18f};
inline constexpr D2D1_COLOR_F kNone{0.0f, 0.0f, 0.0f, 0.0f};
}  // namespace palette

// By default the design's colours.
struct Palette {
  D2D1_COLOR_F canvas = palette::kWhite;
  D2D1_COLOR_F card = palette::kWhite;
  D2D1_COLOR_F scrim = palette::kScrim;
  D2D1_COLOR_F glyph = palette::kGrayText;  // minimise and close
  D2D1_COLOR_F text = palette::kDarkText;   // titles, overlay texts
  D2D1_COLOR_F label = palette::kGrayText;  // the smaller labels
  D2D1_COLOR_F link = palette::kLinkBlue;
  D2D1_COLOR_F primaryStart = palette::kRedStart;
  D2D1_COLOR_F primaryEnd = palette::kRedEnd;
  D2D1_COLOR_F hoverStart = palette::kHoverStart;
  D2D1_COLOR_F hoverEnd = palette::kHoverEnd;
  D2D1_COLOR_F pressedStart = palette::kPressedStart;
  D2D1_COLOR_F pressedEnd = palette::kPressedEnd;
  D2D1_COLOR_F primaryText = palette::kWhite;
  D2D1_COLOR_F disabledFill = palette::kDisabledFill;
  D2D1_COLOR_F disabledText = palette::kWhite;
  D2D1_COLOR_F flatFill = palette::kFlatFill;
  D2D1_COLOR_F flatText = palette::kDarkText;
  D2D1_COLOR_F checked = palette::kRedStart;
  D2D1_COLOR_F tick = palette::kWhite;
  D2D1_COLOR_F unchecked = palette::kUncheckedCircle;
  D2D1_COLOR_F progressTrack = palette::kProgressTrack;
  D2D1_COLOR_F progressFill = palette::kRedStart;
  D2D1_COLOR_F pathBoxOutline = palette::kPathBoxOutline;
  // Around flat and disabled buttons, unchecked marks, the progress track and the overlay card,
  // whose fills alone may not stand out from the canvas; the design draws none.
  D2D1_COLOR_F outline = palette::kNone;
  D2D1_COLOR_F focusRing = palette::kDarkText;  // around the keyboard's target
  bool images = true;
};

// The system's colours (GetSysColor), as high contrast wants them, and no images.
Palette SystemColourPalette();
// The palette for a paint: the design's, or the system's under high contrast.
Palette PaletteFor(bool highContrast);

}  // namespace lum::installer
