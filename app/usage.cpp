#include "app/usage.h"

#include <windows.h>

#include "base/handles.h"
#include "base/text.h"

namespace lum::installer {
namespace {

constexpr wchar_t kUsage[] =
    L"LumoraMP3转换器安装器 命令行参数（不区分大小写）：\r\n"
    L"  /S                       静默安装，不显示任何窗口\r\n"
    L"  /D=<目录>                安装目录；须放在最后，可含空格，无需引号\r\n"
    L"  /NODESKTOPSHORTCUT       不创建桌面快捷方式\r\n"
    L"  /NOSTARTMENUSHORTCUT     不创建开始菜单快捷方式\r\n"
    L"  /FORCECLOSEAPPLICATIONS  关闭正在运行的LumoraMP3转换器，必要时强制结束\r\n"
    L"  /LAUNCH                  静默安装完成后启动LumoraMP3转换器\r\n"
    L"  /LOG=<文件>              同时将日志追加到该文件\r\n"
    L"  /PROXY=<主机:端口>       经此代理服务器下载（否则使用系统代理设置）\r\n"
    L"  /?                       显示本说明\r\n"
    L"以 /S 静默安装，即表示部署的管理员代表用户接受用户协议、隐私政策和会员服务协议。\r\n";

constexpr wchar_t kCaption[] = L"LumoraMP3转换器安装器";

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

bool WriteTo(HANDLE handle, const std::wstring& text) {
  DWORD written = 0;
  if (IsConsole(handle)) {
    return WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  const std::string utf8 = WideToUtf8(text);
  return WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// The standard output the parent gave (redirected to a file or a pipe), else its console.
bool WriteToParent(const std::wstring& text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const DWORD type =
      output == nullptr || output == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(output);
  if ((type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) && WriteTo(output, text)) return true;
  // A GUI program has no console of its own on Windows; Wine gives it the parent's, and then
  // attaching again is refused as access denied.
  const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
  if (!attached && GetLastError() != ERROR_ACCESS_DENIED) return false;
  const KernelHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
  const bool written = console && WriteTo(console.Get(), L"\r\n" + text);
  if (attached) FreeConsole();
  return written;
}

}  // namespace

void ShowUsage(const std::wstring& problem, bool messageBoxAllowed) {
  const std::wstring text = problem.empty() ? std::wstring(kUsage) : problem + L"\r\n\r\n" + kUsage;
  if (WriteToParent(text) || !messageBoxAllowed) return;
  MessageBoxW(nullptr, text.c_str(), kCaption,
              (problem.empty() ? MB_ICONINFORMATION : MB_ICONWARNING) | MB_OK);
}

}  // namespace lum::installer
