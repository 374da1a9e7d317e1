// What the keyboard can reach on the shown page or overlay, in focus order: the one list that
// Tab walks, the ring is drawn around and an accessibility provider reads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ui/page/layout.h"

namespace lum::installer {

struct PageView;

enum class FocusKind { Button, CheckMark, Link, Edit };

struct FocusTarget {
  FocusKind kind = FocusKind::Button;
  DesignRect rect{};  // where a click on it lands; the ring goes around it
  std::wstring text;  // as shown: a label, or the path field's text
  bool enabled = true;
};

struct FocusList {
  std::vector<FocusTarget> targets;
  std::size_t initial = 0;  // where focus starts on this page or overlay
};

// An overlay's buttons while one is up, else the page's targets; busy and failed stages have none.
FocusList FocusTargetsFor(const PageView& view);

}  // namespace lum::installer
