// The install workflow, run on the worker thread: manifest, version and disk checks, package
// cache, download, verification, running application, package installer, completion.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "base/text.h"
#include "core/failure_details.h"
#include "core/install_rules.h"
#include "core/installer_controller.h"
#include "core/installer_log.h"
#include "core/package_installer.h"
#include "core/partial_download.h"
#include "manifest/manifest.h"
#include "manifest/version.h"
#include "net/download.h"
#include "system/install_folder.h"
#include "system/payload_verification.h"
#include "system/process_control.h"
#include "system/protected_folder.h"

namespace lum::installer {
namespace {

constexpr int kDownloadAttempts = 3;
constexpr std::chrono::milliseconds kRetryDelay{500};
// How often the record beside a partial package is brought up to date while bytes arrive: what
// a run that ends abruptly loses of its download.
constexpr std::chrono::milliseconds kRecordInterval{200};
constexpr unsigned kCloseTimeoutSeconds = 10;
// The download puts the package into the cache folder; its attempts are logged with the cache.
constexpr wchar_t kDownloadLogCategory[] = L"cache";

// The hold on the package from its verification until it has run: it reads and shares nothing
// but reading, so nobody replaces, renames, deletes or writes the verified bytes, while the
// package itself can still open its own file (NSIS reads it sharing only reading).
constexpr DWORD kHoldAccess = GENERIC_READ;
// The download writes through this handle, which holds the file in the same way from its first
// byte on.
constexpr DWORD kWriterAccess = GENERIC_READ | GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES;
// The package's private TEMP inside the protected folder, where NSIS unpacks its plug-ins; one
// per process, as bootstrappers in two logon sessions share the folder.
std::wstring TempFolderName() { return L"Temp-" + std::to_wstring(GetCurrentProcessId()); }

std::wstring WithError(const wchar_t* text, DWORD error) {
  return text + std::to_wstring(static_cast<long>(error));
}

// The package's digest, taken from the bytes as the download writes them, so that after the last
// byte only the signature check reads the file again. It stands only when it has seen every byte
// of the file in order; otherwise the verification reads the file itself.
class WrittenDigest {
 public:
  void OnWritten(std::uint64_t offset, const char* data, DWORD size) {
    if (offset == 0) {  // the file is written from its start (again)
      hash_.Restart();
      hashed_ = 0;
      inOrder_ = true;
      digest_.clear();
    }
    if (!inOrder_ || offset != hashed_) {
      inOrder_ = false;
      return;
    }
    hash_.Update(data, size);
    hashed_ += size;
  }

  // Empty unless it covers exactly the size bytes of the file. Asked again, the same answer.
  std::wstring Digest(std::uint64_t size) {
    std::wstring ignored;
    if (inOrder_ && hashed_ == size && digest_.empty() && !hash_.Finish(digest_, ignored)) {
      digest_.clear();
    }
    return inOrder_ && hashed_ == size ? digest_ : std::wstring();
  }

 private:
  Sha256 hash_;
  std::uint64_t hashed_ = 0;
  bool inOrder_ = true;
  std::wstring digest_;  // once finished
};

// Feeds the first size bytes of a kept file to digest, as if they had just been written: a hash
// cannot be saved midway, so a resumed download hashes what it kept again.
bool RehashKeptBytes(HANDLE file, std::uint64_t size, WrittenDigest& digest) {
  constexpr DWORD kReadSize = 1024 * 1024;
  const auto buffer = std::make_unique<char[]>(kReadSize);
  for (std::uint64_t offset = 0; offset < size;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(kReadSize, size - offset));
    if (!ReadFile(file, buffer.get(), want, &read, &at) || read == 0) return false;
    digest.OnWritten(offset, buffer.get(), read);
    offset += read;
  }
  return true;
}

// The bytes a held file has, which the next attempt continues from.
std::uint64_t HeldBytes(HANDLE file) {
  LARGE_INTEGER size{};
  return file != nullptr && GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart)
                                                       : 0;
}

