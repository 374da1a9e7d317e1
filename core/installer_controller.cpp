#include "core/installer_controller.h"

#include <utility>

namespace lum::installer {

InstallerController::InstallerController(std::wstring channel, std::wstring manifest,
                                         StatusCallback onStatus, ConfirmCallback onConfirm)
    : channelId(std::move(channel)),
      manifestUrl(std::move(manifest)),
      statusCallback(std::move(onStatus)),
      confirmCallback(std::move(onConfirm)),
      installedApp(FindInstalledApplication()) {}

InstallerController::~InstallerController() {
  cancelRequested.store(true);
  if (workerThread.joinable()) workerThread.join();
  if (openEventThread.joinable()) openEventThread.join();
}

void InstallerController::StartInstall(const InstallOptions& options) {
  if (workerThread.joinable()) {
    if (IsBusyStage(CurrentStatus().stage)) return;
    workerThread.join();
  }
  cancelRequested.store(false);
  metOtherInstallation.store(false);
  workerThread = std::thread([this, copy = options]() mutable { Run(std::move(copy)); });
}

void InstallerController::RequestCancel() { cancelRequested.store(true); }

void InstallerController::WaitForRun() {
  if (workerThread.joinable()) workerThread.join();
}

std::wstring InstallerController::ProposedInstallDirectory() const {
  if (installedApp.found) return installedApp.installLocation;
  return DefaultInstallDirectory();
}

void InstallerController::PublishStatus(InstallStage stage, std::int32_t progress,
                                        std::wstring message, std::wstring errorCode,
                                        Publish when) {
  InstallerStatus next{stage, progress, std::move(message), std::move(errorCode)};
  {
    std::lock_guard lock(stateMutex);
    if (when == Publish::Changes && next == currentStatus) return;
    currentStatus = next;
  }
  if (statusCallback) statusCallback(next);
}

std::optional<PayloadInfo> InstallerController::CurrentPayload() const {
  std::lock_guard lock(stateMutex);
  return payload;
}

InstallerStatus InstallerController::CurrentStatus() const {
  std::lock_guard lock(stateMutex);
  return currentStatus;
}

}  // namespace lum::installer
