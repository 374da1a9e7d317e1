#include "system/install_location.h"

#include <shlobj.h>

#include <vector>

#include "core/scoped_handle.h"

namespace lum::installer {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root of an absolute path ("C:\", "C:", "\\server\share\", "\"), 0 when the
// path is relative.
size_t RootLength(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':') {
    return (path.size() >= 3 && IsSeparator(path[2])) ? 3 : 2;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share\ (or \\?\C:\ and the like): two components after the double separator.
    size_t pos = 2;
    for (int component = 0; component < 2 && pos < path.size(); ++component) {
      while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
      if (pos < path.size()) ++pos;
    }
    return pos;
  }
  if (!path.empty() && IsSeparator(path[0])) return 1;
  return 0;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &raw)) && raw) result = raw;
  CoTaskMemFree(raw);  // also required when the call failed
  return result;
}

}  // namespace

std::wstring JoinPath(std::wstring path, std::wstring_view name) {
  if (!path.empty() && !IsSeparator(path.back())) path += L'\\';
  path += name;
  return path;
}

std::wstring ParentPath(std::wstring_view path) {
  const size_t root = RootLength(path);
  size_t end = path.size();
  while (end > root && !IsSeparator(path[end - 1])) --end;  // drop the last component
  while (end > root && IsSeparator(path[end - 1])) --end;   // and the separators before it
  return std::wstring(path.substr(0, end));
}

bool CreateDirectoryTree(const std::wstring& folder) {
  if (folder.empty()) return false;
  // Every prefix that ends a component, then the whole path. An existing folder answers
  // "already exists" (or "access denied" near the root); only the end result counts.
  for (size_t end = RootLength(folder); end <= folder.size(); ++end) {
    if (end < folder.size() && !IsSeparator(folder[end])) continue;
    if (end == 0 || IsSeparator(folder[end - 1])) continue;
    CreateDirectoryW(folder.substr(0, end).c_str(), nullptr);
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadFileSize(const std::wstring& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsNotFoundError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_BAD_NETPATH || error == ERROR_INVALID_NAME;
}

std::wstring DefaultInstallDirectory() {
  std::wstring programFiles = KnownFolder(FOLDERID_ProgramFiles);
  if (programFiles.empty()) programFiles = kFallbackProgramFiles;
  return JoinPath(std::move(programFiles), kInstallFolderName);
}

std::wstring ProgramDataDirectory() { return KnownFolder(FOLDERID_ProgramData); }

std::wstring CacheDirectory() {
  std::wstring base = ProgramDataDirectory();
  // Without it there is nowhere safe to keep the package: an empty path makes every user fail
  // cleanly instead of writing relative to the current directory.
  if (base.empty()) return {};
  return JoinPath(JoinPath(std::move(base), kInstallFolderName), kCacheFolderName);
}

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
