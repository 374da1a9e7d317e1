// Start-up benchmark: launches the real window's program and the minimal Direct2D window's
// program in turns, each to its first painted frame (first_frame_probe.cpp), and prints medians.
//   window_start_bench.exe [LAUNCHES]     (the two programs sit next to it)
// "Launch" is this process's counter reading just before CreateProcessW; "created" is the child's
// creation time from GetProcessTimes.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/handles.h"
#include "bench/window/bench_clock.h"

namespace lum::installer::bench {
namespace {

struct Launch {
  bool ok = false;
  double launchToFrame = 0;   // before CreateProcessW -> first EndDraw returned
  double createdToFrame = 0;  // GetProcessTimes creation -> first EndDraw returned
  double launchToInit = 0;    // before CreateProcessW -> static initialisation of the child
  double windowToFrame = 0;   // CreateWindowExW of the window -> first EndDraw returned
  double launchToExit = 0;    // before CreateProcessW -> the process has ended
};

std::wstring ModuleFolder() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  return std::filesystem::path(path).parent_path().wstring();
}

Launch RunOnce(const std::wstring& exe, const std::wstring& frameFile) {
  Launch launch;
  DeleteFileW(frameFile.c_str());
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::int64_t before = CounterNow();
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
    return launch;
  }
  const KernelHandle process(info.hProcess);
  const KernelHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "the program did not end within 60 s\n");
    TerminateProcess(process.Get(), 1);
    return launch;
  }
  launch.launchToExit = CounterMs(CounterNow() - before);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.Get(), &exitCode);

  std::ifstream in{std::filesystem::path(frameFile)};
  std::map<std::string, long long> values;
  std::string key;
  long long value = 0;
  while (in >> key >> value) values[key] = value;
  if (exitCode != 0 || values.size() < 6) {
    std::fprintf(stderr, "no first-frame record (exit code %lu)\n", exitCode);
    return launch;
  }
  launch.launchToFrame = CounterMs(values["frame"] - before);
  launch.launchToInit = CounterMs(values["init"] - before);
  launch.windowToFrame = CounterMs(values["frame"] - values["created"]);
  launch.createdToFrame =
      static_cast<double>(values["frame_time"] - values["process_created"]) / 10000.0;
  launch.ok = true;
  return launch;
}

struct Stats {
  double median = 0;
  double low = 0;
  double high = 0;
};

Stats Summarise(std::vector<double> values) {
  Stats stats;
  if (values.empty()) return stats;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  stats.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
  stats.low = values.front();
  stats.high = values.back();
  return stats;
}

void PrintRow(const char* name, const std::vector<Launch>& real, const std::vector<Launch>& minimal,
              double Launch::*field) {
  std::vector<double> a;
  std::vector<double> b;
  for (const Launch& l : real) a.push_back(l.*field);
  for (const Launch& l : minimal) b.push_back(l.*field);
  const Stats sa = Summarise(a);
  const Stats sb = Summarise(b);
  std::printf("  %-32s %8.1f [%6.1f-%6.1f] %8.1f [%6.1f-%6.1f] %7.2fx\n", name, sa.median, sa.low,
              sa.high, sb.median, sb.low, sb.high, sb.median > 0 ? sa.median / sb.median : 0.0);
}

}  // namespace
}  // namespace lum::installer::bench

int wmain(int argc, wchar_t** argv) {
  using namespace lum::installer::bench;
  const int launches = argc > 1 ? std::max(1, _wtoi(argv[1])) : 10;
  const std::wstring folder = ModuleFolder();
  const std::wstring realExe = folder + L"\\bench_first_frame_real.exe";
  const std::wstring minimalExe = folder + L"\\bench_first_frame_minimal.exe";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring frameFile = std::wstring(temp) + L"lum_bench_first_frame.txt";
  SetEnvironmentVariableW(L"LUM_BENCH_FRAME_FILE", frameFile.c_str());

  // One unmeasured start of each first: the first start after a build reads the files from disk.
  if (!RunOnce(realExe, frameFile).ok || !RunOnce(minimalExe, frameFile).ok) return 1;
  std::vector<Launch> real;
  std::vector<Launch> minimal;
  for (int i = 0; i < launches; ++i) {
    const Launch a = RunOnce(realExe, frameFile);
    const Launch b = RunOnce(minimalExe, frameFile);
    if (!a.ok || !b.ok) return 1;
    real.push_back(a);
    minimal.push_back(b);
    std::printf("  launch %2d: real %7.1f ms, minimal %7.1f ms (launch -> first frame)\n", i + 1,
                a.launchToFrame, b.launchToFrame);
  }
  std::printf("\nFirst painted frame: %d launches each, interleaved; median [min-max] in ms\n",
              launches);
  std::printf("  %-32s %26s %26s %8s\n", "", "real window", "minimal D2D window", "ratio");
  PrintRow("launch -> first frame", real, minimal, &Launch::launchToFrame);
  PrintRow("process created -> first frame", real, minimal, &Launch::createdToFrame);
  PrintRow("launch -> entry (static init)", real, minimal, &Launch::launchToInit);
  PrintRow("window created -> first frame", real, minimal, &Launch::windowToFrame);
  PrintRow("launch -> process ended", real, minimal, &Launch::launchToExit);
  return 0;
}
