// The palette a paint takes: the design's colours, or the system's under high contrast, and the
// messages after which the window reads the setting again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ui/paint/high_contrast.h"
#include "ui/paint/palette.h"

namespace lum::installer {
namespace {

bool Same(const D2D1_COLOR_F& a, const D2D1_COLOR_F& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

bool IsSystemColour(const D2D1_COLOR_F& colour, int index) {
  const COLORREF system = GetSysColor(index);
  return std::lround(colour.r * 255.0f) == GetRValue(system) &&
         std::lround(colour.g * 255.0f) == GetGValue(system) &&
         std::lround(colour.b * 255.0f) == GetBValue(system) && colour.a == 1.0f;
}

struct Use {
  const char* what;
  D2D1_COLOR_F Palette::*member;
  D2D1_COLOR_F design;
  int system;
};

const Use kUses[] = {
    {"canvas", &Palette::canvas, palette::kWhite, COLOR_WINDOW},
    {"card", &Palette::card, palette::kWhite, COLOR_WINDOW},
    {"glyph", &Palette::glyph, palette::kGrayText, COLOR_WINDOWTEXT},
    {"text", &Palette::text, palette::kDarkText, COLOR_WINDOWTEXT},
    {"label", &Palette::label, palette::kGrayText, COLOR_WINDOWTEXT},
    {"link", &Palette::link, palette::kLinkBlue, COLOR_HOTLIGHT},
    {"primary start", &Palette::primaryStart, palette::kRedStart, COLOR_HIGHLIGHT},
    {"primary end", &Palette::primaryEnd, palette::kRedEnd, COLOR_HIGHLIGHT},
    {"hover start", &Palette::hoverStart, palette::kHoverStart, COLOR_HIGHLIGHT},
    {"hover end", &Palette::hoverEnd, palette::kHoverEnd, COLOR_HIGHLIGHT},
    {"pressed start", &Palette::pressedStart, palette::kPressedStart, COLOR_HIGHLIGHT},
    {"pressed end", &Palette::pressedEnd, palette::kPressedEnd, COLOR_HIGHLIGHT},
    {"primary text", &Palette::primaryText, palette::kWhite, COLOR_HIGHLIGHTTEXT},
    {"disabled fill", &Palette::disabledFill, palette::kDisabledFill, COLOR_BTNFACE},
    {"disabled text", &Palette::disabledText, palette::kWhite, COLOR_GRAYTEXT},
    {"flat fill", &Palette::flatFill, palette::kFlatFill, COLOR_BTNFACE},
    {"flat text", &Palette::flatText, palette::kDarkText, COLOR_BTNTEXT},
    {"checked", &Palette::checked, palette::kRedStart, COLOR_HIGHLIGHT},
    {"tick", &Palette::tick, palette::kWhite, COLOR_HIGHLIGHTTEXT},
    {"unchecked", &Palette::unchecked, palette::kUncheckedCircle, COLOR_WINDOW},
    {"progress track", &Palette::progressTrack, palette::kProgressTrack, COLOR_WINDOW},
    {"progress fill", &Palette::progressFill, palette::kRedStart, COLOR_HIGHLIGHT},
    {"path box", &Palette::pathBoxOutline, palette::kPathBoxOutline, COLOR_WINDOWTEXT},
    {"outline", &Palette::outline, palette::kNone, COLOR_WINDOWTEXT},
    {"focusRing", &Palette::focusRing, palette::kDarkText, COLOR_WINDOWTEXT},
};

TEST(PaletteChoice, DesignColoursOrTheSystemsWithoutImages) {
  const Palette design = PaletteFor(false);
  const Palette system = PaletteFor(true);
  for (const Use& use : kUses) {
    SCOPED_TRACE(use.what);
    EXPECT_TRUE(Same(design.*use.member, use.design));
    EXPECT_TRUE(IsSystemColour(system.*use.member, use.system));
  }
  EXPECT_TRUE(Same(design.scrim, palette::kScrim));
  EXPECT_EQ(system.scrim.a, 0.0f) << "no tint over the system's colours";
  EXPECT_TRUE(design.images);
  EXPECT_FALSE(system.images);
}

TEST(PaletteChoice, MessagesAfterWhichTheSettingIsReadAgain) {
  const struct {
    UINT message;
    WPARAM wParam;
    bool reads;
  } cases[] = {
      {WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, true},
      {WM_SETTINGCHANGE, SPI_SETWORKAREA, false},
      {WM_THEMECHANGED, 0, true},
      {WM_SYSCOLORCHANGE, 0, true},
      {WM_PAINT, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayChangeContrast(c.message, c.wParam), c.reads) << c.message << " " << c.wParam;
  }
}

}  // namespace
}  // namespace lum::installer
