// One timed measurement per run, so that a script can interleave it with host tools:
//   transfer_bench.exe download-product URL DEST SIZE   DownloadToFile into DEST
//   transfer_bench.exe download-open URL DEST SIZE      DownloadToOpenFile into DEST, held open
//   transfer_bench.exe download-bare URL DEST|-         bare WinHTTP loop into DEST (- drops it)
//   transfer_bench.exe download-arrived URL DEST|-      the same, reading only what has arrived
//   transfer_bench.exe hash-product FILE                ComputeFileSha256
//   transfer_bench.exe hash-bare FILE                   bare CNG loop
// Prints one line "result case=NAME bytes=N seconds=S cpu=S [chunks=N] [digest=HEX]" (cpu: the
// process's user and kernel time over the same span, which a loaded machine disturbs less), or
// "error case=NAME message=TEXT" with exit code 1. DEST is deleted before the clock starts.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/text.h"
#include "bench/transfer/bare_loops.h"
#include "net/download.h"
#include "system/payload_verification.h"

using namespace lum::installer;

namespace {

// Same sizes as the product: 64 KiB per WinHTTP read, 1 MiB per hashing read.
constexpr unsigned long kTransferBufferSize = 65536;
constexpr unsigned long kHashReadSize = 1024 * 1024;

void Print(const std::wstring& line) {
  const std::string utf8 = WideToUtf8(line) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

// User plus kernel time of this process so far, in seconds.
double CpuSeconds() {
  FILETIME creation{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// The span of one measurement: wall clock and process CPU time.
struct Span {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double cpuStart = CpuSeconds();
  double seconds = 0;
  double cpu = 0;
  void Stop() {
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = CpuSeconds() - cpuStart;
  }
};

int Report(const std::wstring& name, bool ok, const std::wstring& message, std::uint64_t bytes,
           const Span& span, const std::wstring& extra) {
  if (!ok) {
    Print(L"error case=" + name + L" message=" + message);
    return 1;
  }
  wchar_t figures[96];
  std::swprintf(figures, 96, L" seconds=%.6f cpu=%.3f", span.seconds, span.cpu);
  Print(L"result case=" + name + L" bytes=" + std::to_wstring(bytes) + figures + extra);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  std::wstring message;
  std::wstring digest;
  std::uint64_t bytes = 0;

  if (mode == L"download-product" && argc == 5) {
    const std::wstring destination = argv[3];
    const std::uint64_t size = std::wcstoull(argv[4], nullptr, 10);
    DeleteFileW(destination.c_str());
    const std::atomic<bool> cancel{false};
    std::uint64_t chunks = 0;
    std::uint64_t last = 0;
    const DownloadProgress progress = [&](std::uint64_t done, std::uint64_t) {
      ++chunks;
      last = done;
    };
    Span span;
    const bool ok = DownloadToFile(argv[2], destination, size, cancel, progress, &message);
    span.Stop();
    return Report(L"download.product", ok, message, last, span,
                  L" chunks=" + std::to_wstring(chunks > 0 ? chunks - 1 : 0));
  }
  if (mode == L"download-open" && argc == 5) {
    // As the installation holds the package: opened for reading and writing, shared for reading.
    const std::wstring destination = argv[3];
    const std::uint64_t size = std::wcstoull(argv[4], nullptr, 10);
    DeleteFileW(destination.c_str());
    const HANDLE file =
        CreateFileW(destination.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::atomic<bool> cancel{false};
    std::uint64_t chunks = 0;
    std::uint64_t last = 0;
    const DownloadProgress progress = [&](std::uint64_t done, std::uint64_t) {
      ++chunks;
      last = done;
    };
    Span span;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    DownloadToOpenFile(argv[2], file, size, cancel, progress, nullptr, &message);
    span.Stop();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return Report(L"download.open", ok, message, last, span,
                  L" chunks=" + std::to_wstring(chunks > 0 ? chunks - 1 : 0));
  }
  if ((mode == L"download-bare" || mode == L"download-arrived") && argc == 4) {
    const bool arrived = mode == L"download-arrived";
    std::wstring destination = argv[3];
    if (destination == L"-") destination.clear();
    if (!destination.empty()) DeleteFileW(destination.c_str());
    Span span;
    const bool ok = bench::BareWinHttpDownload(argv[2], destination, kTransferBufferSize, bytes,
                                               message, arrived);
    span.Stop();
    const std::wstring name = arrived               ? L"download.bare_arrived"
                              : destination.empty() ? L"download.bare_discard"
                                                    : L"download.bare";
    return Report(name, ok, message, bytes, span, L"");
  }
  if (mode == L"hash-product" && argc == 3) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(argv[2], GetFileExInfoStandard, &data)) {
      bytes = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    Span span;
    const bool ok = ComputeFileSha256(argv[2], digest, message);
    span.Stop();
    return Report(L"hash.product", ok, message, bytes, span, L" digest=" + digest);
  }
  if (mode == L"hash-bare" && argc == 3) {
    Span span;
    const bool ok = bench::BareCngSha256(argv[2], kHashReadSize, digest, bytes, message);
    span.Stop();
    return Report(L"hash.bare", ok, message, bytes, span, L" digest=" + digest);
  }
  Print(
      L"usage: transfer_bench.exe download-product URL DEST SIZE | download-open URL DEST SIZE | "
      L"download-bare URL DEST|- | "
      L"hash-product FILE | hash-bare FILE");
  return 2;
}
