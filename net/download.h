// Resumable download of the package into the cache folder.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/transfer_failure.h"

namespace lum::installer {

using DownloadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;
// Sees every chunk once it is in the file, with the file offset it was written at.
using ChunkWritten = std::function<void(std::uint64_t offset, const char* data, DWORD size)>;

// Downloads url into destination, resuming a partial file with a byte range. True when the
// file holds exactly expectedSize bytes. Reads cancel before every read of the body. A failure,
// when given, receives what the call saw; it tells something only when the call failed.
[[nodiscard]] bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                                  std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                                  const DownloadProgress& progress, std::wstring* message,
                                  TransferFailure* failure = nullptr);

// The same into a file the caller holds open for reading and writing: what it holds is what a
// later call resumes from, and the caller keeps the file in hand throughout.
[[nodiscard]] bool DownloadToOpenFile(const std::wstring& url, HANDLE file,
                                      std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                                      const DownloadProgress& progress, const ChunkWritten& written,
                                      std::wstring* message, TransferFailure* failure = nullptr);

}  // namespace lum::installer
