// installer.log of the protected folder, and the administrator's copy of it.
#pragma once

#include <windows.h>

#include <string>

namespace lum::installer {

// Appends one line; what InstallerController::WriteLog does. Every failure is silent.
void AppendInstallerLog(const std::wstring& category, const std::wstring& message);

// Every later line also goes to the end of this file (/LOG=). Set once at start-up, before any
// other thread writes the log. Returns 0, or the error of a first open, which leaves it unset.
[[nodiscard]] DWORD SetLogCopyFile(const std::wstring& path);

}  // namespace lum::installer
