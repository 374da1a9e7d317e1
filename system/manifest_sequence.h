// The highest manifest sequence this machine has accepted, kept where only administrators can
// write: HKEY_LOCAL_MACHINE\SOFTWARE\VIVOV3\WebBootstrapper, value ManifestSequence (REG_QWORD,
// 64-bit view). A manifest older than it is refused, so nobody can take the machine back to an
// older package by replaying an older signed manifest.
#pragma once

#include <windows.h>

#include <cstdint>

namespace lum::installer {

inline constexpr wchar_t kManifestSequenceKey[] = L"SOFTWARE\\VIVOV3\\WebBootstrapper";
inline constexpr wchar_t kManifestSequenceValue[] = L"ManifestSequence";

// 0 with sequence set (0 when none was recorded, or the value is not a REG_QWORD), else the
// error of the registry call that failed.
[[nodiscard]] DWORD ReadAcceptedManifestSequence(std::uint64_t& sequence);
// Raises the recorded sequence to sequence; a higher one already recorded stays. 0 or the error.
[[nodiscard]] DWORD RecordAcceptedManifestSequence(std::uint64_t sequence);

}  // namespace lum::installer
