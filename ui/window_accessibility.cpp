// UI Automation for MainWindow: its providers are made on the first WM_GETOBJECT that asks for
// them, follow every repaint of the window from then on, and act through the same click path as
// the pointer and the keyboard.
#include <windows.h>

#include "ui/main_window.h"

namespace lum::installer {
namespace {

// A page, or the progress page for every busy stage (its list stays while the stages pass),
// and the overlay over it.
std::uint32_t StructureOf(const PageView& view) {
  const InstallStage page = IsBusyStage(view.stage) ? InstallStage::Preparing : view.stage;
  return static_cast<std::uint32_t>(page) << 8 | static_cast<std::uint32_t>(view.dialog);
}

}  // namespace

std::optional<LRESULT> MainWindow::OnGetObject(HWND target, WPARAM wParam, LPARAM lParam) {
  if (!AccessibilityServer::AsksForUia(lParam)) return std::nullopt;
  if (!accessibility) {
    accessibility = AccessibilityServer::Create(uiaApi(), window, pathEdit, kWindowTitle);
    if (!accessibility) return std::nullopt;
    SyncAccessibility();
  }
  return target == pathEdit ? accessibility->AnswerField(wParam, lParam)
                            : accessibility->AnswerWindow(wParam, lParam);
}

void MainWindow::SyncAccessibility() {
  if (!accessibility) return;
  const PageView view = CurrentView();
  FocusTargetsOf(view);  // a new page's focus starts where its list says
  accessibility->Update(StructureOf(view), AccessibleElementsFor(view),
                        static_cast<int>(FocusIndex()), PixelsPerDesignUnit());
}

void MainWindow::OnAccessibleAction(WPARAM wParam, LPARAM lParam) {
  if (!accessibility) return;
  AccessibleAction action = AccessibleAction::Invoke;
  const std::optional<AccessibleElement> element =
      accessibility->ActionTarget(wParam, lParam, action);
  if (!element) return;  // a page or overlay that is gone
  if (action == AccessibleAction::Focus) {
    if (element->focusIndex < 0) return;
    FocusIndex() = static_cast<std::size_t>(element->focusIndex);
    PlaceKeyboardFocus();
    Invalidate();
    return;
  }
  ClickCentre(element->rect);
}

}  // namespace lum::installer
