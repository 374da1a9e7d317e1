#include "ui/accessibility/accessible_elements.h"

#include <algorithm>

#include "core/installer_types.h"
#include "ui/page/controls.h"
#include "ui/paint/page_painter.h"

namespace lum::installer {
namespace {

AccessibleRole RoleOf(FocusKind kind) {
  switch (kind) {
    case FocusKind::CheckMark:
      return AccessibleRole::CheckBox;
    case FocusKind::Link:
      return AccessibleRole::Hyperlink;
    case FocusKind::Edit:
      return AccessibleRole::Edit;
    case FocusKind::Button:
      break;
  }
  return AccessibleRole::Button;
}

bool CheckedState(const PageView& view, const DesignRect& rect) {
  if (rect == layout::kAgreementCheck) return view.agreed;
  if (rect == layout::kDesktopOption) return view.desktopShortcut;
  if (rect == layout::kStartMenuOption) return view.startMenuShortcut;
  return false;
}

AccessibleElement Text(std::wstring name, const DesignRect& rect) {
  AccessibleElement element;
  element.name = std::move(name);
  element.rect = rect;
  return element;
}

}  // namespace

std::vector<AccessibleElement> AccessibleElementsFor(const PageView& view) {
  std::vector<AccessibleElement> elements;
  const bool overlay = view.dialog != DialogKind::NoDialog;
  if (overlay) {
    // The page under an overlay takes no clicks, the window glyphs included.
    const DialogTexts texts = TextsForDialog(view.dialog, view.message, view.errorCode);
    if (!texts.title.empty()) elements.push_back(Text(texts.title, layout::kDialogTitle));
    const DesignRect body = view.dialog == DialogKind::AgreementRequired
                                ? DesignRect{layout::kAgreementOriginX, layout::kAgreementOriginY,
                                             layout::kAgreementOriginX + layout::kAgreementWidth,
                                             layout::kAgreementOriginY + layout::kAgreementHeight}
                                : layout::kDialogBody;
    elements.push_back(Text(texts.body, body));
    elements.back().alert = view.dialog == DialogKind::InstallError;
  } else {
    elements.push_back({AccessibleRole::Button, kMinimizeName, layout::kMinimizeArea});
    elements.push_back({AccessibleRole::Button, kCloseName, layout::kCloseArea});
    if (IsBusyStage(view.stage)) {
      AccessibleElement bar{AccessibleRole::ProgressBar, ProgressText(view.progress),
                            layout::kProgressTrack};
      bar.value = std::clamp<std::int32_t>(view.progress, 0, 100);
      elements.push_back(std::move(bar));
    } else if (view.stage == InstallStage::Completed) {
      elements.push_back(Text(kTextCompleted, layout::kCompletedText));
    }
  }
  const FocusList focus = FocusTargetsFor(view);
  for (std::size_t i = 0; i < focus.targets.size(); ++i) {
    const FocusTarget& target = focus.targets[i];
    AccessibleElement element{RoleOf(target.kind), target.text, target.rect};
    element.checked = element.role == AccessibleRole::CheckBox && CheckedState(view, target.rect);
    element.focusIndex = static_cast<int>(i);
    elements.push_back(std::move(element));
  }
  return elements;
}

}  // namespace lum::installer
