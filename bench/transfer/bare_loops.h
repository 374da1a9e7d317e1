// Baselines for the transfer benchmark: the least code that does the same job with the same
// platform calls and buffer sizes as the product, so the product's overhead shows as a ratio.
#pragma once

#include <cstdint>
#include <string>

namespace lum::installer::bench {

// GET url with WinHTTP (same session settings as the product) and read the body in
// bufferSize chunks; written to destination with WriteFile, or dropped when destination is
// empty. bytes receives the body length.
// With arrivedOnly, each read asks for what WinHttpQueryDataAvailable says has arrived, and the
// buffer goes to the file when it is full: the product's way of reading, without the product.
[[nodiscard]] bool BareWinHttpDownload(const std::wstring& url, const std::wstring& destination,
                                       unsigned long bufferSize, std::uint64_t& bytes,
                                       std::wstring& message, bool arrivedOnly = false);

// SHA-256 of a file through CNG, reading bufferSize bytes at a time.
[[nodiscard]] bool BareCngSha256(const std::wstring& path, unsigned long bufferSize,
                                 std::wstring& digest, std::uint64_t& bytes, std::wstring& message);

}  // namespace lum::installer::bench
