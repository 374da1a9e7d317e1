// installer.log of the protected folder, and the administrator's copy of it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace lum::installer {

struct InstallerLogLine {
  std::wstring category;
  std::wstring message;
};

// Appends one line; what InstallerController::WriteLog does. Every failure is silent.
void AppendInstallerLog(const std::wstring& category, const std::wstring& message);

// From this call on, every line waits in memory until an installation starts, so that nothing
// is created, opened or written in the working folder before the user starts one. firstLines
// (the run's mode and switches) are written at the start of the first installation, before the
// lines that waited. Called once at start-up, before any other thread writes the log.
void DeferInstallerLog(std::vector<InstallerLogLine> firstLines);

// At the start of every installation: the first call after DeferInstallerLog writes its lines,
// then those that waited, each with the time it was logged. Otherwise it does nothing.
void BeginInstallerLog();

// Every later line also goes to the end of this file (/LOG=). Set once at start-up, before any
// other thread writes the log. Returns 0, or the error of a first open, which leaves it unset.
[[nodiscard]] DWORD SetLogCopyFile(const std::wstring& path);

}  // namespace lum::installer
