// installer.log: one line per notable event, appended and closed again at once, so every
// finished line is on disk even if the process dies right after.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/handles.h"
#include "base/text.h"
#include "core/installer_controller.h"
#include "core/installer_log.h"
#include "system/protected_folder.h"

namespace lum::installer {

namespace {

// Shared for reading, writing and deletion by others; FILE_APPEND_DATA puts every write at the
// end of the file, whoever else writes to it.
constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The log of the protected folder, made when missing. Anything but the folder's own file at its
// name (a link to some other file, say) is removed first, never written through.
KernelHandle OpenLog(const ProtectedFolder& folder) {
  KernelHandle file;
  DWORD error = 0;
  for (int tries = 0; tries < 2; ++tries) {
    switch (folder.OpenFile(kLogFileName, kAccess, kShare, file, error)) {
      case ProtectedFolder::Entry::File:
        return file;
      case ProtectedFolder::Entry::Unreadable:
        return {};
      case ProtectedFolder::Entry::Other:
        if (folder.Remove(kLogFileName) != 0) return {};
        [[fallthrough]];
      case ProtectedFolder::Entry::Missing:
        if (folder.CreateNewFile(kLogFileName, kAccess, kShare, file) == 0) return file;
        break;  // made by someone else meanwhile: open that
    }
  }
  return {};
}

// The administrator's copy: a path chosen on the command line, opened by name but used only when
// it is a plain file with a single name, never a folder, a device or a link.
std::wstring logCopyPath;

KernelHandle OpenLogCopy(const std::wstring& path, DWORD& error) {
  KernelHandle file(CreateFileW(path.c_str(), kAccess, kShare, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    error = GetLastError();
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      info.nNumberOfLinks != 1) {
    error = ERROR_INVALID_NAME;
    return {};
  }
  error = 0;
  return file;
}

// One writer at a time, and the lines that wait while the log is deferred, formatted with the
// time they were logged.
std::mutex g_logMutex;
bool g_deferred = false;
std::vector<InstallerLogLine> g_firstLines;
std::string g_waiting;

std::string FormatLine(const std::wstring& category, const std::wstring& message) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char timestamp[32];
  std::snprintf(timestamp, sizeof(timestamp), "%04u-%02u-%02u %02u:%02u:%02u",
                static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
                static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
                static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond));
  // Text-mode line end, written out explicitly: CR LF.
  std::string line = timestamp;
  line += " [";
  line += WideToUtf8(category);
  line += "] ";
  line += WideToUtf8(message);
  line += "\r\n";
  return line;
}

// Windows refuses write access to a read-only file; Wine running as root does not, so the
// attribute is honoured explicitly.
bool Writable(const KernelHandle& file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(file.Get(), &info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
}

// Appends whole lines to the log of the working folder and to the administrator's copy.
void WriteLines(const std::string& lines) {
  ProtectedFolder folder;
  const KernelHandle file = folder.Open() == 0 ? OpenLog(folder) : KernelHandle();
  DWORD ignored = 0;
  const KernelHandle copy =
      logCopyPath.empty() ? KernelHandle() : OpenLogCopy(logCopyPath, ignored);
  const bool toFile = file && Writable(file);
  const bool toCopy = copy && Writable(copy);
  std::string text = lines;
  if (folder.Reclaimed()) {
    // An administrator's change had let other accounts into the folder; Open took it back.
    text = FormatLine(L"cache", L"工作文件夹的访问权限曾允许其他帐户写入，已重置") + text;
  }
  DWORD written = 0;
  if (toFile)
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (toCopy)
    WriteFile(copy.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

DWORD SetLogCopyFile(const std::wstring& path) {
  DWORD error = 0;
  if (OpenLogCopy(path, error)) logCopyPath = path;
  return error;
}

void InstallerController::WriteLog(const std::wstring& category, const std::wstring& message) {
  AppendInstallerLog(category, message);
}

void DeferInstallerLog(std::vector<InstallerLogLine> firstLines) {
  const std::lock_guard lock(g_logMutex);
  g_deferred = true;
  g_firstLines = std::move(firstLines);
}

void BeginInstallerLog() {
  const std::lock_guard lock(g_logMutex);
  if (!g_deferred) return;
  g_deferred = false;
  std::string lines;
  for (const InstallerLogLine& line : g_firstLines)
    lines += FormatLine(line.category, line.message);
  lines += std::exchange(g_waiting, {});
  g_firstLines.clear();
  WriteLines(lines);
}

void AppendInstallerLog(const std::wstring& category, const std::wstring& message) {
  std::string line = FormatLine(category, message);
  const std::lock_guard lock(g_logMutex);
  if (g_deferred) {
    g_waiting += line;
    return;
  }
  WriteLines(line);
}

}  // namespace lum::installer
