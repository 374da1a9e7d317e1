// The workflow's pure rules: the progress a download shows, the free space a package needs, and
// what a package run that did not succeed means.
#pragma once

#include <cstdint>
#include <string>

namespace lum::installer {

// The download's share of the progress bar.
inline constexpr std::int32_t kDownloadShare = 85;

// 0 for an unknown total, 85 once done reaches total, else done/total of 85 truncated and held
// below 85.
std::int32_t DownloadPercent(std::uint64_t done, std::uint64_t total);

// Twice the package size, saturating at the largest 64-bit value.
std::uint64_t RequiredSpace(std::uint64_t packageSize);

struct PackageFailure {
  const wchar_t* errorCode;
  const wchar_t* text;
};
// A package run that did not end with exit code 0 and was not cancelled: exit code 2 is a full
// disk, the exact text of a refused elevation prompt is E_UAC, anything else E_INSTALL.
PackageFailure ClassifyPackageFailure(std::uint32_t exitCode, const std::wstring& message);

}  // namespace lum::installer
