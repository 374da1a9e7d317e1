// Where the application goes, whether it is installed, where the bootstrapper keeps its files,
// and how much space a folder's volume has free.
#pragma once

#include <windows.h>
#include <shtypes.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/paths.h"

namespace lum::installer {

inline constexpr wchar_t kInstallFolderName[] = L"VIVOV3";
inline constexpr wchar_t kFallbackProgramFiles[] = L"C:\\Program Files";
// The bootstrapper's own working folder, under the program-files folder (CacheDirectory()).
inline constexpr wchar_t kWorkingFolderName[] = L"LUMWebBootstrapper";
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VIVOV3_PC";
inline constexpr wchar_t kPackageFileName[] = L"VIVOV3_Setup_x64.exe";
inline constexpr wchar_t kLogFileName[] = L"installer.log";

struct InstalledApplication {
  std::wstring displayVersion;
  std::wstring installLocation;
  bool found = false;
};

std::wstring DefaultInstallDirectory();
// A known folder of the shell (SHGetKnownFolderPath); empty when it is unknown.
std::wstring KnownFolderPath(REFKNOWNFOLDERID id);

// The folder that holds the working folder: the 64-bit program-files folder, in which standard
// users cannot create anything (C:\Program Files).
std::wstring WorkingFolderRoot();
// The working folder of the bootstrapper as it is meant to be: the program-files folder joined
// with "LUMWebBootstrapper" (a name of the bootstrapper's own, never the application's).
// ProtectedFolder makes, checks and opens it.
std::wstring CacheDirectory();
InstalledApplication FindInstalledApplication();

// Reads one string value of the uninstall key in the given registry view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY). REG_EXPAND_SZ is taken literally; the text ends at the first NUL.
std::optional<std::wstring> ReadRegistryString(REGSAM view, const wchar_t* valueName);

// Bytes available to the caller on the volume of the nearest existing ancestor of path;
// 0 when no amount could be determined.
std::uint64_t AvailableDiskSpace(const std::wstring& path);

}  // namespace lum::installer