// The record beside the partial package, kept up to date with the bytes in the file: at most
// every kRecordInterval while they arrive, and at once after a URL failed or the validator
// changed.
class RecordKeeper {
 public:
  RecordKeeper(PartialRecordFile& file, PartialDownloadRecord record)
      : file_(file), record_(std::move(record)) {}

  void Written(std::uint64_t written, const std::wstring& validator) {
    const auto now = std::chrono::steady_clock::now();
    if (validator == record_.validator && now - last_ < kRecordInterval) return;
    Save(written, validator);
  }
  void Save(std::uint64_t written, const std::wstring& validator) {
    last_ = std::chrono::steady_clock::now();
    record_.written = written;
    record_.validator = validator;
    file_.Write(record_);
  }

 private:
  PartialRecordFile& file_;
  PartialDownloadRecord record_;
  std::chrono::steady_clock::time_point last_{};
};

// The package's URLs in the order they are tried.
std::vector<std::wstring> PackageUrls(const PayloadInfo& offered) {
  std::vector<std::wstring> urls{offered.url};
  urls.insert(urls.end(), offered.mirrors.begin(), offered.mirrors.end());
  return urls;
}

}  // namespace

void InstallerController::Run(InstallOptions options) {
  const auto startTime = std::chrono::steady_clock::now();
  PublishStatus(InstallStage::Preparing, 0, kTextPreparing, L"");
  // The log and its folder come with the first installation of the process.
  BeginInstallerLog();
  InstallationLock lock;  // released when the run ends, on this thread
  if (!TakeInstallationLock(lock)) return;
  PayloadInfo offered;
  if (!Prepare(options, offered)) return;

  ProtectedFolder folder;
  KernelHandle hold;
  if (!AcquirePackage(offered, folder, hold)) return;
  SendMetricsEvent("web_install_verify_success", L"");
  if (!CloseRunningApplication(options.installDirectory)) return;
  InstallPackage(std::move(options), folder, hold, startTime);
}

// One installation at a time on the machine: the working folder is shared by every logon
// session. The window waits on its progress page until the other installation has ended (a
// close ends the wait); a silent run ends at once.
bool InstallerController::TakeInstallationLock(InstallationLock& lock) {
  DWORD error = 0;
  InstallationLock::Outcome outcome = lock.Acquire(false, cancelRequested, error);
  if (outcome == InstallationLock::Outcome::Busy) {
    if (!waitForOtherInstallation) {
      WriteLog(L"install", L"another installation is running on this computer: not started");
      metOtherInstallation.store(true);
      return false;
    }
    WriteLog(L"install", L"another installation is running on this computer: waiting for it");
    outcome = lock.Acquire(true, cancelRequested, error);
    if (outcome == InstallationLock::Outcome::Held) {
      WriteLog(L"install", L"the other installation has ended: continuing");
    }
  }
  switch (outcome) {
    case InstallationLock::Outcome::Held:
      if (lock.WasAbandoned()) {
        WriteLog(L"install", L"the installation before ended without releasing its lock");
      }
      return true;
    case InstallationLock::Outcome::Cancelled:
      return false;  // the window is closing
    case InstallationLock::Outcome::Busy:
    case InstallationLock::Outcome::Failed:
      break;
  }
  WriteLog(L"cache", WithError(L"无法锁定安装缓存，error=", error));
  PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
  return false;
}

