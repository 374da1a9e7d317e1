// Records exchanged between the install worker and the window, with the stage values and the
// error codes they carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lum::installer {

enum class InstallStage : std::int32_t {
  Welcome = 0,
  CustomOptions = 1,
  Preparing = 2,
  Downloading = 3,
  Verifying = 4,
  Installing = 5,
  Completed = 6,
  Failed = 7,
};

// True while a run is in progress (Preparing to Installing).
bool IsBusyStage(InstallStage stage);

struct InstallerStatus {
  InstallStage stage = InstallStage::Welcome;
  std::int32_t progress = 0;
  std::wstring message;
  std::wstring errorCode;

  bool operator==(const InstallerStatus&) const = default;
};

struct InstallOptions {
  std::wstring channelId;
  std::wstring bingClickId;
  std::wstring installDirectory;
  bool desktopShortcut = true;
  bool startMenuShortcut = true;
};

enum class ConfirmationKind : int {
  CloseRunningApp = 0,
  ForceCloseRunningApp = 1,
};

// What the worker's confirmation callback sends to the window and waits for.
struct ConfirmationRequest {
  ConfirmationKind kind = ConfirmationKind::CloseRunningApp;
  bool answer = false;
};

struct PayloadInfo {
  std::wstring name;
  std::wstring version;
  std::wstring architecture;
  std::wstring mode;
  std::wstring url;
  std::wstring sha256;
  std::wstring publisher;
  std::uint64_t size = 0;
  // Further URLs of the same file, tried in order after url.
  std::vector<std::wstring> mirrors;
};

// Error codes of a Failed status and the texts shown with them.
inline constexpr wchar_t kErrorNetwork[] = L"E_NETWORK";
inline constexpr wchar_t kErrorManifest[] = L"E_MANIFEST";
inline constexpr wchar_t kErrorLocalVersion[] = L"E_LOCAL_VERSION";
inline constexpr wchar_t kErrorDowngrade[] = L"E_DOWNGRADE";
inline constexpr wchar_t kErrorDiskSpace[] = L"E_DISK_SPACE";
inline constexpr wchar_t kErrorVerify[] = L"E_VERIFY";
inline constexpr wchar_t kErrorCancelled[] = L"E_CANCELLED";
inline constexpr wchar_t kErrorDownload[] = L"E_DOWNLOAD";
inline constexpr wchar_t kErrorAppRunning[] = L"E_APP_RUNNING";
inline constexpr wchar_t kErrorUac[] = L"E_UAC";
inline constexpr wchar_t kErrorInstall[] = L"E_INSTALL";
inline constexpr wchar_t kErrorLaunch[] = L"E_LAUNCH";

inline constexpr wchar_t kTextNetwork[] = L"当前网络不可用，请检查网络连接";
inline constexpr wchar_t kTextLocalVersion[] = L"无法识别已安装版本";
inline constexpr wchar_t kTextDowngrade[] = L"当前已安装更高版本，不能降级安装";
inline constexpr wchar_t kTextDiskSpace[] = L"磁盘空间不足，请更换安装目录";
inline constexpr wchar_t kTextVerify[] = L"安装包校验失败，请重新下载安装";
inline constexpr wchar_t kTextCancelled[] = L"安装已取消";
inline constexpr wchar_t kTextDownload[] = L"安装包下载失败，请检查网络后重试";
inline constexpr wchar_t kTextAppRunningDeclined[] = L"安装前需要关闭LumoraMP3转换器";
inline constexpr wchar_t kTextAppRunningNotClosed[] = L"无法关闭正在运行的LumoraMP3转换器";
inline constexpr wchar_t kTextUac[] = L"未获得安装权限，请重新授权";
inline constexpr wchar_t kTextInstall[] = L"安装失败，请稍后重试";

// Status texts of the busy and completed stages.
inline constexpr wchar_t kTextPreparing[] = L"正在获取安装信息";
inline constexpr wchar_t kTextInstalling[] = L"正在安装";
inline constexpr wchar_t kTextCompleted[] = L"安装完成";

}  // namespace lum::installer
