// Keyboard access to MainWindow: Tab order over the shown page's or overlay's controls, Enter and
// Space activate the focused one as a click would, Esc is the close glyph or the overlay's cancel
// button, and Windows' focus cues (hidden until the keyboard is used).
#include <windows.h>

#include "ui/main_window.h"

namespace lum::installer {
namespace {

constexpr LPARAM kKeyWasDown = LPARAM{1} << 30;

}  // namespace

void MainWindow::SubclassPathEdit() {
  if (pathEdit == nullptr) return;
  // The field's own procedure is kept on the field, so it outlives this object's window data.
  const LONG_PTR original = SetWindowLongPtrW(
      pathEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::PathEditProc));
  SetWindowLongPtrW(pathEdit, GWLP_USERDATA, original);
}

LRESULT CALLBACK MainWindow::PathEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_USERDATA));
  // Tab and Esc belong to the window, as in a dialog; Enter does nothing in a one-line field.
  const bool windowKey = wParam == VK_TAB || wParam == VK_ESCAPE;
  if (message == WM_KEYDOWN && windowKey) {
    SendMessageW(GetParent(edit), WM_KEYDOWN, wParam, lParam);
    return 0;
  }
  if (message == WM_CHAR && (wParam == L'\t' || wParam == L'\x1b' || wParam == L'\r')) return 0;
  if (message == WM_GETOBJECT) {
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(GetParent(edit), GWLP_USERDATA));
    const std::optional<LRESULT> answer =
        self != nullptr ? self->OnGetObject(edit, wParam, lParam) : std::nullopt;
    if (answer) return *answer;
  }
  return CallWindowProcW(original, edit, message, wParam, lParam);
}

void MainWindow::OnChangeUiState(WPARAM wParam) {
  // A top-level window answers with WM_UPDATEUISTATE to itself, which reaches its children too.
  SendMessageW(window, WM_UPDATEUISTATE, wParam, 0);
}

void MainWindow::OnUpdateUiState(WPARAM wParam) {
  if ((HIWORD(wParam) & UISF_HIDEFOCUS) == 0) return;
  bool hidden = focusHidden;
  if (LOWORD(wParam) == UIS_SET) hidden = true;
  if (LOWORD(wParam) == UIS_CLEAR) hidden = false;
  if (hidden == focusHidden) return;
  focusHidden = hidden;
  Invalidate();
}

std::optional<ControlId>& MainWindow::Focus() {
  return view.dialog != DialogKind::NoDialog ? overlayFocus : pageFocus;
}

void MainWindow::OnPathEditFocused() {
  // A click into the field puts the Tab order there too.
  if (view.dialog != DialogKind::NoDialog || !PageControls(view).Find(ControlId::PathField)) return;
  pageFocus = ControlId::PathField;
  Invalidate();
}

bool MainWindow::PlaceKeyboardFocus() {
  const bool onField = Focus() == ControlId::PathField && pathEdit != nullptr;
  if (onField) {
    SetFocus(pathEdit);
  } else if (GetFocus() != window) {
    SetFocus(window);
  }
  return onField;
}

void MainWindow::MoveFocus(bool backwards) {
  const std::optional<ControlId> next = NextFocus(InputControls(view), Focus(), backwards);
  if (!next) return;
  Focus() = next;
  // Tabbing into a field selects its text, as a dialog does.
  if (PlaceKeyboardFocus()) SendMessageW(pathEdit, EM_SETSEL, 0, -1);
  Invalidate();
}

bool MainWindow::OnKeyDown(WPARAM key, LPARAM flags) {
  if (key != VK_TAB && key != VK_RETURN && key != VK_SPACE && key != VK_ESCAPE) return false;
  SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  if (key == VK_TAB) {
    MoveFocus(GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  if ((flags & kKeyWasDown) != 0) return true;  // a held key acts once
  if (key == VK_ESCAPE) {
    // The overlay's cancel button, or the close glyph.
    Activate(view.dialog != DialogKind::NoDialog ? ControlId::DialogCancel : ControlId::Close);
  } else if (const std::optional<ControlId> focused = Focus();
             focused && InputControls(view).Find(*focused)) {
    Activate(*focused);
  }
  return true;
}

}  // namespace lum::installer