// Manifest, installed version and disk space.
bool InstallerController::Prepare(const InstallOptions& options, PayloadInfo& offered) {
  std::wstring message;
  bool networkFailed = false;
  TransferFailure fetchFailure;
  std::wstring detail;
  if (!LoadManifest(message, networkFailed, &fetchFailure, &detail)) {
    WriteLog(L"manifest", message);
    if (networkFailed && detail.empty()) detail = ManifestFetchDetail(message, fetchFailure);
    if (!detail.empty()) WriteLog(L"manifest", detail);
    if (networkFailed) {
      PublishStatus(InstallStage::Failed, 0, kTextNetwork, kErrorNetwork);
    } else {
      PublishStatus(InstallStage::Failed, 0, message, kErrorManifest);
    }
    return false;
  }
  if (!detail.empty()) WriteLog(L"manifest", detail);
  offered = CurrentPayload().value_or(PayloadInfo{});

  // Installed version: the same version is installed again, an older one upgraded.
  if (installedApp.found) {
    const int order = CompareVersions(installedApp.displayVersion, offered.version);
    if (order == 2) {
      PublishStatus(InstallStage::Failed, 0, kTextLocalVersion, kErrorLocalVersion);
      return false;
    }
    if (order == 1) {
      PublishStatus(InstallStage::Failed, 0, kTextDowngrade, kErrorDowngrade);
      return false;
    }
  }

  if (AvailableDiskSpace(options.installDirectory) < RequiredSpace(offered.size)) {
    PublishStatus(InstallStage::Failed, 0, kTextDiskSpace, kErrorDiskSpace);
    return false;
  }
  // The package itself goes to the working folder, often on another volume than the install
  // folder; what of it a former run left there needs no more room.
  const std::wstring working = CacheDirectory();
  std::uint64_t present = 0;
  if (!ReadFileSize(JoinPath(working, kPackageFileName), present) || present > offered.size) {
    present = 0;
  }
  const std::uint64_t needed = offered.size - present;
  const std::uint64_t available = AvailableDiskSpace(working);
  if (available < needed) {
    WriteLog(L"cache", L"工作文件夹所在磁盘空间不足：" + working + L" 可用 " +
                           std::to_wstring(available) + L" 字节，需要 " + std::to_wstring(needed) +
                           L" 字节");
    PublishStatus(InstallStage::Failed, 0, kTextDiskSpace, kErrorDiskSpace);
    return false;
  }
  return true;
}

// A valid package left in the protected folder, or a new download; true with the verified
// package held.
bool InstallerController::AcquirePackage(const PayloadInfo& offered, ProtectedFolder& folder,
                                         KernelHandle& hold) {
  const auto failCache = [this](const wchar_t* text, DWORD error) {
    WriteLog(L"cache", WithError(text, error));
    PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
    return false;
  };
  if (const DWORD error = folder.Open()) {
    return failCache(L"无法读取安装缓存，error=", error);
  }

  // A download an earlier run left unfinished is continued, or removed with its record.
  PartialResume resume;
  std::wstring why;
  DWORD error = 0;
  switch (FindPartialDownload(folder, offered, kWriterAccess, resume, why, error)) {
    case PartialFound::Unreadable:
      return failCache(L"无法读取安装缓存，error=", error);
    case PartialFound::Resume:
      WriteLog(L"cache", L"继续未完成的下载：已有 " + std::to_wstring(resume.kept) + L" / " +
                             std::to_wstring(offered.size) + L" 字节");
      return DownloadPackage(offered, folder, std::move(resume), hold);
    case PartialFound::Discarded:
      WriteLog(L"cache", why);
      return DownloadPackage(offered, folder, {}, hold);
    case PartialFound::None:
      break;
  }

  std::wstring message;
  std::wstring note;
  VerificationFailure refused;
  switch (folder.OpenFile(kPackageFileName, kHoldAccess, FILE_SHARE_READ, hold, error)) {
    case ProtectedFolder::Entry::Unreadable:
      return failCache(L"无法读取安装缓存，error=", error);
    case ProtectedFolder::Entry::Missing:
      break;
    case ProtectedFolder::Entry::File:
      if (VerifyPayloadFile(hold.Get(), folder.PathOf(kPackageFileName), offered.size,
                            offered.sha256, kTrustedPublisher, {}, message, &refused, &note)) {
        if (!note.empty()) WriteLog(L"verify", note);
        WriteLog(L"cache", L"validated payload reused");
        PublishStatus(InstallStage::Downloading, kDownloadShare, kTextInstalling, L"");
        PublishStatus(InstallStage::Verifying, 90, kTextInstalling, L"");
        return true;
      }
      WriteLog(L"cache", message);
      if (const std::wstring detail = VerificationDetail(refused); !detail.empty()) {
        WriteLog(L"cache", detail);
      }
      hold.Reset();
      error = folder.Remove(kPackageFileName);
      if (error != 0) return failCache(L"无法删除无效安装缓存，error=", error);
      break;
    case ProtectedFolder::Entry::Other:
      // A link, a second name of some other file, or a folder: not the package, and removed
      // without following it.
      WriteLog(L"cache", kTextPackageSize);
      if ((error = folder.Remove(kPackageFileName)) != 0) {
        return failCache(L"无法删除无效安装缓存，error=", error);
      }
      break;
  }
  return DownloadPackage(offered, folder, {}, hold);
}

