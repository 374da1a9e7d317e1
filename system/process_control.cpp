#include "system/process_control.h"

#include <tlhelp32.h>

#include <chrono>
#include <string>

#include "base/handles.h"

namespace lum::installer {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr DWORD kTerminateWaitMs = 5000;
constexpr UINT kTerminateExitCode = 1;

BOOL CALLBACK PostCloseToProcessWindow(HWND window, LPARAM processId) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(processId) && IsWindowVisible(window)) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;  // every matching window gets the message
}

void SleepUntil(std::chrono::steady_clock::time_point until) {
  for (auto now = std::chrono::steady_clock::now(); now < until;
       now = std::chrono::steady_clock::now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    Sleep(static_cast<DWORD>(left.count()));
  }
}

}  // namespace

std::vector<DWORD> FindProcessesByName(std::wstring_view name) {
  std::vector<DWORD> ids;
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  const std::wstring wanted(name);  // _wcsicmp needs a terminated string
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

bool IsApplicationRunning(std::wstring_view name) { return !FindProcessesByName(name).empty(); }

bool CloseApplicationWindows(std::wstring_view name, unsigned timeoutSeconds) {
  for (const DWORD id : FindProcessesByName(name)) {
    EnumWindows(PostCloseToProcessWindow, static_cast<LPARAM>(id));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) return FindProcessesByName(name).empty();
    if (FindProcessesByName(name).empty()) return true;
    SleepUntil(std::chrono::steady_clock::now() + kPollInterval);
  }
}

bool TerminateApplication(std::wstring_view name) {
  bool allEnded = true;
  for (const DWORD id : FindProcessesByName(name)) {
    KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) {
      // ERROR_INVALID_PARAMETER: the process ended on its own since the snapshot, which is
      // the outcome wanted. Anything else (access refused) leaves it running.
      if (GetLastError() != ERROR_INVALID_PARAMETER) allEnded = false;
      continue;
    }
    if (!TerminateProcess(process.Get(), kTerminateExitCode)) {
      // A process that is already exiting refuses termination; it counts once it has ended.
      if (WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0) allEnded = false;
      continue;
    }
    if (WaitForSingleObject(process.Get(), kTerminateWaitMs) != WAIT_OBJECT_0) allEnded = false;
  }
  return allEnded;
}

}  // namespace lum::installer
