// A second, deliberately plain reading of a manifest document, written from the document's
// rules rather than from the product code: which message (or acceptance) a parsed document
// must give for a channel. The fuzzer compares it with SelectManifestPayload.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lum::installer::fuzz {

inline constexpr wchar_t kTextFormatInvalid[] = L"安装配置格式无效";
inline constexpr wchar_t kTextSchemaUnsupported[] = L"不支持的安装配置版本";
inline constexpr wchar_t kTextBootstrapperTooOld[] = L"安装器版本过低，请重新下载";
inline constexpr wchar_t kTextChannelMissing[] = L"渠道配置缺失";
inline constexpr wchar_t kTextPayloadMissing[] = L"安装包配置缺失";
inline constexpr wchar_t kTextPayloadUnsafe[] = L"安装包配置不安全或不完整";
inline constexpr wchar_t kTextPublisherUntrusted[] = L"安装包发布者配置不受信任";

struct ManifestMessage {
  const wchar_t* text;
  const char* label;
};

// Every message a manifest body can be refused with, and a short label for the counts.
const std::vector<ManifestMessage>& ManifestMessages();

// The expected message for a document that the JSON library parsed (empty: accepted).
// The document's strings are valid UTF-8, as the JSON library checked.
std::wstring ExpectedManifestMessage(const nlohmann::json& document, const std::string& channel);

// A dotted version of ASCII digit fields; one trailing dot allowed; every field fits 64 bits.
bool ReferenceVersionFields(const std::string& text, std::vector<unsigned long long>& fields);

}  // namespace lum::installer::fuzz
