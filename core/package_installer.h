// Hand-over to the package installer: its command line and the elevated, watched run.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "core/installer_types.h"

namespace lum::installer {

// The exact failure text of a refused elevation prompt.
inline constexpr wchar_t kUacRefusedText[] = L"用户取消了管理员授权";

std::wstring SanitizeChannelId(const std::wstring& channel);
std::wstring BuildInstallerArguments(const InstallOptions& options);

// Starts the package elevated, by its full path, in its own folder, and waits for it to end.
// True when it ran to its end and exitCode holds its exit code. Once started it is never ended
// from here, not even for a cancel: NSIS cannot roll back, and a package stopped midway leaves a
// half-written installation; the caller reads its cancel flag afterwards.
// An elevated caller starts it directly (no file-association lookup), in the system's own
// environment (none of the user's variables), with TEMP and TMP set to tempDirectory when one is
// given; an unelevated one asks for elevation through the shell's "runas" verb.
[[nodiscard]] bool RunPackageInstaller(const std::wstring& packagePath,
                                       const std::wstring& arguments, std::uint32_t& exitCode,
                                       std::wstring& message,
                                       const std::wstring& tempDirectory = {});

// Tests only. Under Wine every process runs elevated and there is no elevation prompt, so
// neither the unelevated route nor a refused prompt (ERROR_CANCELLED) can happen there. While a
// stand-in for ShellExecuteExW is set, RunPackageInstaller takes the unelevated route through
// it. Returns the stand-in that was in place (null for none); pass it back to restore.
using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
ShellExecuteExFunction UseElevationPromptForTesting(ShellExecuteExFunction standIn);

}  // namespace lum::installer
