// Status-handling benchmark: the statuses of one whole package download, one per transfer
// buffer, sent to a window the way the worker sends them, and what the window thread spends on
// them (status handling and the repaints they cause).
//   window_status_bench.exe real|minimal
// "real" is MainWindow with the real controller; the statuses go through
// InstallerController::PublishStatus, which posts those that differ from the last one (the
// status callback's PostMessageW of a heap copy). "minimal" is the baseline window, posted every
// status, which frees the copy and invalidates.
// Each scenario prints one line: RESULT MODE SCENARIO STATUSES WALL_MS CPU_MS STATUS_MS PAINT_MS
// PAINTS POSTS
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "bench/window/bench_clock.h"
#include "bench/window/minimal_window.h"
#include "ui/main_window.h"

namespace lum::installer::bench {
namespace {

// The download: 256 MiB read in the transfer buffers of DownloadToFile (64 KiB). The workflow
// publishes 0 at the start of the attempt, the download reports 0 before its first read and then
// once per read, so a download in full buffers makes this many statuses.
constexpr std::uint64_t kDownloadBytes = 256ull << 20;
constexpr std::uint64_t kChunkBytes = 65536;
constexpr int kMessages = static_cast<int>(kDownloadBytes / kChunkBytes) + 2;
// Paced scenarios: one status per buffer at the rate of a bare WinHTTP read loop from loopback
// under Wine, and at a fast home connection (200 Mbit/s).
constexpr double kLoopbackBytesPerSecond = 112e6;
constexpr double kInternetBytesPerSecond = 25e6;

// The workflow's mapping of bytes to the 0-85 share of the bar.
std::int32_t DownloadPercent(std::uint64_t done, std::uint64_t total) {
  if (done >= total) return 85;
  const auto percent =
      static_cast<std::int32_t>(static_cast<double>(done) / static_cast<double>(total) * 85);
  return percent > 84 ? 84 : percent;
}

std::int32_t ProgressOfMessage(int index) {
  if (index < 2) return 0;
  return DownloadPercent(static_cast<std::uint64_t>(index - 1) * kChunkBytes, kDownloadBytes);
}

// Posted after the last status: everything posted before it has been handled when it arrives.
constexpr UINT kAllPosted = WM_APP + 60;

struct Meter {
  WNDPROC original = nullptr;
  int handled = 0;  // status messages, i.e. posts
  bool allPosted = false;
  int paints = 0;
  std::int64_t statusTicks = 0;
  std::int64_t paintTicks = 0;
  std::int64_t settledAt = 0;
  bool settled = false;
};
Meter meter;

LRESULT CALLBACK MeterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::int64_t end = CounterNow();
  LRESULT result = 0;
  if (message == kAllPosted) {
    meter.allPosted = true;
  } else if (message != WM_INSTALLER_STATUS && message != WM_PAINT) {
    return CallWindowProcW(meter.original, hwnd, message, wParam, lParam);
  } else {
    const std::int64_t start = end;
    result = CallWindowProcW(meter.original, hwnd, message, wParam, lParam);
    end = CounterNow();
    if (message == WM_PAINT) {
      meter.paintTicks += end - start;
      ++meter.paints;
    } else {
      meter.statusTicks += end - start;
      ++meter.handled;
    }
  }
  // Done when every status posted is handled and nothing they invalidated is left to paint.
  if (!meter.settled && meter.allPosted &&
      (message == WM_PAINT || !GetUpdateRect(hwnd, nullptr, FALSE))) {
    meter.settled = true;
    meter.settledAt = end;
  }
  return result;
}

void PumpFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

using StatusSender = std::function<void(std::int32_t progress)>;

void RunScenario(const char* mode, const char* name, double bytesPerSecond, HWND window,
                 const StatusSender& send) {
  meter.handled = 0;
  meter.allPosted = false;
  meter.paints = 0;
  meter.statusTicks = 0;
  meter.paintTicks = 0;
  meter.settled = false;
  std::atomic<std::int64_t> firstPost{0};
  const double cpuBefore = ThreadCpuMs();
  std::thread poster([&] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    const double interval = bytesPerSecond > 0 ? static_cast<double>(kChunkBytes) / bytesPerSecond *
                                                     static_cast<double>(frequency.QuadPart)
                                               : 0.0;
    const std::int64_t start = CounterNow();
    firstPost.store(start);
    for (int i = 0; i < kMessages; ++i) {
      // Sleep granularity is about 1 ms: late messages go out together, the average rate holds.
      const auto due = start + static_cast<std::int64_t>(interval * i);
      while (CounterNow() < due) Sleep(1);
      send(ProgressOfMessage(i));
    }
    PostMessageW(window, kAllPosted, 0, 0);
  });
  MSG message{};
  while (!meter.settled && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  const double cpuAfter = ThreadCpuMs();
  poster.join();
  std::printf("RESULT %s %s %d %.1f %.1f %.1f %.1f %d %d\n", mode, name, kMessages,
              CounterMs(meter.settledAt - firstPost.load()), cpuAfter - cpuBefore,
              CounterMs(meter.statusTicks), CounterMs(meter.paintTicks), meter.paints,
              meter.handled);
  std::fflush(stdout);
}

int RunBench(const char* mode, HWND window, const StatusSender& send) {
  // Let the first paint and the start-up event thread finish before anything is measured.
  PumpFor(1500);
  meter.original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MeterProc)));
  RunScenario(mode, "burst", 0, window, send);
  PumpFor(300);
  RunScenario(mode, "112MB/s", kLoopbackBytesPerSecond, window, send);
  PumpFor(300);
  RunScenario(mode, "25MB/s", kInternetBytesPerSecond, window, send);
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(meter.original));
  return 0;
}

}  // namespace
}  // namespace lum::installer::bench

int wmain(int argc, wchar_t** argv) {
  using namespace lum::installer;
  using namespace lum::installer::bench;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode != L"real" && mode != L"minimal") return 64;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int exitCode = 3;
  if (mode == L"real") {
    MainWindow window(GetModuleHandleW(nullptr));
    if (window.Create()) {
      exitCode = RunBench("real", window.Handle(), [&window](std::int32_t progress) {
        window.Controller()->PublishStatus(InstallStage::Downloading, progress, kTextInstalling,
                                           L"");
      });
    }
  } else {
    MinimalWindow window;
    if (window.Create(GetModuleHandleW(nullptr))) {
      const HWND handle = window.Handle();
      exitCode = RunBench("minimal", handle, [handle](std::int32_t progress) {
        InstallerStatus status{InstallStage::Downloading, progress, kTextInstalling, L""};
        auto copy = std::make_unique<InstallerStatus>(std::move(status));
        if (PostMessageW(handle, WM_INSTALLER_STATUS, 0, reinterpret_cast<LPARAM>(copy.get()))) {
          static_cast<void>(copy.release());
        }
      });
    }
  }
  CoUninitialize();
  return exitCode;
}
