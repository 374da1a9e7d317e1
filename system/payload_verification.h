// Proves that a package file is the one the manifest describes: size, SHA-256, signer.
#pragma once

#include <cstdint>
#include <string>

namespace lum::installer {

// The message is set on failure only.
[[nodiscard]] bool VerifyPayload(const std::wstring& path, std::uint64_t expectedSize,
                                 const std::wstring& expectedSha256,
                                 const std::wstring& expectedPublisher, std::wstring& message);
// digest receives 64 lower-case hex digits.
[[nodiscard]] bool ComputeFileSha256(const std::wstring& path, std::wstring& digest,
                                     std::wstring& message);
[[nodiscard]] bool VerifyPublisherSignature(const std::wstring& path,
                                            const std::wstring& expectedPublisher,
                                            std::wstring& message);

}  // namespace lum::installer
