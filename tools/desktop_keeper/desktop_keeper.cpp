// Test bed tool: keeps the prefix's desktop, and with it the desktop shell (explorer), alive for
// the whole test run, as on Windows where the shell always runs.
//   desktop_keeper.exe [READY_FILE]
// wineserver closes a desktop one second after its last ordinary process left, and explorer
// quits with it; a later explorer cannot register the shell's automation objects again because
// the dead one's registration is still held by rpcss. One hidden window is enough to count as a
// user of the desktop. Ends with the prefix's processes (testbed.sh stop).
//
// With READY_FILE it also waits, for at most 10 s, until the shell answers as the programs under
// test reach it (its window list finds the desktop window) and writes "ready" there, or "no
// shell" and the last failure: an explorer that came up before the prefix's services could
// never answer, and a test bed whose shell does not answer is not ready.
#include <windows.h>
#include <exdisp.h>
#include <shlobj.h>

#include <cstdio>

namespace {

LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

// SWC_DESKTOP and SWFO_NEEDDISPATCH, which MinGW's <exdisp.h> does not declare.
constexpr int kShellWindowDesktop = 0x8;
constexpr int kFindNeedDispatch = 0x1;

HRESULT FindDesktopWindow() {
  IShellWindows* windows = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows));
  if (FAILED(hr)) return hr;
  VARIANT location{};
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT root{};
  long handle = 0;
  IDispatch* desktop = nullptr;
  hr = windows->FindWindowSW(&location, &root, kShellWindowDesktop, &handle, kFindNeedDispatch,
                             &desktop);
  if (desktop) desktop->Release();
  windows->Release();
  return hr == S_OK && desktop ? S_OK : FAILED(hr) ? hr : E_FAIL;
}

DWORD WINAPI AwaitShell(void* readyFile) {
  // A shell that answers does so within a second, also under load (0.3 s at most seen); one
  // that came up broken never does. A failure is only final when it lasts.
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool com = SUCCEEDED(hr);
  const ULONGLONG start = GetTickCount64();
  for (int tries = 0; com && tries < 50; ++tries) {
    if ((hr = FindDesktopWindow()) == S_OK) break;
    Sleep(200);
  }
  std::printf("desktop keeper: %s after %llu ms (0x%08lx)\n", hr == S_OK ? "shell" : "no shell",
              GetTickCount64() - start, static_cast<unsigned long>(hr));
  std::fflush(stdout);
  if (FILE* file = _wfopen(static_cast<const wchar_t*>(readyFile), L"w")) {
    if (hr == S_OK) {
      std::fputs("ready\n", file);
    } else {
      std::fprintf(file, "no shell: 0x%08lx\n", static_cast<unsigned long>(hr));
    }
    std::fclose(file);
  }
  if (com) CoUninitialize();
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR readyFile, int) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = KeeperProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"LumTestDesktopKeeper";
  if (!RegisterClassW(&windowClass)) return 1;
  if (!CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                       instance, nullptr)) {
    return 1;
  }
  if (readyFile && *readyFile) {
    HANDLE thread = CreateThread(nullptr, 0, AwaitShell, readyFile, 0, nullptr);
    if (thread) CloseHandle(thread);
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
