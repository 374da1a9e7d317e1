// MainWindow's message table and the pointer: dragging by the top strip, the hand cursor, hover
// over the install button, and clicks, taken at the button's release and handed to the control
// the page model's hit test names.
#include <windows.h>
#include <windowsx.h>

#include "ui/main_window.h"
#include "ui/paint/page_painter.h"

namespace lum::installer {

LRESULT MainWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:
      return OnNcHitTest(lParam);
    case WM_SETCURSOR:
      OnSetCursor();
      return TRUE;
    case WM_MOUSEMOVE:
      OnMouseMove(lParam);
      return 0;
    case WM_LBUTTONDOWN:
      pressed = true;
      SetCapture(window);
      Invalidate();
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(lParam);
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_TIMER:
      if (wParam == kRedrawTimer) OnRedrawTimer();
      return 0;
    case WM_SIZE:
      if (renderTarget) renderTarget->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(wParam, lParam);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      if (controller) controller->RequestCancel();
      accessibility.reset();
      PostQuitMessage(0);
      return 0;
    case WM_INSTALLER_STATUS:
      OnInstallerStatus(lParam);
      return 0;
    case WM_INSTALLER_CONFIRM:
      OnInstallerConfirm(lParam);
      return 0;
    case WM_INSTALLER_ACCESSIBLE_ACTION:
      OnAccessibleAction(wParam, lParam);
      return 0;
    case WM_GETOBJECT: {
      const std::optional<LRESULT> answer = OnGetObject(window, wParam, lParam);
      return answer ? *answer : DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_KEYDOWN:
      if (OnKeyDown(wParam, lParam)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_CHANGEUISTATE:
      OnChangeUiState(wParam);
      return 0;
    case WM_UPDATEUISTATE:
      OnUpdateUiState(wParam);
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == pathEdit && HIWORD(wParam) == EN_SETFOCUS) {
        OnPathEditFocused();
      }
      if (reinterpret_cast<HWND>(lParam) == pathEdit && HIWORD(wParam) == EN_CHANGE) {
        OnPathChanged();
      }
      return DefWindowProcW(window, message, wParam, lParam);
    default:
      if (taskbar.HandleMessage(message)) return 0;
      if (MayChangeContrast(message, wParam)) {
        highContrast = contrastQuery();
        Invalidate();
      }
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

bool MainWindow::ScreenToDesign(POINT point, float& x, float& y) const {
  if (!ScreenToClient(window, &point)) return false;
  const float f = PixelsPerDesignUnit();
  x = static_cast<float>(point.x) / f;
  y = static_cast<float>(point.y) / f;
  return true;
}

SentenceHitTest MainWindow::SentenceHit() const {
  IDWriteFactory* factory = textFactory.Get();
  return [factory](float x, float y) { return LegalLinkAt(factory, x, y); };
}

LRESULT MainWindow::OnNcHitTest(LPARAM lParam) {
  float x = 0;
  float y = 0;
  if (!ScreenToDesign(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, x, y)) return HTCLIENT;
  return IsCaption(view, x, y) ? HTCAPTION : HTCLIENT;
}

void MainWindow::OnSetCursor() {
  POINT cursor{};
  float x = -1;
  float y = -1;
  const bool known = GetCursorPos(&cursor) && ScreenToDesign(cursor, x, y);
  const bool hand = known && IsCursorTarget(view, x, y, SentenceHit());
  SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
}

void MainWindow::OnMouseMove(LPARAM lParam) {
  const float f = PixelsPerDesignUnit();
  const bool now = IsOverHoverButton(view, static_cast<float>(GET_X_LPARAM(lParam)) / f,
                                     static_cast<float>(GET_Y_LPARAM(lParam)) / f);
  if (now != hover) {
    hover = now;
    Invalidate();
  }
}

void MainWindow::OnLeftButtonUp(LPARAM lParam) {
  pressed = false;
  ReleaseCapture();
  Invalidate();
  // The release is the click, wherever the press was; captured, a release outside the window
  // lands on nothing.
  const float f = PixelsPerDesignUnit();
  const std::optional<ControlId> hit =
      HitTest(InputControls(view), static_cast<float>(GET_X_LPARAM(lParam)) / f,
              static_cast<float>(GET_Y_LPARAM(lParam)) / f, SentenceHit());
  if (hit) Activate(*hit);
}

}  // namespace lum::installer
