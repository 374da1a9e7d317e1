// Start-up baseline: register a class, create and show a window, clear an HWND render target
// once, run the loop. COM is initialised as in the real entry.
#include <windows.h>
#include <objbase.h>

#include "bench/window/minimal_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int exitCode = 3;
  {
    lum::installer::bench::MinimalWindow window;
    if (window.Create(instance)) {
      MSG message{};
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      exitCode = static_cast<int>(message.wParam);
    }
  }
  CoUninitialize();
  return exitCode;
}
