// The object that owns one installation: its callbacks, its lock-protected status and payload,
// the worker and open-event threads, and the cancel flag.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/handles.h"
#include "core/installer_types.h"
#include "core/partial_download.h"
#include "net/transfer_failure.h"
#include "system/install_location.h"
#include "system/installation_lock.h"
#include "system/protected_folder.h"

namespace lum::installer {

class InstallerController {
 public:
  using StatusCallback = std::function<void(const InstallerStatus&)>;
  using ConfirmCallback = std::function<bool(ConfirmationKind)>;

  InstallerController(std::wstring channelId, std::wstring manifestUrl,
                      StatusCallback statusCallback, ConfirmCallback confirmCallback);
  ~InstallerController();
  InstallerController(const InstallerController&) = delete;
  InstallerController& operator=(const InstallerController&) = delete;

  // Window thread: starts a run unless one is still busy.
  void StartInstall(const InstallOptions& options);
  void RequestCancel();
  // Returns once the run StartInstall started has ended (a windowless run waits here).
  void WaitForRun();
  // Whether a run that finds another installation running on the machine waits for it (the
  // window, on its progress page; the default) or ends at once (a silent run).
  void SetWaitForOtherInstallation(bool wait) { waitForOtherInstallation = wait; }
  // True when the last run ended at once, without a status, because another installation ran.
  bool MetOtherInstallation() const { return metOtherInstallation.load(); }

  std::wstring ProposedInstallDirectory() const;
  [[nodiscard]] bool LaunchInstalledApplication(std::wstring& message);
  void StartOpenEventThread();

  // A status equal to the last one (stage, progress, message and code) is not passed on: a
  // download reports every buffer it reads, but its percentage moves about 85 times. Always
  // passes it on regardless, for a status that marks an event of its own (a new attempt).
  enum class Publish { Changes, Always };
  void PublishStatus(InstallStage stage, std::int32_t progress, std::wstring message,
                     std::wstring errorCode, Publish when = Publish::Changes);
  std::optional<PayloadInfo> CurrentPayload() const;
  InstallerStatus CurrentStatus() const;

  // A failed fetch, when given, receives what the fetch saw. logDetail, when given, receives a
  // line for the log beside the message: which check refused the manifest, what a failed
  // signature fetch saw, or, on success, what could not be recorded; empty when there is none.
  [[nodiscard]] bool LoadManifest(std::wstring& message, bool& networkFailed,
                                  TransferFailure* fetchFailure = nullptr,
                                  std::wstring* logDetail = nullptr);
  void SendMetricsEvent(std::string_view eventName, const std::wstring& errorCode);
  void WriteLog(const std::wstring& category, const std::wstring& message);

  const std::wstring& ChannelId() const { return channelId; }
  const InstalledApplication& InstalledApp() const { return installedApp; }

 private:
  void Run(InstallOptions options);
  [[nodiscard]] bool TakeInstallationLock(InstallationLock& lock);
  // The stages of Run; each publishes its own failure and returns false after it.
  [[nodiscard]] bool Prepare(const InstallOptions& options, PayloadInfo& offered);
  [[nodiscard]] bool AcquirePackage(const PayloadInfo& offered, ProtectedFolder& folder,
                                    KernelHandle& hold);
  [[nodiscard]] bool DownloadPackage(const PayloadInfo& offered, const ProtectedFolder& folder,
                                     PartialResume resume, KernelHandle& hold);
  void EndFailedDownload(KernelHandle& writer, PartialRecordFile& recordFile);
  [[nodiscard]] bool VerifyDownloadedPackage(const PayloadInfo& offered,
                                             const ProtectedFolder& folder, KernelHandle writer,
                                             const std::wstring& digest, KernelHandle& hold);
  [[nodiscard]] bool CloseRunningApplication(const std::wstring& installDirectory);
  void PrepareInstallFolder(const std::wstring& folder);
  void InstallPackage(InstallOptions options, const ProtectedFolder& folder, KernelHandle& hold,
                      std::chrono::steady_clock::time_point startTime);

  std::wstring channelId;
  std::wstring manifestUrl;
  StatusCallback statusCallback;
  ConfirmCallback confirmCallback;
  mutable std::mutex stateMutex;
  InstallerStatus currentStatus;
  std::optional<PayloadInfo> payload;
  InstalledApplication installedApp;
  std::thread workerThread;
  std::thread openEventThread;
  std::atomic<bool> cancelRequested{false};
  bool waitForOtherInstallation = true;
  std::atomic<bool> metOtherInstallation{false};
};

}  // namespace lum::installer
