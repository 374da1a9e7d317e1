// Keyboard access to MainWindow: Tab order over the shown page's or overlay's targets, Enter and
// Space as a click on the focused one, Esc as the close glyph or the overlay's cancel button,
// and Windows' focus cues (hidden until the keyboard is used).
#include <windows.h>

#include <utility>

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

FocusList MainWindow::FocusTargetsNow() { return FocusTargetsOf(CurrentView()); }

FocusList MainWindow::FocusTargetsOf(const PageView& view) {
  // A new page starts at its first focus; an overlay sets its own when it comes up.
  if (focusStage != view.stage) {
    focusStage = view.stage;
    PageView page = view;
    page.dialog = DialogKind::NoDialog;
    pageFocus = FocusTargetsFor(page).initial;
  }
  return FocusTargetsFor(view);
}

std::size_t& MainWindow::FocusIndex() {
  return dialogKind != DialogKind::NoDialog ? overlayFocus : pageFocus;
}

std::optional<FocusTarget> MainWindow::FocusRingTarget(const PageView& view) {
  if (focusHidden) return std::nullopt;
  FocusList list = FocusTargetsOf(view);
  const std::size_t index = FocusIndex();
  if (index >= list.targets.size()) return std::nullopt;
  return std::move(list.targets[index]);
}

void MainWindow::OnPathEditFocused() {
  // A click into the field puts the Tab order there too.
  const FocusList list = FocusTargetsNow();
  if (dialogKind != DialogKind::NoDialog) return;
  for (std::size_t i = 0; i < list.targets.size(); ++i) {
    if (list.targets[i].kind == FocusKind::Edit) pageFocus = i;
  }
  Invalidate();
}

bool MainWindow::PlaceKeyboardFocus() {
  const FocusList list = FocusTargetsNow();
  const std::size_t index = FocusIndex();
  const bool onField = index < list.targets.size() && list.targets[index].kind == FocusKind::Edit &&
                       pathEdit != nullptr;
  if (onField) {
    SetFocus(pathEdit);
  } else if (GetFocus() != window) {
    SetFocus(window);
  }
  return onField;
}

void MainWindow::MoveFocus(bool backwards) {
  const FocusList list = FocusTargetsNow();
  const std::size_t count = list.targets.size();
  if (count == 0) return;
  std::size_t& index = FocusIndex();
  index = backwards ? (index + count - 1) % count : (index + 1) % count;
  // Tabbing into a field selects its text, as a dialog does.
  if (PlaceKeyboardFocus()) SendMessageW(pathEdit, EM_SETSEL, 0, -1);
  Invalidate();
}

void MainWindow::ClickCentre(const DesignRect& rect) {
  // A key press is the click at the target's centre: keyboard and pointer share one path.
  HandleClick((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

void MainWindow::ActivateFocused() {
  const FocusList list = FocusTargetsNow();
  const std::size_t index = FocusIndex();
  if (index >= list.targets.size()) return;
  if (list.targets[index].kind == FocusKind::Edit) {
    PlaceKeyboardFocus();  // the field takes the keys; it has nothing to press
    return;
  }
  ClickCentre(list.targets[index].rect);
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
    ClickCentre(dialogKind != DialogKind::NoDialog ? layout::kDialogCancel : layout::kCloseArea);
  } else {
    ActivateFocused();
  }
  return true;
}

}  // namespace lum::installer
