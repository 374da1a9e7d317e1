// The window's logical canvas: 900 x 600 design units shown at 2/3 scale in a 600 x 400 DIP
// client area, and where everything on it lies. Drawing, the pointer, the focus ring and the
// screen reader's rectangles all come from here (tests/ui/driver.py reads this file too, so each
// rectangle stays on one line: `inline constexpr DesignRect kName{left, top, right, bottom};`).
#pragma once

#include <cstdint>

namespace lum::installer {

inline constexpr float kDesignWidth = 900.0f;
inline constexpr float kDesignHeight = 600.0f;
inline constexpr float kDesignScale = 0.6666667f;
// Dragging works above this line (except on the window glyphs).
inline constexpr float kCaptionBottom = 70.0f;

struct DesignRect {
  float left;
  float top;
  float right;
  float bottom;

  // Bounds included on every side.
  constexpr bool Contains(float x, float y) const {
    return x >= left && x <= right && y >= top && y <= bottom;
  }
  constexpr float Width() const { return right - left; }
  constexpr float Height() const { return bottom - top; }
  constexpr float CentreX() const { return (left + right) / 2; }
  constexpr float CentreY() const { return (top + bottom) / 2; }
  constexpr bool operator==(const DesignRect&) const = default;
};

// Design units to pixels and back for a window at the given DPI.
inline float DesignToPixelFactor(std::uint32_t dpi) {
  return (static_cast<float>(dpi) / 96.0f) * kDesignScale;
}

namespace layout {

inline constexpr DesignRect kCanvas{0, 0, 900, 600};
inline constexpr DesignRect kHero{0, 0, 900, 435};

// Window glyphs and their hit areas.
inline constexpr DesignRect kMinimizeArea{807, 24, 843, 66};
inline constexpr DesignRect kCloseArea{850, 24, 890, 66};

// Welcome page. The agreement mark takes clicks on its whole row, the gaps around the links too.
inline constexpr DesignRect kWelcomeLogo{353.25f, 78, 546.75f, 271.5f};
inline constexpr DesignRect kWelcomeTitle{150, 278, 750, 340};
inline constexpr DesignRect kWelcomeInstall{204, 369, 696, 441};
inline constexpr DesignRect kAgreementCheck{52, 516, 125, 554};
inline constexpr DesignRect kAgreementRow{52, 515, 700, 555};
inline constexpr DesignRect kUserAgreementLink{125, 515, 227, 555};
inline constexpr DesignRect kPrivacyPolicyLink{230, 515, 332, 555};
inline constexpr DesignRect kVipServiceLink{335, 515, 471, 555};
inline constexpr DesignRect kCustomInstallLink{724, 515, 850, 555};

// Custom-install page. The path field is a window of its own inside the path box.
inline constexpr DesignRect kPathBox{67, 189, 712, 246};
inline constexpr DesignRect kPathEdit{68, 200, 711, 245};
inline constexpr DesignRect kChangeFolder{712, 189, 832, 246};
inline constexpr DesignRect kDesktopOption{82, 270, 280, 310};
inline constexpr DesignRect kStartMenuOption{295, 270, 505, 310};
inline constexpr DesignRect kRequiredSpace{530, 270, 680, 310};
inline constexpr DesignRect kFreeSpace{680, 270, 840, 310};
inline constexpr DesignRect kCustomInstall{120, 369, 441, 441};
inline constexpr DesignRect kBack{459, 369, 780, 441};

// Progress and completion pages.
inline constexpr DesignRect kProgressLogo{378, 137, 523, 284};
inline constexpr DesignRect kProgressTitle{150, 310, 750, 365};
inline constexpr DesignRect kProgressTrack{0, 459, 900, 468};
inline constexpr DesignRect kProgressText{100, 495, 800, 545};
inline constexpr DesignRect kCompletedText{150, 306, 750, 352};
inline constexpr DesignRect kLaunch{204, 414, 696, 487};

// Overlay. The agreement sentence is laid out in its box, from its top left corner.
inline constexpr DesignRect kDialogCard{75, 110, 825, 490};
inline constexpr DesignRect kDialogTitle{110, 140, 790, 200};
inline constexpr DesignRect kDialogBody{110, 210, 790, 285};
inline constexpr DesignRect kAgreementBox{90, 195, 810, 270};
inline constexpr DesignRect kDialogCancel{141, 322, 441, 394};
inline constexpr DesignRect kDialogConfirm{459, 322, 759, 394};

}  // namespace layout
}  // namespace lum::installer
