#include "base/paths.h"

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

}  // namespace

bool IsFullDosPath(std::wstring_view path) {
  const bool drive = path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]) &&
                     ((path[0] >= L'a' && path[0] <= L'z') || (path[0] >= L'A' && path[0] <= L'Z'));
  if (drive) return true;
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  // \\server\share: a server name, not "." or "?" (the device namespaces).
  const size_t end = path.find_first_of(L"\\/", 2);
  const std::wstring_view server = path.substr(2, end == std::wstring_view::npos ? end : end - 2);
  return !server.empty() && server != L"." && server != L"?";
}

std::wstring FinalDosPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);  // too small: length counts the terminator
  }
  // \\?\C:\dir -> C:\dir and \\?\UNC\server\share -> \\server\share.
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

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

}  // namespace lum::installer
