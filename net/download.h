// Resumable download of the package into the cache folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace lum::installer {

using DownloadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Downloads url into destination, resuming a partial file with a byte range. True when the
// file holds exactly expectedSize bytes. Reads cancel before every read of the body.
[[nodiscard]] bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                                  std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                                  const DownloadProgress& progress, std::wstring* message);

}  // namespace lum::installer
