#include "core/package_installer.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string_view>
#include <vector>

#include "base/handles.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr wchar_t kDefaultChannel[] = L"guanwang";
constexpr wchar_t kBingChannel[] = L"bing";
constexpr wchar_t kTextStartFailed[] = L"无法启动完整安装包";
constexpr wchar_t kTextExitCodeUnreadable[] = L"无法读取安装结果";
constexpr wchar_t kTextWaitFailed[] = L"无法等待安装结果";

std::atomic<ShellExecuteExFunction> g_elevationPrompt{nullptr};

bool IsAsciiLowerOrDigit(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }
bool IsAsciiAlnum(wchar_t c) { return IsAsciiLowerOrDigit(c) || (c >= L'A' && c <= L'Z'); }

bool IsValidClickId(const std::wstring& id) {
  if (id.empty()) return false;
  for (const wchar_t c : id) {
    if (!IsAsciiAlnum(c)) return false;
  }
  return true;
}

bool IsElevated() {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

std::wstring_view VariableName(std::wstring_view entry) {
  // "=C:=C:\dir" style entries keep their leading "=" as part of the name.
  const size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The package's environment: the system's own variables (CreateEnvironmentBlock without a
// token: none of a user's, so nothing from the user-writable HKCU\Environment reaches the
// elevated package through this process), with TEMP and TMP set to tempDirectory when one is
// given; sorted as CreateProcessW wants it. False when the system's block cannot be made.
bool PackageEnvironment(const std::wstring& tempDirectory, std::wstring& environment) {
  EnvironmentBlock system;
  if (!CreateEnvironmentBlock(system.Put(), nullptr, FALSE) || !system) return false;
  std::vector<std::wstring> entries;
  for (const wchar_t* entry = static_cast<const wchar_t*>(system.Get()); *entry;
       entry += std::wcslen(entry) + 1) {
    const std::wstring_view name = VariableName(entry);
    if (tempDirectory.empty() || (!SameName(name, L"TEMP") && !SameName(name, L"TMP"))) {
      entries.emplace_back(entry);
    }
  }
  if (!tempDirectory.empty()) {
    entries.push_back(L"TEMP=" + tempDirectory);
    entries.push_back(L"TMP=" + tempDirectory);
  }
  // Sorted by name, ignoring case, in ordinal order.
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const std::wstring_view x = VariableName(a), y = VariableName(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                static_cast<int>(y.size()), TRUE) == CSTR_LESS_THAN;
  });
  environment.clear();
  for (const std::wstring& entry : entries) environment.append(entry).push_back(L'\0');
  environment.push_back(L'\0');
  return true;
}

bool StartElevated(const std::wstring& packagePath, const std::wstring& arguments,
                   const std::wstring& folder, const std::wstring& tempDirectory,
                   KernelHandle& process) {
  std::wstring commandLine = L"\"" + packagePath + L"\" " + arguments;
  std::wstring environment;
  if (!PackageEnvironment(tempDirectory, environment)) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  // The application name is the full path: nothing is searched for or looked up by association.
  if (!CreateProcessW(packagePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, environment.data(), folder.c_str(), &startup,
                      &started)) {
    return false;
  }
  CloseHandle(started.hThread);
  process.Reset(started.hProcess);
  return true;
}

// An unelevated caller: the shell asks for elevation ("runas"), and the user may refuse.
bool StartThroughElevationPrompt(ShellExecuteExFunction shellExecute,
                                 const std::wstring& packagePath, const std::wstring& arguments,
                                 const std::wstring& folder, KernelHandle& process,
                                 std::wstring& message) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = packagePath.c_str();
  info.lpParameters = arguments.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!shellExecute(&info)) {
    const DWORD error = GetLastError();
    message = error == ERROR_CANCELLED ? kUacRefusedText : kTextStartFailed;
    return false;
  }
  process.Reset(info.hProcess);
  return true;
}

// Waits for the package to end on its own.
bool WaitForPackage(HANDLE process, std::uint32_t& exitCode, std::wstring& message) {
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
    message = kTextWaitFailed;
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) {
    message = kTextExitCodeUnreadable;
    return false;
  }
  exitCode = code;
  return true;
}

}  // namespace

ShellExecuteExFunction UseElevationPromptForTesting(ShellExecuteExFunction standIn) {
  return g_elevationPrompt.exchange(standIn);
}

std::wstring SanitizeChannelId(const std::wstring& channel) {
  if (channel.empty()) return kDefaultChannel;
  for (const wchar_t c : channel) {
    if (!IsAsciiLowerOrDigit(c) && c != L'-' && c != L'_') return kDefaultChannel;
  }
  return channel;
}

std::wstring BuildInstallerArguments(const InstallOptions& options) {
  std::wstring line = L"/S /CHANNEL=" + SanitizeChannelId(options.channelId);
  if (options.channelId == kBingChannel && IsValidClickId(options.bingClickId)) {
    line += L" /BING_CLICK_ID=" + options.bingClickId;
  }
  line += options.desktopShortcut ? L" /DESKTOP_SHORTCUT=1" : L" /DESKTOP_SHORTCUT=0";
  line += options.startMenuShortcut ? L" /START_MENU_SHORTCUT=1" : L" /START_MENU_SHORTCUT=0";
  // Last and unquoted: the package takes the rest of the line as the folder.
  line += L" /D=" + options.installDirectory;
  return line;
}

bool RunPackageInstaller(const std::wstring& packagePath, const std::wstring& arguments,
                         std::uint32_t& exitCode, std::wstring& message,
                         const std::wstring& tempDirectory) {
  // Checked first: for a missing file ShellExecuteExW opens a modal system error box on this
  // thread, which would hold the worker (and a window close that joins it) until dismissed.
  const DWORD attributes = GetFileAttributesW(packagePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    message = kTextStartFailed;
    return false;
  }

  // Its own folder as the working folder, not whatever this process was started in.
  const std::wstring folder = ParentPath(packagePath);
  KernelHandle process;
  const ShellExecuteExFunction prompt = g_elevationPrompt.load();
  if (!prompt && IsElevated()) {
    if (!StartElevated(packagePath, arguments, folder, tempDirectory, process)) {
      message = kTextStartFailed;
      return false;
    }
  } else if (!StartThroughElevationPrompt(prompt ? prompt : &ShellExecuteExW, packagePath,
                                          arguments, folder, process, message)) {
    return false;
  }
  return WaitForPackage(process.Get(), exitCode, message);
}

}  // namespace lum::installer
