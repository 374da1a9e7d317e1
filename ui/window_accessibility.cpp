// UI Automation for MainWindow: its providers are made on the first WM_GETOBJECT that asks for
// them, follow every repaint of the window from then on, and act through the same Activate as
// the pointer and the keyboard.
#include <windows.h>

#include <algorithm>

#include "ui/main_window.h"

namespace lum::installer {
namespace {

// The page, the overlay over it, and how many controls a screen reader is told of there (the
// welcome page under a failure tells of none but the glyphs).
std::uint32_t StructureOf(const PageView& view, const ControlList& list) {
  const auto announced = std::count_if(list.controls.begin(), list.controls.end(),
                                       [](const Control& control) { return control.announced; });
  return static_cast<std::uint32_t>(view.page()) << 16 |
         static_cast<std::uint32_t>(view.dialog) << 8 | static_cast<std::uint32_t>(announced);
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
  ControlList list = InputControls(view);
  const std::uint32_t structure = StructureOf(view, list);
  accessibility->Update(structure, std::move(list.controls), Focus(), PixelsPerDesignUnit());
}

void MainWindow::OnAccessibleAction(WPARAM wParam, LPARAM lParam) {
  if (!accessibility) return;
  AccessibleAction action = AccessibleAction::Invoke;
  const std::optional<Control> control = accessibility->ActionTarget(wParam, lParam, action);
  if (!control) return;  // a page or overlay that is gone
  if (action == AccessibleAction::Focus) {
    if (!control->takesFocus) return;
    Focus() = control->id;
    PlaceKeyboardFocus();
    Invalidate();
    return;
  }
  Activate(control->id);
}

}  // namespace lum::installer
