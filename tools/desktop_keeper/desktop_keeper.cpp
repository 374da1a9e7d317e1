// Test bed tool: keeps the prefix's desktop, and with it the desktop shell (explorer), alive for
// the whole test run, as on Windows where the shell always runs.
//   desktop_keeper.exe
// wineserver closes a desktop one second after its last ordinary process left, and explorer
// quits with it; a later explorer cannot register the shell's automation objects again because
// the dead one's registration is still held by rpcss. One hidden window is enough to count as a
// user of the desktop. Ends with the prefix's processes (testbed.sh stop).
#include <windows.h>

namespace {

LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = KeeperProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"LumTestDesktopKeeper";
  if (!RegisterClassW(&windowClass)) return 1;
  if (!CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                       instance, nullptr)) {
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
