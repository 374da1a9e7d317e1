// The baseline window of the benchmarks: a 600 x 400 popup that clears an HWND render target
// on every paint and, for a status message, frees the posted copy and invalidates.
#pragma once

#include <windows.h>
#include <d2d1.h>

#include "base/handles.h"

namespace lum::installer::bench {

inline constexpr wchar_t kMinimalWindowClassName[] = L"LUMBenchMinimalWindow";

class MinimalWindow {
 public:
  MinimalWindow() = default;
  MinimalWindow(const MinimalWindow&) = delete;
  MinimalWindow& operator=(const MinimalWindow&) = delete;
  ~MinimalWindow();

  [[nodiscard]] bool Create(HINSTANCE instance);
  HWND Handle() const { return window; }

 private:
  static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND window = nullptr;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1HwndRenderTarget> renderTarget;
};

}  // namespace lum::installer::bench
