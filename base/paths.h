// Path strings and the small file-system queries every folder shares.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace lum::installer {

// Appends name to path with one backslash between them, unless path already ends with a
// separator.
std::wstring JoinPath(std::wstring path, std::wstring_view name);

// The path without its last component and the separators trailing what remains; the root
// ("C:\", "\\server\share\", "\") is never removed.
std::wstring ParentPath(std::wstring_view path);

// Creates folder and every missing parent; true when the folder exists afterwards.
bool CreateDirectoryTree(const std::wstring& folder);

// The size of the file at path; false when there is none, it is a folder, or it cannot be read.
[[nodiscard]] bool ReadFileSize(const std::wstring& path, std::uint64_t& size);

// True for the Windows errors that mean "nothing is there": file, path or network path not
// found, or an invalid name.
bool IsNotFoundError(DWORD error);

}  // namespace lum::installer
