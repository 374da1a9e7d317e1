// Runs a program and reports the memory figures Windows keeps for it:
//   memory_probe.exe PROGRAM [ARGS...]
// Prints "memory program=NAME exit=N peak_working_set=BYTES peak_private=BYTES samples=N".
// The counters are sampled every 10 ms while the program runs: under Wine they are read from
// the Linux process (/proc), which is gone once it has exited, and Wine fills the peak private
// figure with the current one, so the maxima of the samples are taken here.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/handles.h"

using lum::installer::KernelHandle;

namespace {

std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: memory_probe.exe PROGRAM [ARGS...]\n", stderr);
    return 2;
  }
  std::wstring commandLine = Quoted(argv[1]);
  for (int i = 2; i < argc; ++i) commandLine += L" " + Quoted(argv[i]);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "memory_probe: CreateProcessW failed, error=%lu\n", GetLastError());
    return 2;
  }
  const KernelHandle process(info.hProcess);
  const KernelHandle thread(info.hThread);

  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPrivate = 0;
  unsigned long samples = 0;
  for (;;) {
    const DWORD wait = WaitForSingleObject(process.Get(), 10);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters)) &&
        counters.PeakWorkingSetSize > 0) {
      peakWorkingSet = std::max(peakWorkingSet, counters.PeakWorkingSetSize);
      peakPrivate = std::max({peakPrivate, counters.PeakPagefileUsage, counters.PrivateUsage});
      ++samples;
    }
    if (wait != WAIT_TIMEOUT) break;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.Get(), &exitCode);
  const wchar_t* name = argv[1];
  for (const wchar_t* p = argv[1]; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  std::printf("memory program=%ls exit=%lu peak_working_set=%llu peak_private=%llu samples=%lu\n",
              name, exitCode, static_cast<unsigned long long>(peakWorkingSet),
              static_cast<unsigned long long>(peakPrivate), samples);
  std::fflush(stdout);
  return static_cast<int>(exitCode);
}
