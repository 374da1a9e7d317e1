// The install workflow, run on the worker thread: manifest, version and disk checks, package
// cache, download, verification, running application, package installer, completion.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "core/installer_controller.h"
#include "core/package_installer.h"
#include "core/scoped_handle.h"
#include "manifest/manifest.h"
#include "manifest/version.h"
#include "net/download.h"
#include "system/payload_verification.h"
#include "system/process_control.h"

namespace lum::installer {
namespace {

constexpr int kDownloadAttempts = 3;
constexpr std::chrono::milliseconds kRetryDelay{500};
constexpr unsigned kCloseTimeoutSeconds = 10;
constexpr std::int32_t kDownloadShare = 85;

// 0 when the path is absent (or its status reads "not found"), else the Windows error of the
// status query; found tells whether anything stands at the path.
DWORD QueryPackageStatus(const std::wstring& path, bool& found) {
  found = false;
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    found = true;
    return 0;
  }
  const DWORD error = GetLastError();
  return IsNotFoundError(error) ? 0 : error;
}

// Removes a file or an empty folder; a path that does not exist counts as removed.
DWORD RemovePackage(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return IsNotFoundError(error) ? 0 : error;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str())
                                                               : DeleteFileW(path.c_str());
  if (removed) return 0;
  const DWORD error = GetLastError();
  return IsNotFoundError(error) ? 0 : error;
}

// Another process of the same user can write the cache folder. From just before verification
// until the package has been started, a handle that shares reading only keeps anyone from
// replacing, renaming or deleting the verified bytes; reads (the verification's own included)
// stay possible.
KernelHandle HoldPackage(const std::wstring& path, DWORD& error) {
  KernelHandle hold(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  error = hold ? 0 : GetLastError();
  return hold;
}

// Verification with the package held; the hold stays with the caller when it succeeds.
bool VerifyHeldPackage(const std::wstring& path, const PayloadInfo& payload, KernelHandle& hold,
                       std::wstring& message) {
  DWORD holdError = 0;
  hold = HoldPackage(path, holdError);
  if (!VerifyPayload(path, payload.size, payload.sha256, kTrustedPublisher, message)) {
    hold.Reset();
    return false;
  }
  if (!hold) {
    // Verified bytes that cannot be held could still change before they run.
    message = L"无法锁定安装包，error=" + std::to_wstring(static_cast<long>(holdError));
    return false;
  }
  return true;
}

std::int32_t DownloadPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return kDownloadShare;
  const double share = static_cast<double>(done) / static_cast<double>(total) * kDownloadShare;
  const auto percent = static_cast<std::int32_t>(share);
  return percent > kDownloadShare - 1 ? kDownloadShare - 1 : percent;
}

}  // namespace

