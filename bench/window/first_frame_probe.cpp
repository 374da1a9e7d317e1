// Linked into the two start-up benchmark programs (the real window's entry and the minimal
// window's). Before the entry runs, it watches the main thread for the window of the class under
// test, subclasses it as it is created, and when that window's first WM_PAINT (BeginDraw ...
// EndDraw ... EndPaint) has returned, writes the times to the file named by LUM_BENCH_FRAME_FILE
// and closes the window. The product code is the same as in the shipped executable.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/window/bench_clock.h"

#ifdef LUM_BENCH_REAL_WINDOW
#include "ui/main_window.h"
#else
#include "bench/window/minimal_window.h"
#endif

namespace lum::installer::bench {
namespace {

#ifdef LUM_BENCH_REAL_WINDOW
constexpr const wchar_t* kTargetClass = kWindowClassName;
#else
constexpr const wchar_t* kTargetClass = kMinimalWindowClassName;
#endif

struct FrameProbe {
  std::int64_t initCounter = 0;
  std::int64_t createdCounter = 0;
  HHOOK hook = nullptr;
  WNDPROC original = nullptr;
  bool reported = false;
};
FrameProbe probe;

void Report() {
  const std::int64_t frameCounter = CounterNow();
  const std::uint64_t frameTime = SystemTimeNow();
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"LUM_BENCH_FRAME_FILE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << "frequency " << frequency.QuadPart << "\ninit " << probe.initCounter << "\ncreated "
      << probe.createdCounter << "\nframe " << frameCounter << "\nprocess_created "
      << FileTimeTicks(created) << "\nframe_time " << frameTime << '\n';
}

LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcW(probe.original, hwnd, message, wParam, lParam);
  if (message == WM_PAINT && !probe.reported) {
    probe.reported = true;
    Report();
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
  return result;
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && probe.original == nullptr) {
    const auto hwnd = reinterpret_cast<HWND>(wParam);
    wchar_t name[64] = {};
    if (GetClassNameW(hwnd, name, 64) > 0 && std::wcscmp(name, kTargetClass) == 0) {
      probe.createdCounter = CounterNow();
      probe.original = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
      const LRESULT next = CallNextHookEx(probe.hook, code, wParam, lParam);
      UnhookWindowsHookEx(probe.hook);
      probe.hook = nullptr;
      return next;
    }
  }
  return CallNextHookEx(probe.hook, code, wParam, lParam);
}

// Runs during static initialisation, on the main thread, before the entry point.
const bool installed = [] {
  probe.initCounter = CounterNow();
  probe.hook = SetWindowsHookExW(WH_CBT, &CbtProc, nullptr, GetCurrentThreadId());
  return probe.hook != nullptr;
}();

}  // namespace
}  // namespace lum::installer::bench
