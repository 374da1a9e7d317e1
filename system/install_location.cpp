#include "system/install_location.h"

#include <shlobj.h>

#include <vector>

#include "base/handles.h"

namespace lum::installer {

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  CoTaskMemString path;  // freed also when the call failed
  if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.Put())) || !path) return {};
  return path.Get();
}

namespace {

std::wstring ProgramFilesDirectory() {
  std::wstring programFiles = KnownFolderPath(FOLDERID_ProgramFiles);
  if (programFiles.empty()) programFiles = kFallbackProgramFiles;
  return programFiles;
}

}  // namespace

std::wstring DefaultInstallDirectory() {
  return JoinPath(ProgramFilesDirectory(), kInstallFolderName);
}

std::wstring WorkingFolderRoot() { return ProgramFilesDirectory(); }

std::wstring CacheDirectory() { return JoinPath(WorkingFolderRoot(), kWorkingFolderName); }

std::optional<std::wstring> ReadRegistryString(REGSAM view, const wchar_t* valueName) {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, key.Put()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t)) {
    return std::nullopt;
  }
  // One spare unit, so that an odd byte count still fits the buffer; the odd byte is dropped.
  const size_t units = size / sizeof(wchar_t);
  std::vector<wchar_t> buffer(units + 1, L'\0');
  DWORD querySize = size;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                       &querySize) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(buffer.data(), units);
  if (const size_t nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
  return text;
}

InstalledApplication FindInstalledApplication() {
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    auto version = ReadRegistryString(view, L"DisplayVersion");
    auto location = ReadRegistryString(view, L"InstallLocation");
    if (version && location && !version->empty() && !location->empty()) {
      return {std::move(*version), std::move(*location), true};
    }
  }
  return {};
}

std::uint64_t AvailableDiskSpace(const std::wstring& path) {
  std::wstring current = path;
  while (!current.empty()) {
    if (GetFileAttributesW(current.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    const DWORD error = GetLastError();
    // Any other failure (no medium, access refused) leaves the amount undetermined.
    if (!IsNotFoundError(error)) return 0;
    std::wstring parent = ParentPath(current);
    if (parent == current) return 0;  // a root that does not exist
    current = std::move(parent);
  }
  if (current.empty()) return 0;
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(current.c_str(), &available, nullptr, nullptr)) return 0;
  return available.QuadPart;
}

}  // namespace lum::installer
