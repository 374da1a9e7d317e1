// installer.log: one line per notable event, appended and closed again at once, so every
// finished line is on disk even if the process dies right after. The administrator's copy is
// held open instead (below).
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "core/installer_controller.h"
#include "core/installer_log.h"
#include "system/protected_folder.h"

namespace lum::installer {

namespace {

// Shared for reading, writing and deletion by others; FILE_APPEND_DATA puts every write at the
// end of the file, whoever else writes to it.
constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// The log of the protected folder, made when missing. Anything but the folder's own file at its
// name (a link to some other file, say) is removed first, never written through.
KernelHandle OpenLog(const ProtectedFolder& folder) {
  KernelHandle file;
  DWORD error = 0;
  for (int tries = 0; tries < 2; ++tries) {
    switch (folder.OpenFile(kLogFileName, kAccess, kShareAll, file, error)) {
      case ProtectedFolder::Entry::File:
        return file;
      case ProtectedFolder::Entry::Unreadable:
        return {};
      case ProtectedFolder::Entry::Other:
        if (folder.Remove(kLogFileName) != 0) return {};
        [[fallthrough]];
      case ProtectedFolder::Entry::Missing:
        if (folder.CreateNewFile(kLogFileName, kAccess, kShareAll, file) == 0) return file;
        break;  // made by someone else meanwhile: open that
    }
  }
  return {};
}

// The administrator's copy (/LOG=). The bootstrapper runs as an administrator or SYSTEM and the
// path may lie below folders that other accounts can change, so the copy is opened once, at
// start-up, and only ever written through that handle: no name is opened again, and nothing put
// at the path later (a link, a junction in a parent folder) is written to.
// Identification only: should the path lead to a named pipe, its server cannot act as us.
constexpr DWORD kCopyFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                             SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

KernelHandle g_copy;  // set at start-up; written under g_logMutex

// Opens the file at path (full, in the DOS namespace): an existing one first, otherwise a new
// one. It is taken only when it is a plain file with one name and the handle really is at path,
// with no link on the way; a file made here that is not is removed again through its handle.
bool OpenLogCopy(const std::wstring& path, KernelHandle& copy, std::wstring& problem) {
  copy.Reset();
  const auto failed = [&problem, &path](DWORD error) {
    problem = path + L", error=" + std::to_wstring(error);
    return false;
  };
  if (!IsFullDosPath(path)) return failed(ERROR_BAD_PATHNAME);
  // What the path names, written out in full ("." and ".." resolved, "/" as "\\"); no file
  // system is asked.
  std::wstring asked(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(asked.size()), asked.data(), nullptr);
    if (length == 0) return failed(GetLastError());
    const bool fits = length < asked.size();
    asked.resize(length);
    if (fits) break;
  }

  bool made = false;
  for (int tries = 0; tries < 2 && !copy; ++tries) {
    copy.Reset(CreateFileW(asked.c_str(), kAccess, kShareAll, nullptr, OPEN_EXISTING, kCopyFlags,
                           nullptr));
    if (copy) break;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return failed(error);
    // DELETE as well, to take the file away again should it turn out to be somewhere else.
    copy.Reset(CreateFileW(asked.c_str(), kAccess | DELETE, kShareAll, nullptr, CREATE_NEW,
                           kCopyFlags, nullptr));
    if (copy) {
      made = true;
      break;
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS) return failed(error);  // else made meanwhile: open that
  }
  if (!copy) return failed(ERROR_FILE_EXISTS);

  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain =
      GetFileType(copy.Get()) == FILE_TYPE_DISK && GetFileInformationByHandle(copy.Get(), &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
      info.nNumberOfLinks == 1;
  const std::wstring reached = FinalDosPath(copy.Get());
  if (plain && SamePath(reached, asked)) return true;
  if (made) static_cast<void>(DeleteThroughHandle(copy.Get()));
  copy.Reset();
  if (!plain) {
    problem = path + L" is not a plain file with a single name";
  } else {
    problem =
        path + L" leads to " + (reached.empty() ? std::wstring(L"an unknown place") : reached);
  }
  return false;
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
  const bool toFile = file && Writable(file);
  const bool toCopy = g_copy && Writable(g_copy);
  std::string text = lines;
  if (folder.Reclaimed()) {
    // An administrator's change had let other accounts into the folder; Open took it back.
    text = FormatLine(L"cache", L"工作文件夹的访问权限曾允许其他帐户写入，已重置") + text;
  }
  DWORD written = 0;
  if (toFile)
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (toCopy)
    WriteFile(g_copy.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

bool SetLogCopyFile(const std::wstring& path, std::wstring& problem) {
  problem.clear();
  KernelHandle copy;
  const bool opened = path.empty() || OpenLogCopy(path, copy, problem);
  const std::lock_guard lock(g_logMutex);
  g_copy = std::move(copy);
  return opened;
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
