// The remote manifest: strict parse, validation and the publisher trust rule.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/installer_types.h"

namespace lum::installer {

inline constexpr wchar_t kTrustedPublisher[] = L"Velmont Harbor Network Technology Co., Ltd.";

struct Manifest {
  std::int32_t schemaVersion = 0;
  std::wstring minimumBootstrapperVersion;
  // Grows with every published manifest; a machine never goes back to a lower one.
  std::uint64_t sequence = 0;
  std::map<std::wstring, PayloadInfo> payloads;
  std::map<std::wstring, std::wstring> channels;
};

[[nodiscard]] bool ParseManifest(const std::string& body, Manifest& manifest,
                                 std::wstring& message);
[[nodiscard]] bool ValidateManifest(const Manifest& manifest, const std::wstring& channelId,
                                    std::wstring_view bootstrapperVersion, PayloadInfo& payload,
                                    std::wstring& message);
bool IsSecureDownloadUrl(std::wstring_view url);

// kTrustedPublisher, compared without regard to ASCII letter case.
bool IsTrustedPublisher(std::wstring_view publisher);

// Everything LoadManifest does with a verified body except the sequence rule and storing the
// result: parse, validate for channelId against kBootstrapperVersion, and the publisher trust
// rule. sequence, when given, receives the document's sequence on success.
[[nodiscard]] bool SelectManifestPayload(const std::string& body, const std::wstring& channelId,
                                         PayloadInfo& payload, std::wstring& message,
                                         std::uint64_t* sequence = nullptr);

// Strict UTF-8 to UTF-16; throws std::runtime_error("invalid utf-8") on malformed input.
std::wstring Utf8ToWide(std::string_view text);

}  // namespace lum::installer
