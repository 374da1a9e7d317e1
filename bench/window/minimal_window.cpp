#include "bench/window/minimal_window.h"

#include <memory>

#include "core/installer_types.h"
#include "ui/main_window.h"

namespace lum::installer::bench {

MinimalWindow::~MinimalWindow() {
  if (window != nullptr && IsWindow(window)) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  renderTarget.Reset();
  factory.Reset();
}

bool MinimalWindow::Create(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &MinimalWindow::StaticWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kMinimalWindowClassName;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  // Same size and place as the real window at 96 DPI.
  const int x = (GetSystemMetrics(SM_CXSCREEN) - 600) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - 400) / 2;
  if (CreateWindowExW(WS_EX_APPWINDOW, kMinimalWindowClassName, L"minimal", WS_POPUP, x, y, 600,
                      400, nullptr, nullptr, instance, this) == nullptr) {
    return false;
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return true;
}

LRESULT CALLBACK MinimalWindow::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  MinimalWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    self =
        static_cast<MinimalWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<MinimalWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->WindowProc(message, wParam, lParam);
}

LRESULT MinimalWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_INSTALLER_STATUS:
      delete reinterpret_cast<InstallerStatus*>(lParam);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void MinimalWindow::Paint() {
  PAINTSTRUCT paint{};
  BeginPaint(window, &paint);
  if (!factory) {
    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                      factory.PutVoid());
  }
  if (!renderTarget && factory) {
    RECT client{};
    GetClientRect(window, &client);
    const D2D1_SIZE_U size =
        D2D1::SizeU(static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom));
    factory->CreateHwndRenderTarget(D2D1::RenderTargetProperties(),
                                    D2D1::HwndRenderTargetProperties(window, size),
                                    renderTarget.Put());
  }
  if (renderTarget) {
    renderTarget->BeginDraw();
    renderTarget->Clear(D2D1::ColorF(D2D1::ColorF::White));
    if (renderTarget->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
      renderTarget.Reset();
    }
  }
  EndPaint(window, &paint);
}

}  // namespace lum::installer::bench