// Up to three attempts, 500 ms and 1000 ms apart, each a pass through the package's URLs that
// continues what the one before left in the file, then the verification. The file and the
// record beside it stay for a later run when every attempt failed or the run was cancelled.
bool InstallerController::DownloadPackage(const PayloadInfo& offered, const ProtectedFolder& folder,
                                          PartialResume resume, KernelHandle& hold) {
  SendMetricsEvent("web_install_download_start", L"");
  const std::vector<std::wstring> urls = PackageUrls(offered);
  WrittenDigest digest;
  KernelHandle writer = std::move(resume.writer);  // kept across the attempts
  std::wstring validator = std::move(resume.validator);
  if (writer && !RehashKeptBytes(writer.Get(), resume.kept, digest)) {
    // What cannot be read again cannot be continued: the file starts from nothing.
    FILE_END_OF_FILE_INFO empty{};
    static_cast<void>(
        SetFileInformationByHandle(writer.Get(), FileEndOfFileInfo, &empty, sizeof(empty)));
    validator.clear();
  }
  PartialRecordFile recordFile;
  RecordKeeper record(recordFile, {urls, offered.size, offered.sha256, validator, 0});

  const DownloadProgress progress = [this](std::uint64_t done, std::uint64_t total) {
    PublishStatus(InstallStage::Downloading, DownloadPercent(done, total), kTextInstalling, L"");
  };
  int attempt = 0;
  UrlPassCallbacks callbacks;
  callbacks.progress = progress;
  callbacks.written = [&](std::uint64_t offset, const char* data, DWORD size) {
    digest.OnWritten(offset, data, size);
    record.Written(offset + size, validator);
  };
  callbacks.urlFailed = [&](const std::wstring& url, const std::wstring& message,
                            const TransferFailure& failure) {
    WriteLog(kDownloadLogCategory, DownloadAttemptDetail(attempt + 1, url, message, failure));
    record.Save(HeldBytes(writer.Get()), validator);
  };
  // A file that is not the package is not kept for the next URL to continue.
  callbacks.finishedCheck = [&](std::wstring& why) {
    std::wstring actual = digest.Digest(offered.size);
    std::wstring ignored;
    if (actual.empty() && !ComputeHandleSha256(writer.Get(), actual, ignored)) actual.clear();
    if (AsciiLowered(actual) == AsciiLowered(offered.sha256)) return true;
    VerificationFailure wrong;
    wrong.check = VerificationFailure::Check::Digest;
    wrong.expectedSha256 = offered.sha256;
    wrong.actualSha256 = actual;
    why = VerificationDetail(wrong);
    return false;
  };

  std::wstring message;
  bool downloaded = false;
  int factor = 1;
  for (; attempt < kDownloadAttempts; ++attempt, factor *= 2) {
    if (cancelRequested.load()) break;
    // Each attempt starts the bar at 0, and says so even where the last one ended at 0; the
    // first one of a run that continues an earlier run's download starts at the share it kept.
    const std::uint64_t start = attempt == 0 ? HeldBytes(writer.Get()) : 0;
    PublishStatus(InstallStage::Downloading, DownloadPercent(start, offered.size), kTextInstalling,
                  L"", Publish::Always);
    DWORD error = 0;
    if (!writer) {
      error = folder.CreateNewFile(kPackageFileName, kWriterAccess, FILE_SHARE_READ, writer);
    }
    if (error != 0) {
      WriteLog(kDownloadLogCategory,
               DownloadAttemptDetail(attempt + 1, urls.front(), L"无法写入下载缓存",
                                     TransferFailure{.winError = error}));
    } else {
      if (!recordFile.IsOpen() && recordFile.Create(folder) == 0) {
        record.Save(HeldBytes(writer.Get()), validator);
      }
      if (DownloadFromUrls(urls, writer.Get(), offered.size, validator, cancelRequested, callbacks,
                           message)) {
        downloaded = true;
        break;
      }
    }
    if (attempt < kDownloadAttempts - 1 && !cancelRequested.load()) {
      // Not cut short by a cancel: the next check comes at the top of the loop.
      std::this_thread::sleep_until(std::chrono::steady_clock::now() + kRetryDelay * factor);
    }
  }
  if (!downloaded) {
    EndFailedDownload(writer, recordFile);
    return false;
  }
  recordFile.Remove();  // a whole file is judged as a cached package from now on
  SendMetricsEvent("web_install_download_success", L"");
  return VerifyDownloadedPackage(offered, folder, std::move(writer), digest.Digest(offered.size),
                                 hold);
}

