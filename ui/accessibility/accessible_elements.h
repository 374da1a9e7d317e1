// What a screen reader is shown of the page or overlay on screen: one element per target the
// pointer can use there, plus the texts that say where the installation stands. Taken from the
// same view a paint draws, so what is read out is what is shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/page/layout.h"

namespace lum::installer {

struct PageView;

enum class AccessibleRole { Button, CheckBox, Hyperlink, ProgressBar, Text, Edit };

struct AccessibleElement {
  AccessibleRole role = AccessibleRole::Text;
  std::wstring name;       // the text it shows
  DesignRect rect{};       // where a click on it lands, or where its text is drawn
  bool checked = false;    // a check box's state
  std::int32_t value = 0;  // a progress bar's percentage, 0-100
  int focusIndex = -1;     // its place in the Tab order; -1 when the keyboard does not stop there
  bool alert = false;      // read out as soon as it appears: a failure's message
};

// In reading order. The path field is in the list although it is a window of its own, which
// answers for itself; the window's own children are the other elements.
std::vector<AccessibleElement> AccessibleElementsFor(const PageView& view);

// The names of the window glyphs, which show no text.
inline constexpr wchar_t kMinimizeName[] = L"最小化";
inline constexpr wchar_t kCloseName[] = L"关闭";

}  // namespace lum::installer
