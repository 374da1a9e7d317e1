// Path strings and the small file-system queries every folder shares.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace lum::installer {

// Sharing that lets everyone else read, write, rename and delete while a handle is open.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Appends name to path with one backslash between them, unless path already ends with a
// separator.
std::wstring JoinPath(std::wstring path, std::wstring_view name);

// The path without its last component and the separators trailing what remains; the root
// ("C:\", "\\server\share\", "\") is never removed.
std::wstring ParentPath(std::wstring_view path);

// True for a full path in the DOS namespace: a drive letter with its root ("C:\...") or a share
// ("\\server\share\..."); false for relative paths and for the device namespaces ("\\.\",
// "\\?\"), which reach pipes and devices as well as files.
bool IsFullDosPath(std::wstring_view path);

// The path GetFinalPathNameByHandleW gives for an open handle, in the DOS form ("C:\dir",
// "\\server\share\dir"): where the handle really is, after every link on the way. Empty when
// it cannot be read.
std::wstring FinalDosPath(HANDLE handle);

// Both paths name the same place, ignoring case (ordinal, as NTFS compares names).
bool SamePath(std::wstring_view a, std::wstring_view b);

// Creates folder and every missing parent; true when the folder exists afterwards.
bool CreateDirectoryTree(const std::wstring& folder);

// The size of the file at path; false when there is none, it is a folder, or it cannot be read.
[[nodiscard]] bool ReadFileSize(const std::wstring& path, std::uint64_t& size);

// True for the Windows errors that mean "nothing is there": file, path or network path not
// found, or an invalid name.
bool IsNotFoundError(DWORD error);

}  // namespace lum::installer