// After the last attempt failed or a cancel stopped the attempts.
void InstallerController::EndFailedDownload(KernelHandle& writer, PartialRecordFile& recordFile) {
  // Nothing received leaves nothing behind; a partial file stays, with its record, for a later
  // run to continue.
  if (writer && HeldBytes(writer.Get()) == 0) {
    static_cast<void>(DeleteThroughHandle(writer.Get()));
    recordFile.Remove();
  }
  const bool cancelled = cancelRequested.load();
  if (cancelled) SendMetricsEvent("web_install_cancel", kErrorCancelled);
  SendMetricsEvent("web_install_download_failed", cancelled ? kErrorCancelled : kErrorDownload);
  if (cancelled) {
    PublishStatus(InstallStage::Failed, 0, kTextCancelled, kErrorCancelled);
  } else {
    PublishStatus(InstallStage::Failed, 0, kTextDownload, kErrorDownload);
  }
}

// The writer gives way to the read-only hold, through which the package is verified; the digest
// was taken as the bytes arrived.
bool InstallerController::VerifyDownloadedPackage(const PayloadInfo& offered,
                                                  const ProtectedFolder& folder,
                                                  KernelHandle writer, const std::wstring& digest,
                                                  KernelHandle& hold) {
  PublishStatus(InstallStage::Verifying, 90, kTextInstalling, L"");
  hold = HoldReadOnly(std::move(writer));
  std::wstring message = L"无法读取安装包";
  VerificationFailure refused;
  std::wstring note;
  if (hold &&
      VerifyPayloadFile(hold.Get(), folder.PathOf(kPackageFileName), offered.size, offered.sha256,
                        kTrustedPublisher, digest, message, &refused, &note)) {
    if (!note.empty()) WriteLog(L"verify", note);
    return true;
  }
  hold.Reset();
  static_cast<void>(folder.Remove(kPackageFileName));
  WriteLog(L"verify", message);
  if (const std::wstring detail = VerificationDetail(refused); !detail.empty()) {
    WriteLog(L"verify", detail);
  }
  SendMetricsEvent("web_install_verify_failed", kErrorVerify);
  PublishStatus(InstallStage::Failed, 0, kTextVerify, kErrorVerify);
  return false;
}

// Asked first, closed, asked again, terminated. Only the application's own copies count: those
// running from its installed folder or from the folder being installed to; a program of the same
// name elsewhere is left alone. A copy in another logon session counts (it holds the files) but
// is another user's: it is not asked from here, never ended, and the run fails if it stays.
bool InstallerController::CloseRunningApplication(const std::wstring& installDirectory) {
  const std::vector<std::wstring> folders{FindInstalledApplication().installLocation,
                                          installDirectory};
  const std::vector<ApplicationCopy> copies = FindApplicationCopies(kApplicationExeName, folders);
  if (copies.empty()) return true;
  for (const ApplicationCopy& copy : copies) {
    if (!copy.otherSession) continue;
    WriteLog(L"install", L"lumora.exe runs in another session (session " +
                             std::to_wstring(copy.sessionId) + L", process " +
                             std::to_wstring(copy.processId) +
                             L"): it is neither asked to close nor ended from here");
  }
  if (!confirmCallback || !confirmCallback(ConfirmationKind::CloseRunningApp)) {
    PublishStatus(InstallStage::Failed, 0, kTextAppRunningDeclined, kErrorAppRunning);
    return false;
  }
  if (CloseApplicationWindows(kApplicationExeName, folders, kCloseTimeoutSeconds)) return true;
  const bool forced = confirmCallback(ConfirmationKind::ForceCloseRunningApp) &&
                      TerminateApplication(kApplicationExeName, folders);
  if (!forced) {
    PublishStatus(InstallStage::Failed, 0, kTextAppRunningNotClosed, kErrorAppRunning);
    return false;
  }
  return true;
}

