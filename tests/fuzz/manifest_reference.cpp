#include "tests/fuzz/manifest_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

namespace lum::installer::fuzz {
namespace {

using Json = nlohmann::json;

constexpr char kTrusted[] = "Velmont Harbor Network Technology Co., Ltd.";

// Thrown for anything that makes the document a format error.
struct FormatError {};

const Json& Member(const Json& object, const char* name) {
  if (!object.is_object()) throw FormatError{};
  const auto it = object.find(name);
  if (it == object.end()) throw FormatError{};
  return *it;
}

const std::string& StringOf(const Json& value) {
  if (!value.is_string()) throw FormatError{};
  return value.get_ref<const std::string&>();
}

// Members of payloads or channels: an object, or null / an empty array for none.
const Json& Entries(const Json& value) {
  static const Json kNone = Json::object();
  if (value.is_object()) return value;
  if (value.is_null() || (value.is_array() && value.empty())) return kNone;
  throw FormatError{};
}

bool SchemaIsOne(const Json& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number_float()) return std::trunc(value.get<double>()) == 1.0;
  if (value.is_number_unsigned()) return value.get<std::uint64_t>() == 1;
  if (value.is_number_integer()) return value.get<std::int64_t>() == 1;
  throw FormatError{};
}

// Whether the size reads as 0; format error for booleans, non-numbers and floats outside the
// range of the 64-bit conversion.
bool SizeIsZero(const Json& value) {
  if (value.is_number_float()) {
    const double t = std::trunc(value.get<double>());
    if (!(t >= -9223372036854775808.0 && t < 18446744073709551616.0)) throw FormatError{};
    return t == 0.0;
  }
  if (value.is_number_unsigned()) return value.get<std::uint64_t>() == 0;
  if (value.is_number_integer()) return value.get<std::int64_t>() == 0;
  throw FormatError{};
}

struct Entry {
  std::string version, architecture, mode, url, sha256, publisher;
  std::vector<std::string> mirrors;
  bool sizeZero = false;
};

Entry ReadEntry(const Json& value) {
  if (!value.is_object()) throw FormatError{};
  Entry entry;
  entry.version = StringOf(Member(value, "version"));
  entry.architecture = StringOf(Member(value, "architecture"));
  entry.mode = StringOf(Member(value, "mode"));
  entry.url = StringOf(Member(value, "url"));
  entry.sha256 = StringOf(Member(value, "sha256"));
  entry.publisher = StringOf(Member(value, "publisher"));
  entry.sizeZero = SizeIsZero(Member(value, "size"));
  if (value.contains("mirrors")) {
    const Json& mirrors = value["mirrors"];
    if (!mirrors.is_array()) throw FormatError{};
    for (const Json& mirror : mirrors) entry.mirrors.push_back(StringOf(mirror));
  }
  return entry;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool SecureUrl(const std::string& url) {
  return url.size() >= 8 && url.compare(0, 8, "https://") == 0 &&
         url.find_first_of("\r\n") == std::string::npos;
}

bool FieldRulesHold(const Entry& e) {
  if (e.architecture != "x64" || e.mode != "bundled" || e.sizeZero || e.publisher.empty()) {
    return false;
  }
  if (!SecureUrl(e.url) || !std::all_of(e.mirrors.begin(), e.mirrors.end(), SecureUrl)) {
    return false;
  }
  if (e.sha256.size() != 64) return false;
  for (const char c : e.sha256) {
    if (!IsHex(c)) return false;
  }
  std::vector<unsigned long long> fields;
  return ReferenceVersionFields(e.version, fields);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool Trusted(const std::string& publisher) {
  const std::string trusted = kTrusted;
  if (publisher.size() != trusted.size()) return false;
  for (std::size_t i = 0; i < trusted.size(); ++i) {
    if (Lower(publisher[i]) != Lower(trusted[i])) return false;
  }
  return true;
}

// 1.0.0 is at least the minimum version.
bool RecentEnough(const std::string& minimum) {
  std::vector<unsigned long long> fields;
  if (!ReferenceVersionFields(minimum, fields)) return false;
  const unsigned long long own[] = {1, 0, 0};
  const std::size_t length = std::max<std::size_t>(fields.size(), 3);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned long long a = i < 3 ? own[i] : 0;
    const unsigned long long b = i < fields.size() ? fields[i] : 0;
    if (a != b) return a > b;
  }
  return true;
}

}  // namespace

const std::vector<ManifestMessage>& ManifestMessages() {
  static const std::vector<ManifestMessage> messages = {
      {kTextFormatInvalid, "format-invalid"},
      {kTextSchemaUnsupported, "schema-unsupported"},
      {kTextBootstrapperTooOld, "bootstrapper-too-old"},
      {kTextChannelMissing, "channel-missing"},
      {kTextPayloadMissing, "payload-missing"},
      {kTextPayloadUnsafe, "payload-unsafe"},
      {kTextPublisherUntrusted, "publisher-untrusted"}};
  return messages;
}

bool ReferenceVersionFields(const std::string& text, std::vector<unsigned long long>& fields) {
  fields.clear();
  std::string body = text;
  if (!body.empty() && body.back() == '.') body.pop_back();  // one trailing dot is ignored
  if (body.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = body.find('.', start);
    const std::string field = body.substr(start, dot == std::string::npos ? dot : dot - start);
    if (field.empty()) return false;
    for (const char c : field) {
      if (c < '0' || c > '9') return false;
    }
    // Leading zeros do not count; more than 20 digits, or 20 above the maximum, overflow.
    const std::size_t first = std::min(field.find_first_not_of('0'), field.size());
    const std::string digits = field.substr(first);
    if (digits.size() > 20 || (digits.size() == 20 && digits > "18446744073709551615")) {
      return false;
    }
    fields.push_back(digits.empty() ? 0 : std::stoull(digits));
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

std::wstring ExpectedManifestMessage(const Json& document, const std::string& channel) {
  bool schemaOne = false;
  std::string minimum;
  std::optional<std::string> selectedName;
  std::optional<Entry> selected;
  try {
    schemaOne = SchemaIsOne(Member(document, "schemaVersion"));
    minimum = StringOf(Member(document, "minimumBootstrapperVersion"));
    const Json& sequence = Member(document, "sequence");
    if (!sequence.is_number_unsigned() || sequence.get<std::uint64_t>() < 1) throw FormatError{};
    const Json& payloads = Entries(Member(document, "payloads"));
    std::vector<std::pair<std::string, Entry>> entries;
    for (auto it = payloads.begin(); it != payloads.end(); ++it) {
      entries.emplace_back(it.key(), ReadEntry(it.value()));  // every entry must be well typed
    }
    const Json& channels = Entries(Member(document, "channels"));
    for (auto it = channels.begin(); it != channels.end(); ++it) {
      const std::string& target = StringOf(it.value());
      if (it.key() == channel) selectedName = target;
    }
    if (selectedName) {
      for (auto& [name, entry] : entries) {
        if (name == *selectedName) selected = entry;
      }
    }
  } catch (const FormatError&) {
    return kTextFormatInvalid;
  }
  if (!schemaOne) return kTextSchemaUnsupported;
  if (!RecentEnough(minimum)) return kTextBootstrapperTooOld;
  if (!selectedName) return kTextChannelMissing;
  if (!selected) return kTextPayloadMissing;
  if (!FieldRulesHold(*selected)) return kTextPayloadUnsafe;
  if (!Trusted(selected->publisher)) return kTextPublisherUntrusted;
  return L"";
}

}  // namespace lum::installer::fuzz
