// installer.log: one line per notable event, appended and closed again at once, so every
// finished line is on disk even if the process dies right after.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/installer_controller.h"
#include "core/scoped_handle.h"
#include "net/wide_to_utf8.h"

namespace lum::installer {

void InstallerController::WriteLog(const std::wstring& category, const std::wstring& message) {
  const std::wstring folder = CacheDirectory();
  if (folder.empty()) return;
  CreateDirectoryTree(folder);  // a failure shows when the file is opened
  const std::wstring path = JoinPath(folder, kLogFileName);
  // Windows refuses write access to a read-only file; Wine running as root does not, so the
  // attribute is honoured explicitly.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;

  // Shared for reading, writing and deletion by others; FILE_APPEND_DATA puts every write at
  // the end of the file, whoever else writes to it.
  KernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;

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
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace lum::installer
