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

// Every later line also goes to the end of this file (/LOG=), a full path. It is opened here,
// once, and used only when it is a plain file with one name, reached with no link on the way;
// every line then goes through that handle. Set at start-up; an empty path ends the copy. On
// false no copy is written, and problem says why ("PATH, error=5", "PATH leads to D:\x.log").
[[nodiscard]] bool SetLogCopyFile(const std::wstring& path, std::wstring& problem);

}  // namespace lum::installer
