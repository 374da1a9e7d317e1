// Hand-over to the package installer: its command line and the elevated, watched run.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/installer_types.h"

namespace lum::installer {

// The exact failure text of a refused elevation prompt.
inline constexpr wchar_t kUacRefusedText[] = L"用户取消了管理员授权";

std::wstring SanitizeChannelId(const std::wstring& channel);
std::wstring BuildInstallerArguments(const InstallOptions& options);

// Starts the package elevated and waits for it, reading cancel every 200 ms. True when it ran
// to its end and exitCode holds its exit code.
[[nodiscard]] bool RunPackageInstaller(const std::wstring& packagePath,
                                       const std::wstring& arguments,
                                       const std::atomic<bool>* cancel, std::uint32_t& exitCode,
                                       std::wstring& message);

// Tests only. Wine has no elevation prompt, so a refused one (ERROR_CANCELLED) cannot happen
// there; a test swaps in a stand-in for ShellExecuteExW to produce it. Returns the function
// that was in place; pass it back to restore.
using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
ShellExecuteExFunction ReplaceShellExecuteExForTesting(ShellExecuteExFunction replacement);

}  // namespace lum::installer
