#include "core/install_rules.h"

#include <limits>

#include "core/installer_types.h"
#include "core/package_installer.h"

namespace lum::installer {

std::int32_t DownloadPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return kDownloadShare;
  const double share = static_cast<double>(done) / static_cast<double>(total) * kDownloadShare;
  const auto percent = static_cast<std::int32_t>(share);
  return percent > kDownloadShare - 1 ? kDownloadShare - 1 : percent;
}

std::uint64_t RequiredSpace(std::uint64_t packageSize) {
  return packageSize <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
             ? packageSize * 2
             : std::numeric_limits<std::uint64_t>::max();
}

PackageFailure ClassifyPackageFailure(std::uint32_t exitCode, const std::wstring& message) {
  if (exitCode == 2) return {kErrorDiskSpace, kTextDiskSpace};
  if (message == kUacRefusedText) return {kErrorUac, kTextUac};
  return {kErrorInstall, kTextInstall};
}

}  // namespace lum::installer