void InstallerController::Run(InstallOptions options) {
  const auto startTime = std::chrono::steady_clock::now();
  std::wstring message;
  PublishStatus(InstallStage::Preparing, 0, kTextPreparing, L"");

  // Manifest.
  bool networkFailed = false;
  if (!LoadManifest(message, networkFailed)) {
    WriteLog(L"manifest", message);
    if (networkFailed) {
      PublishStatus(InstallStage::Failed, 0, kTextNetwork, kErrorNetwork);
    } else {
      PublishStatus(InstallStage::Failed, 0, message, kErrorManifest);
    }
    return;
  }
  const PayloadInfo offered = CurrentPayload().value_or(PayloadInfo{});

  // Installed version: the same version is installed again, an older one upgraded.
  if (installedApp.found) {
    const int order = CompareVersions(installedApp.displayVersion, offered.version);
    if (order == 2) {
      PublishStatus(InstallStage::Failed, 0, kTextLocalVersion, kErrorLocalVersion);
      return;
    }
    if (order == 1) {
      PublishStatus(InstallStage::Failed, 0, kTextDowngrade, kErrorDowngrade);
      return;
    }
  }

  // Disk space: twice the package, saturating.
  const std::uint64_t required =
      offered.size <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
          ? offered.size * 2
          : std::numeric_limits<std::uint64_t>::max();
  if (AvailableDiskSpace(options.installDirectory) < required) {
    PublishStatus(InstallStage::Failed, 0, kTextDiskSpace, kErrorDiskSpace);
    return;
  }

  // Package cache.
  const std::wstring cacheFolder = CacheDirectory();
  const std::wstring packagePath = cacheFolder.empty() ? std::wstring{}
                                                       : JoinPath(cacheFolder, kPackageFileName);
  KernelHandle hold;
  bool reused = false;
  bool found = false;
  if (const DWORD error = QueryPackageStatus(packagePath, found); error != 0) {
    WriteLog(L"cache", L"无法读取安装缓存，error=" + std::to_wstring(static_cast<long>(error)));
    PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
    return;
  }
  if (found) {
    if (VerifyHeldPackage(packagePath, offered, hold, message)) {
      WriteLog(L"cache", L"validated payload reused");
      PublishStatus(InstallStage::Downloading, kDownloadShare, kTextInstalling, L"");
      PublishStatus(InstallStage::Verifying, 90, kTextInstalling, L"");
      reused = true;
    } else {
      WriteLog(L"cache", message);
      if (const DWORD error = RemovePackage(packagePath); error != 0) {
        WriteLog(L"cache",
                 L"无法删除无效安装缓存，error=" + std::to_wstring(static_cast<long>(error)));
        PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
        return;
      }
    }
  }

  if (!reused) {
    // Download with up to three attempts, 500 ms and 1000 ms apart.
    SendMetricsEvent("web_install_download_start", L"");
    const DownloadProgress progress = [this](std::uint64_t done, std::uint64_t total) {
      PublishStatus(InstallStage::Downloading, DownloadPercent(done, total), kTextInstalling, L"");
    };
    bool downloaded = false;
    int factor = 1;
    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt, factor *= 2) {
      if (cancelRequested.load()) break;
      PublishStatus(InstallStage::Downloading, 0, kTextInstalling, L"");
      if (DownloadToFile(offered.url, packagePath, offered.size, cancelRequested, progress,
                         &message)) {
        downloaded = true;
        break;
      }
      if (attempt < kDownloadAttempts - 1 && !cancelRequested.load()) {
        // Not cut short by a cancel: the next check comes at the top of the loop.
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + kRetryDelay * factor);
      }
    }
    if (!downloaded) {
      const bool cancelled = cancelRequested.load();
      if (cancelled) SendMetricsEvent("web_install_cancel", kErrorCancelled);
      SendMetricsEvent("web_install_download_failed", cancelled ? kErrorCancelled : kErrorDownload);
      if (cancelled) {
        PublishStatus(InstallStage::Failed, 0, kTextCancelled, kErrorCancelled);
      } else {
        PublishStatus(InstallStage::Failed, 0, kTextDownload, kErrorDownload);
      }
      return;
    }

    // Verification of the downloaded package.
    SendMetricsEvent("web_install_download_success", L"");
    PublishStatus(InstallStage::Verifying, 90, kTextInstalling, L"");
    if (!VerifyHeldPackage(packagePath, offered, hold, message)) {
      RemovePackage(packagePath);
      WriteLog(L"verify", message);
      SendMetricsEvent("web_install_verify_failed", kErrorVerify);
      PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
      return;
    }
  }
  SendMetricsEvent("web_install_verify_success", L"");

  // Running application: asked first, closed, asked again, terminated.
  if (IsApplicationRunning(kApplicationExeName)) {
    if (!confirmCallback || !confirmCallback(ConfirmationKind::CloseRunningApp)) {
      PublishStatus(InstallStage::Failed, 0, kTextAppRunningDeclined, kErrorAppRunning);
      return;
    }
    if (!CloseApplicationWindows(kApplicationExeName, kCloseTimeoutSeconds)) {
      const bool forced = confirmCallback(ConfirmationKind::ForceCloseRunningApp) &&
                          TerminateApplication(kApplicationExeName);
      if (!forced) {
        PublishStatus(InstallStage::Failed, 0, kTextAppRunningNotClosed, kErrorAppRunning);
        return;
      }
    }
  }

  // Package installer.
  PublishStatus(InstallStage::Installing, 95, kTextInstalling, L"");
  SendMetricsEvent("web_install_start", L"");
  options.channelId = channelId;
  const std::wstring arguments = BuildInstallerArguments(options);
  std::uint32_t exitCode = 0;
  message.clear();
  const bool ran = RunPackageInstaller(packagePath, arguments, &cancelRequested, exitCode, message);
  hold.Reset();
  if (!ran || exitCode != 0) {
    if (cancelRequested.load()) {
      SendMetricsEvent("web_install_cancel", kErrorCancelled);
      return;
    }
    const bool refused = message == kUacRefusedText;
    const wchar_t* code = exitCode == 2 ? kErrorDiskSpace : refused ? kErrorUac : kErrorInstall;
    const wchar_t* text = exitCode == 2 ? kTextDiskSpace : refused ? kTextUac : kTextInstall;
    WriteLog(L"install", !message.empty() ? message
                                          : L"NSIS exit code " + std::to_wstring(exitCode));
    SendMetricsEvent("web_install_failed", code);
    PublishStatus(InstallStage::Failed, 0, text, code);
    return;
  }

  // Completion: a finished installation leaves no package behind.
  RemovePackage(packagePath);
  SendMetricsEvent("web_install_success", L"");
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - startTime)
                           .count() /
                       1000000000;
  WriteLog(L"complete", L"elapsed_seconds=" + std::to_wstring(elapsed));
  PublishStatus(InstallStage::Completed, 100, kTextCompleted, L"");
}

}  // namespace lum::installer
