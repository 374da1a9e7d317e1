#include "manifest/manifest.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "manifest/version.h"

namespace lum::installer {
namespace {

using Json = nlohmann::json;

constexpr wchar_t kTextFormatInvalid[] = L"安装配置格式无效";
constexpr wchar_t kTextSchemaUnsupported[] = L"不支持的安装配置版本";
constexpr wchar_t kTextBootstrapperTooOld[] = L"安装器版本过低，请重新下载";
constexpr wchar_t kTextChannelMissing[] = L"渠道配置缺失";
constexpr wchar_t kTextPayloadMissing[] = L"安装包配置缺失";
constexpr wchar_t kTextPayloadUnsafe[] = L"安装包配置不安全或不完整";
constexpr wchar_t kTextPublisherUntrusted[] = L"安装包发布者配置不受信任";

std::wstring StringMember(const Json& object, const char* name) {
  return Utf8ToWide(object.at(name).get<std::string>());
}

// Booleans read as 1 and 0 and fractions are truncated toward zero. Values beyond the 32-bit
// range saturate instead of wrapping, so that no large number can pass for version 1.
std::int32_t ReadSchemaVersion(const Json& value) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  if (value.is_number_float()) {
    const double truncated = std::trunc(value.get<double>());
    if (truncated <= static_cast<double>(kMin)) return kMin;
    if (truncated >= static_cast<double>(kMax)) return kMax;
    return static_cast<std::int32_t>(truncated);
  }
  if (value.is_number_unsigned()) {
    const std::uint64_t number = value.get<std::uint64_t>();
    return number > static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int32_t>(number);
  }
  if (value.is_number_integer()) {
    const std::int64_t number = value.get<std::int64_t>();
    if (number < kMin) return kMin;
    if (number > kMax) return kMax;
    return static_cast<std::int32_t>(number);
  }
  return value.get<std::int32_t>();  // booleans convert; every other type throws
}

// Integers and floats are accepted, booleans are not. A negative integer wraps. A float is
// taken as the integer it truncates to; one beyond the 64-bit range stands for no size at all.
std::uint64_t ReadSize(const Json& value) {
  if (value.is_number_float()) {
    const double truncated = std::trunc(value.get<double>());
    if (!(truncated >= -0x1p63 && truncated < 0x1p64)) throw std::out_of_range("size");
    if (truncated < 0) {
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(truncated));
    }
    return static_cast<std::uint64_t>(truncated);
  }
  return value.get<std::uint64_t>();  // throws for booleans and non-numbers
}

// A JSON integer of at least 1: no fraction, exponent, sign or boolean.
std::uint64_t ReadSequence(const Json& value) {
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() == 0) {
    throw std::invalid_argument("sequence");
  }
  return value.get<std::uint64_t>();
}

// An object, or null or an empty array for "no entries"; anything else is a format error.
const Json::object_t* EntriesOf(const Json& value) {
  static const Json::object_t kNoEntries;
  if (value.is_object()) return value.get_ptr<const Json::object_t*>();
  if (value.is_null() || (value.is_array() && value.empty())) return &kNoEntries;
  throw std::invalid_argument("entries");
}

PayloadInfo ReadPayload(std::wstring name, const Json& value) {
  PayloadInfo info;
  info.name = std::move(name);
  info.version = StringMember(value, "version");
  info.architecture = StringMember(value, "architecture");
  info.mode = StringMember(value, "mode");
  info.url = StringMember(value, "url");
  info.sha256 = StringMember(value, "sha256");
  info.publisher = StringMember(value, "publisher");
  info.size = ReadSize(value.at("size"));
  // Optional: an array of strings.
  if (const auto mirrors = value.find("mirrors"); mirrors != value.end()) {
    for (const Json& mirror : mirrors->get_ref<const Json::array_t&>()) {
      info.mirrors.push_back(Utf8ToWide(mirror.get<std::string>()));
    }
  }
  return info;
}

bool IsHexDigest(std::wstring_view text) {
  if (text.size() != 64) return false;
  for (const wchar_t c : text) {
    const bool hex =
        (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!hex) return false;
  }
  return true;
}