// A missing install folder is made for administrators alone before the package gets it; an
// existing one that others may write to is used all the same, and the log says who may.
void InstallerController::PrepareInstallFolder(const std::wstring& folder) {
  const InstallFolderReport report = lum::installer::PrepareInstallFolder(folder);
  if (report.error != 0) {
    WriteLog(L"install",
             L"install folder not made: " + folder + L", error=" + std::to_wstring(report.error));
  }
  if (!report.leadsTo.empty()) {
    WriteLog(L"install", L"warning: the install folder " + folder + L" leads to " + report.leadsTo);
  }
  if (!report.writers.empty()) {
    std::wstring names;
    for (const std::wstring& writer : report.writers) {
      names += (names.empty() ? L"" : L", ") + writer;
    }
    WriteLog(L"install", L"warning: the install folder " + folder +
                             L" may be written by others than administrators: " + names);
  }
}

// The package installer, then the completion.
void InstallerController::InstallPackage(InstallOptions options, const ProtectedFolder& folder,
                                         KernelHandle& hold,
                                         std::chrono::steady_clock::time_point startTime) {
  PublishStatus(InstallStage::Installing, 95, kTextInstalling, L"");
  SendMetricsEvent("web_install_start", L"");
  options.channelId = channelId;
  const std::wstring arguments = BuildInstallerArguments(options);
  std::uint32_t exitCode = 0;
  std::wstring message;
  bool ran = false;
  // What starts is what the hold keeps: the path must still name the held file, in the
  // protected folder.
  PrepareInstallFolder(options.installDirectory);
  const std::wstring temp = TempFolderName();
  KernelHandle tempHold;  // nobody renames or replaces the TEMP while the package uses it
  if (!folder.Names(hold.Get(), kPackageFileName) || folder.MakeEmptyFolder(temp, tempHold) != 0) {
    message = L"无法启动完整安装包";
  } else {
    ran = RunPackageInstaller(folder.PathOf(kPackageFileName), arguments, exitCode, message,
                              folder.PathOf(temp));
  }
  tempHold.Reset();
  folder.RemoveTree(temp);
  if (ran && cancelRequested.load()) {
    // The window closed meanwhile: a package that has started is never ended midway.
    WriteLog(L"install",
             L"cancel requested while the package ran: waited for it to end, exit code " +
                 std::to_wstring(exitCode));
  }
  if (!ran || exitCode != 0) {
    hold.Reset();  // the verified package stays for a retry
    if (cancelRequested.load()) {
      SendMetricsEvent("web_install_cancel", kErrorCancelled);
      return;
    }
    const PackageFailure failure = ClassifyPackageFailure(exitCode, message);
    WriteLog(L"install",
             !message.empty() ? message : L"NSIS exit code " + std::to_wstring(exitCode));
    SendMetricsEvent("web_install_failed", failure.errorCode);
    PublishStatus(InstallStage::Failed, 0, failure.text, failure.errorCode);
    return;
  }

  // Completion: a finished installation leaves no package behind.
  hold.Reset();
  static_cast<void>(folder.Remove(kPackageFileName));
  SendMetricsEvent("web_install_success", L"");
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - startTime)
                           .count() /
                       1000000000;
  WriteLog(L"complete", L"elapsed_seconds=" + std::to_wstring(elapsed));
  PublishStatus(InstallStage::Completed, 100, kTextCompleted, L"");
}

}  // namespace lum::installer
