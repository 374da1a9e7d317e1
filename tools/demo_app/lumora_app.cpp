// Stand-in for the installed LumoraMP3转换器 application, used by the tests and packed into the
// demo package. Its window behaviour is chosen on the command line:
//   (none)                  one visible top-level window; WM_CLOSE closes it and ends the process
//   --close-delay-ms N      each window closes N ms after its WM_CLOSE
//   --ignore-close          WM_CLOSE is ignored
//   --hidden-only           one top-level window that is never shown
//   --two-windows           two visible top-level windows; each closes on its own WM_CLOSE and
//                           the process ends when both are gone
//   --marker PATH           where to write the start marker (default: lumora_started.txt next
//                           to the executable)
// The marker is written once every window exists, so its presence means "ready". It holds three
// UTF-8 lines: the process id, the command line and the current directory.
// A closed window is not destroyed one by one: the process ends once every window has been
// closed and leaves its windows to the system. (Under Xvfb without a window manager, Wine's
// DestroyWindow of a shown window waits 2 s for the window manager; that would hide the
// timing the tests look at.)
// Exit codes: 0 closed through its windows, 2 bad arguments, 3 window creation failed,
// 99 the safety time limit (120 s) ran out, so no test can leave it running for long.
#include <windows.h>

#include <cwchar>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"LumoraStandInWindow";
constexpr wchar_t kMarkerName[] = L"lumora_started.txt";
constexpr UINT_PTR kCloseTimer = 1;
constexpr DWORD kLifetimeMs = 120000;
constexpr UINT kExitTimeLimit = 99;

struct Options {
  UINT closeDelayMs = 0;
  bool ignoreClose = false;
  bool hiddenOnly = false;
  bool twoWindows = false;
  std::wstring marker;
};

Options g_options;
std::set<HWND> g_openWindows;

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--close-delay-ms" && i + 1 < argc) {
      wchar_t* end = nullptr;
      const unsigned long value = std::wcstoul(argv[++i], &end, 10);
      if (!end || *end != L'\0') return false;
      options.closeDelayMs = static_cast<UINT>(value);
    } else if (arg == L"--ignore-close") {
      options.ignoreClose = true;
    } else if (arg == L"--hidden-only") {
      options.hiddenOnly = true;
    } else if (arg == L"--two-windows") {
      options.twoWindows = true;
    } else if (arg == L"--marker" && i + 1 < argc) {
      options.marker = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

std::wstring ModuleDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), length);
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// Written beside and then moved over the marker, so a reader never sees half a file.
void WriteMarker(const std::wstring& path) {
  std::vector<wchar_t> cwd(32768);
  const DWORD cwdLength = GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
  const std::string body = std::to_string(GetCurrentProcessId()) + "\n" +
                           ToUtf8(GetCommandLineW()) + "\n" +
                           ToUtf8(std::wstring(cwd.data(), cwdLength)) + "\n";
  const std::wstring temporary = path + L".tmp";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // a read-only folder: run without a marker
  DWORD written = 0;
  const BOOL ok = WriteFile(file, body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(temporary.c_str());
  }
}

void CloseAppWindow(HWND window) {
  if (g_openWindows.erase(window) && g_openWindows.empty()) PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      if (g_options.ignoreClose) return 0;
      if (g_options.closeDelayMs > 0) {
        SetTimer(window, kCloseTimer, g_options.closeDelayMs, nullptr);
      } else {
        CloseAppWindow(window);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kCloseTimer) {
        KillTimer(window, kCloseTimer);
        CloseAppWindow(window);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateAppWindow(HINSTANCE instance, const wchar_t* title, int offset) {
  HWND window = CreateWindowExW(0, kWindowClass, title, WS_OVERLAPPEDWINDOW, 60 + offset,
                                60 + offset, 420, 260, nullptr, nullptr, instance, nullptr);
  if (window) g_openWindows.insert(window);
  return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Exits even when its windows never get closed.
  std::thread([] {
    Sleep(kLifetimeMs);
    ExitProcess(kExitTimeLimit);
  }).detach();

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const bool parsed = argv && ParseOptions(argc, argv, g_options);
  LocalFree(argv);
  if (!parsed) return 2;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) return 3;

  std::vector<HWND> windows;
  windows.push_back(CreateAppWindow(instance, L"LumoraMP3转换器", 0));
  if (g_options.twoWindows)
    windows.push_back(CreateAppWindow(instance, L"LumoraMP3转换器 - 2", 40));
  for (HWND window : windows) {
    if (!window) return 3;
    if (!g_options.hiddenOnly) {
      // Always shown, whatever show mode the starter asked for: the tests rely on it.
      ShowWindow(window, SW_SHOWNORMAL);
      UpdateWindow(window);
    }
  }

  WriteMarker(g_options.marker.empty() ? ModuleDirectory() + L"\\" + kMarkerName
                                       : g_options.marker);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
