#include "system/process_control.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <chrono>
#include <functional>
#include <string>

#include "base/handles.h"
#include "base/module.h"
#include "base/paths.h"

namespace lum::installer {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr DWORD kTerminateWaitMs = 5000;
constexpr UINT kTerminateExitCode = 1;
constexpr DWORD kLongestPath = 32767;

// A process to close or end; here when it runs in this process's logon session.
struct Target {
  DWORD id = 0;
  bool here = true;
};
using TargetFinder = std::function<std::vector<Target>()>;

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

// Every process whose executable file name is name, ignoring ASCII case, with its snapshot entry.
template <typename Visit>
void ForEachProcessNamed(std::wstring_view name, Visit visit) {
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  const std::wstring wanted(name);  // _wcsicmp needs a terminated string
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) visit(entry.th32ProcessID);
  }
}

// The kernel's name of a process's image ("\Device\HarddiskVolume3\..."), which needs no handle
// on the process, as a path CreateFileW opens; empty when it cannot be read.
std::wstring KernelImagePathOf(DWORD processId) {
  struct ProcessIdInformation {  // SYSTEM_PROCESS_ID_INFORMATION
    HANDLE processId;
    UNICODE_STRING imageName;
  };
  constexpr auto kSystemProcessIdInformation = static_cast<SYSTEM_INFORMATION_CLASS>(88);
  using QueryFn = LONG(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query = LoadedFunction<QueryFn>(L"ntdll.dll", "NtQuerySystemInformation");
  if (query == nullptr) return {};
  std::wstring name(kLongestPath, L'\0');
  ProcessIdInformation info{};
  info.processId = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processId));
  info.imageName.Buffer = name.data();
  info.imageName.MaximumLength = static_cast<USHORT>(kLongestPath * sizeof(wchar_t));
  if (query(kSystemProcessIdInformation, &info, sizeof(info), nullptr) < 0) return {};
  name.resize(info.imageName.Length / sizeof(wchar_t));
  return name.empty() ? name : L"\\\\?\\GLOBALROOT" + name;
}

// A path by which the process's image file opens: its Win32 name, or, where the process cannot
// be opened (another user's, for an administrator without the debug privilege), the kernel's.
std::wstring ImagePathOf(DWORD processId) {
  const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (process) {
    std::wstring path(kLongestPath, L'\0');
    DWORD size = kLongestPath;
    if (QueryFullProcessImageNameW(process.Get(), 0, path.data(), &size)) {
      path.resize(size);
      return path;
    }
  }
  return KernelImagePathOf(processId);
}

// Where a file or folder really is, after every link on the way; empty when it cannot be opened.
std::wstring RealPathOf(const std::wstring& path) {
  if (path.empty()) return {};
  const KernelHandle entry(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return entry ? FinalDosPath(entry.Get()) : std::wstring();
}

bool IsInside(const std::wstring& file, const std::wstring& folder) {
  if (folder.empty() || file.size() <= folder.size()) return false;
  const bool separated = folder.back() == L'\\' || file[folder.size()] == L'\\';
  return separated && SamePath(std::wstring_view(file).substr(0, folder.size()), folder);
}

DWORD SessionOf(DWORD processId) {
  DWORD session = 0;
  return ProcessIdToSessionId(processId, &session) ? session : 0xFFFFFFFF;
}

std::vector<Target> ProcessesNamed(std::wstring_view name) {
  std::vector<Target> targets;
  for (const DWORD id : FindProcessesByName(name)) targets.push_back({id, true});
  return targets;
}

std::vector<Target> CopiesOf(std::wstring_view name, const std::vector<std::wstring>& folders) {
  std::vector<Target> targets;
  for (const ApplicationCopy& copy : FindApplicationCopies(name, folders)) {
    targets.push_back({copy.processId, !copy.otherSession});
  }
  return targets;
}

bool CloseWindows(const TargetFinder& find, unsigned timeoutSeconds) {
  for (const Target& target : find()) {
    if (target.here) EnumWindows(PostCloseToProcessWindow, static_cast<LPARAM>(target.id));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) return find().empty();
    if (find().empty()) return true;
    SleepUntil(std::chrono::steady_clock::now() + kPollInterval);
  }
}

bool Terminate(const TargetFinder& find) {
  bool allEnded = true;
  for (const Target& target : find()) {
    if (!target.here) {
      allEnded = false;  // another user's session: their copy and their work stay
      continue;
    }
    KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, target.id));
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

}  // namespace

std::vector<ApplicationCopy> FindApplicationCopies(std::wstring_view name,
                                                   const std::vector<std::wstring>& folders) {
  std::vector<ApplicationCopy> copies;
  std::vector<std::wstring> places;
  for (const std::wstring& folder : folders) {
    if (std::wstring place = RealPathOf(folder); !place.empty()) places.push_back(std::move(place));
  }
  if (places.empty()) return copies;
  const DWORD ownSession = SessionOf(GetCurrentProcessId());
  ForEachProcessNamed(name, [&](DWORD id) {
    const std::wstring image = RealPathOf(ImagePathOf(id));
    for (const std::wstring& place : places) {
      if (!IsInside(image, place)) continue;
      const DWORD session = SessionOf(id);
      copies.push_back({id, session, session != ownSession});
      return;
    }
  });
  return copies;
}

bool IsApplicationRunning(std::wstring_view name, const std::vector<std::wstring>& folders) {
  return !FindApplicationCopies(name, folders).empty();
}

bool CloseApplicationWindows(std::wstring_view name, const std::vector<std::wstring>& folders,
                             unsigned timeoutSeconds) {
  return CloseWindows([&] { return CopiesOf(name, folders); }, timeoutSeconds);
}

bool TerminateApplication(std::wstring_view name, const std::vector<std::wstring>& folders) {
  return Terminate([&] { return CopiesOf(name, folders); });
}

std::vector<DWORD> FindProcessesByName(std::wstring_view name) {
  std::vector<DWORD> ids;
  ForEachProcessNamed(name, [&ids](DWORD id) { ids.push_back(id); });
  return ids;
}

bool IsApplicationRunning(std::wstring_view name) { return !FindProcessesByName(name).empty(); }

bool CloseApplicationWindows(std::wstring_view name, unsigned timeoutSeconds) {
  return CloseWindows([name] { return ProcessesNamed(name); }, timeoutSeconds);
}

bool TerminateApplication(std::wstring_view name) {
  return Terminate([name] { return ProcessesNamed(name); });
}

}  // namespace lum::installer
