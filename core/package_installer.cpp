#include "core/package_installer.h"

#include "core/scoped_handle.h"

namespace lum::installer {
namespace {

constexpr wchar_t kDefaultChannel[] = L"guanwang";
constexpr wchar_t kBingChannel[] = L"bing";
constexpr wchar_t kTextStartFailed[] = L"无法启动完整安装包";
constexpr wchar_t kTextExitCodeUnreadable[] = L"无法读取安装结果";
constexpr wchar_t kTextWaitFailed[] = L"无法等待安装结果";

constexpr DWORD kCancelPollMs = 200;
constexpr DWORD kTerminateWaitMs = 5000;
constexpr UINT kCancelledExitCode = ERROR_CANCELLED;

std::atomic<ShellExecuteExFunction> g_shellExecuteEx{&ShellExecuteExW};

bool IsAsciiLowerOrDigit(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }
bool IsAsciiAlnum(wchar_t c) { return IsAsciiLowerOrDigit(c) || (c >= L'A' && c <= L'Z'); }

bool IsValidClickId(const std::wstring& id) {
  if (id.empty()) return false;
  for (const wchar_t c : id) {
    if (!IsAsciiAlnum(c)) return false;
  }
  return true;
}

}  // namespace

ShellExecuteExFunction ReplaceShellExecuteExForTesting(ShellExecuteExFunction replacement) {
  return g_shellExecuteEx.exchange(replacement);
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
                         const std::atomic<bool>* cancel, std::uint32_t& exitCode,
                         std::wstring& message) {
  // Checked first: for a missing file ShellExecuteExW opens a modal system error box on this
  // thread, which would hold the worker (and a window close that joins it) until dismissed.
  const DWORD attributes = GetFileAttributesW(packagePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    message = kTextStartFailed;
    return false;
  }

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = packagePath.c_str();
  info.lpParameters = arguments.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!g_shellExecuteEx.load()(&info)) {
    const DWORD error = GetLastError();
    message = error == ERROR_CANCELLED ? kUacRefusedText : kTextStartFailed;
    return false;
  }
  KernelHandle process(info.hProcess);

  for (;;) {
    const DWORD wait = WaitForSingleObject(process.Get(), kCancelPollMs);
    if (wait == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (!GetExitCodeProcess(process.Get(), &code)) {
        message = kTextExitCodeUnreadable;
        return false;
      }
      exitCode = code;
      return true;
    }
    if (wait != WAIT_TIMEOUT) {
      message = kTextWaitFailed;
      return false;
    }
    if (cancel && cancel->load()) {
      TerminateProcess(process.Get(), kCancelledExitCode);
      WaitForSingleObject(process.Get(), kTerminateWaitMs);
      message = kTextCancelled;
      return false;
    }
  }
}

}  // namespace lum::installer