bool PassesFieldRules(const PayloadInfo& entry) {
  return entry.architecture == L"x64" && entry.mode == L"bundled" && entry.size != 0 &&
         !entry.publisher.empty() && IsSecureDownloadUrl(entry.url) &&
         std::all_of(entry.mirrors.begin(), entry.mirrors.end(),
                     [](const std::wstring& mirror) { return IsSecureDownloadUrl(mirror); }) &&
         IsHexDigest(entry.sha256) && CompareVersions(entry.version, L"0.0.0") != 2;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring wide;
  if (!DecodeUtf8(text, wide)) throw std::runtime_error("invalid utf-8");
  return wide;
}

bool ParseManifest(const std::string& body, Manifest& manifest, std::wstring& message) {
  try {
    const Json document = Json::parse(body, nullptr, /*allow_exceptions=*/true,
                                      /*ignore_comments=*/false);
    Manifest parsed;
    parsed.schemaVersion = ReadSchemaVersion(document.at("schemaVersion"));
    parsed.minimumBootstrapperVersion = StringMember(document, "minimumBootstrapperVersion");
    parsed.sequence = ReadSequence(document.at("sequence"));
    for (const auto& [name, value] : *EntriesOf(document.at("payloads"))) {
      std::wstring key = Utf8ToWide(name);
      PayloadInfo info = ReadPayload(key, value);
      parsed.payloads.try_emplace(std::move(key), std::move(info));
    }
    for (const auto& [name, value] : *EntriesOf(document.at("channels"))) {
      std::wstring key = Utf8ToWide(name);
      parsed.channels.try_emplace(std::move(key), Utf8ToWide(value.get<std::string>()));
    }
    manifest = std::move(parsed);
  } catch (...) {
    message = kTextFormatInvalid;
    return false;
  }
  message.clear();
  return true;
}

bool ValidateManifest(const Manifest& manifest, const std::wstring& channelId,
                      std::wstring_view bootstrapperVersion, PayloadInfo& payload,
                      std::wstring& message) {
  if (manifest.schemaVersion != 1) {
    message = kTextSchemaUnsupported;
    return false;
  }
  const int order = CompareVersions(bootstrapperVersion, manifest.minimumBootstrapperVersion);
  if (order != 0 && order != 1) {
    message = kTextBootstrapperTooOld;
    return false;
  }
  const auto channel = manifest.channels.find(channelId);
  if (channel == manifest.channels.end()) {
    message = kTextChannelMissing;
    return false;
  }
  const auto entry = manifest.payloads.find(channel->second);
  if (entry == manifest.payloads.end()) {
    message = kTextPayloadMissing;
    return false;
  }
  if (!PassesFieldRules(entry->second)) {
    message = kTextPayloadUnsafe;
    return false;
  }
  payload = entry->second;
  message.clear();
  return true;
}

bool IsSecureDownloadUrl(std::wstring_view url) {
  return url.size() >= 8 && url.starts_with(L"https://") &&
         url.find_first_of(L"\r\n") == std::wstring_view::npos;
}

bool IsTrustedPublisher(std::wstring_view publisher) {
  const std::wstring_view trusted = kTrustedPublisher;
  if (publisher.size() != trusted.size()) return false;
  for (size_t i = 0; i < trusted.size(); ++i) {
    if (AsciiLower(publisher[i]) != AsciiLower(trusted[i])) return false;
  }
  return true;
}

bool SelectManifestPayload(const std::string& body, const std::wstring& channelId,
                           PayloadInfo& payload, std::wstring& message, std::uint64_t* sequence) {
  Manifest manifest;
  if (!ParseManifest(body, manifest, message)) return false;
  PayloadInfo selected;
  if (!ValidateManifest(manifest, channelId, kBootstrapperVersion, selected, message)) return false;
  if (!IsTrustedPublisher(selected.publisher)) {
    message = kTextPublisherUntrusted;
    return false;
  }
  payload = std::move(selected);
  if (sequence) *sequence = manifest.sequence;
  message.clear();
  return true;
}

}  // namespace lum::installer
