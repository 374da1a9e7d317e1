#include "manifest/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "manifest/version.h"
#include "tests/support/printable.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

constexpr wchar_t kFormat[] = L"安装配置格式无效";
constexpr wchar_t kSchema[] = L"不支持的安装配置版本";
constexpr wchar_t kTooOld[] = L"安装器版本过低，请重新下载";
constexpr wchar_t kNoChannel[] = L"渠道配置缺失";
constexpr wchar_t kNoPayload[] = L"安装包配置缺失";
constexpr wchar_t kUnsafe[] = L"安装包配置不安全或不完整";
constexpr wchar_t kUntrusted[] = L"安装包发布者配置不受信任";
constexpr wchar_t kAccepted[] = L"";
constexpr std::uint64_t kMax = UINT64_MAX;

std::string ReadFixture(const char* name) {
  const std::wstring path =
      lum::test::TestDataPath(L"manifest\\" + std::filesystem::path(name).wstring() + L".json");
  EXPECT_TRUE(lum::test::PathExists(path)) << name;
  return lum::test::ReadFileBytes(path);
}

// One fixture file per case, selected for the channel "guanwang". For accepted documents the
// table also names the selected entry and its size.
struct FixtureCase {
  const char* file;
  const wchar_t* message;
  const wchar_t* payloadName = L"lumora-x64";
  std::uint64_t size = 123456;
};

void PrintTo(const FixtureCase& c, std::ostream* out) { *out << c.file; }

class ManifestFixtureTest : public testing::TestWithParam<FixtureCase> {};

TEST_P(ManifestFixtureTest, SelectsOrRefusesWithTheExactMessage) {
  const FixtureCase& c = GetParam();
  PayloadInfo payload;
  std::wstring message = L"stale";
  const bool accepted = SelectManifestPayload(ReadFixture(c.file), L"guanwang", payload, message);
  EXPECT_EQ(test::Printable(message), test::Printable(c.message));
  EXPECT_EQ(accepted, std::wstring(c.message).empty());
  if (accepted) {
    EXPECT_EQ(test::Printable(payload.name), test::Printable(c.payloadName));
    EXPECT_EQ(payload.size, c.size);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ManifestFixtureTest,
    testing::Values(
        FixtureCase{"valid", kAccepted}, FixtureCase{"valid_unknown_members", kAccepted},
        // syntax and top level
        FixtureCase{"top_level_array", kFormat}, FixtureCase{"top_level_string", kFormat},
        FixtureCase{"empty_body", kFormat}, FixtureCase{"trailing_text", kFormat},
        FixtureCase{"line_comment", kFormat}, FixtureCase{"truncated", kFormat},
        FixtureCase{"missing_schemaVersion", kFormat},
        FixtureCase{"missing_minimumBootstrapperVersion", kFormat},
        FixtureCase{"missing_payloads", kFormat}, FixtureCase{"missing_channels", kFormat},
        // sequence: a JSON integer of at least 1
        FixtureCase{"missing_sequence", kFormat}, FixtureCase{"sequence_zero", kFormat},
        FixtureCase{"sequence_float", kFormat}, FixtureCase{"sequence_max", kAccepted},
        // schemaVersion: truncated, booleans converted, large values never wrap to 1
        FixtureCase{"schema_2", kSchema}, FixtureCase{"schema_float_1_9", kAccepted},
        FixtureCase{"schema_float_0_99", kSchema}, FixtureCase{"schema_negative_fraction", kSchema},
        FixtureCase{"schema_true", kAccepted}, FixtureCase{"schema_false", kSchema},
        FixtureCase{"schema_string", kFormat}, FixtureCase{"schema_2_pow_32_plus_1", kSchema},
        FixtureCase{"schema_minus_2_pow_32_plus_1", kSchema},
        FixtureCase{"schema_huge_float", kSchema},
        FixtureCase{"schema_overflowing_number", kFormat},
        // minimumBootstrapperVersion
        FixtureCase{"min_version_older", kAccepted}, FixtureCase{"min_version_newer", kTooOld},
        FixtureCase{"min_version_empty", kTooOld}, FixtureCase{"min_version_malformed", kTooOld},
        FixtureCase{"min_version_number", kFormat},
        // the first failing check decides
        FixtureCase{"order_schema_before_version", kSchema},
        FixtureCase{"order_version_before_channel", kTooOld},
        FixtureCase{"order_payload_missing_before_fields", kNoPayload},
        FixtureCase{"order_fields_before_publisher", kUnsafe},
        // channels
        FixtureCase{"channels_empty_object", kNoChannel},
        FixtureCase{"channels_empty_array", kNoChannel}, FixtureCase{"channels_null", kNoChannel},
        FixtureCase{"channels_nonempty_array", kFormat}, FixtureCase{"channels_string", kFormat},
        FixtureCase{"channel_other_case_only", kNoChannel},
        FixtureCase{"channel_value_null", kFormat},
        FixtureCase{"channel_maps_to_unknown", kNoPayload},
        FixtureCase{"channel_maps_to_other_case", kNoPayload},
        // payloads
        FixtureCase{"payloads_empty_object", kNoPayload},
        FixtureCase{"payloads_empty_array", kNoPayload}, FixtureCase{"payloads_null", kNoPayload},
        FixtureCase{"payloads_nonempty_array", kFormat}, FixtureCase{"payloads_string", kFormat},
        FixtureCase{"payload_value_array", kFormat}, FixtureCase{"payload_value_null", kFormat},
        FixtureCase{"selected_missing_version", kFormat},
        FixtureCase{"selected_missing_architecture", kFormat},
        FixtureCase{"selected_missing_mode", kFormat}, FixtureCase{"selected_missing_url", kFormat},
        FixtureCase{"selected_missing_sha256", kFormat},
        FixtureCase{"selected_missing_publisher", kFormat},
        FixtureCase{"selected_missing_size", kFormat},
        // entries no channel selects: layout checked, field rules not
        FixtureCase{"unselected_breaks_field_rules", kAccepted},
        FixtureCase{"unselected_missing_member", kFormat},
        FixtureCase{"unselected_size_string", kFormat},
        FixtureCase{"unselected_payload_not_object", kFormat},
        FixtureCase{"unselected_channel_value_number", kFormat},
        // field rules of the selected entry
        FixtureCase{"architecture_upper", kUnsafe}, FixtureCase{"architecture_x86", kUnsafe},
        FixtureCase{"mode_capitalised", kUnsafe}, FixtureCase{"mode_online", kUnsafe},
        FixtureCase{"url_http", kUnsafe}, FixtureCase{"url_scheme_upper", kUnsafe},
        FixtureCase{"url_leading_space", kUnsafe}, FixtureCase{"url_line_feed", kUnsafe},
        FixtureCase{"url_carriage_return", kUnsafe}, FixtureCase{"url_scheme_only", kAccepted},
        // mirrors: optional, an array of strings, each held to the url's rule
        FixtureCase{"mirrors_valid", kAccepted}, FixtureCase{"mirrors_http", kUnsafe},
        FixtureCase{"mirrors_string", kFormat}, FixtureCase{"mirrors_number_entry", kFormat},
        FixtureCase{"sha256_63", kUnsafe}, FixtureCase{"sha256_65", kUnsafe},
        FixtureCase{"sha256_non_hex", kUnsafe}, FixtureCase{"sha256_fullwidth_digit", kUnsafe},
        FixtureCase{"sha256_upper", kAccepted}, FixtureCase{"version_empty", kUnsafe},
        FixtureCase{"version_malformed", kUnsafe}, FixtureCase{"version_zero", kAccepted},
        // size: integers and floats, not booleans or strings; negative integers wrap
        FixtureCase{"size_zero", kUnsafe}, FixtureCase{"size_string", kFormat},
        FixtureCase{"size_true", kFormat}, FixtureCase{"size_float", kAccepted},
        FixtureCase{"size_fraction", kAccepted}, FixtureCase{"size_below_one", kUnsafe},
        FixtureCase{"size_negative", kAccepted, L"lumora-x64", kMax},
        FixtureCase{"size_negative_float", kAccepted, L"lumora-x64", kMax - 1},
        FixtureCase{"size_max", kAccepted, L"lumora-x64", kMax},
        FixtureCase{"size_2_pow_64", kFormat}, FixtureCase{"size_huge_float", kFormat},
        // publisher: ASCII letter case only
        FixtureCase{"publisher_empty", kUnsafe}, FixtureCase{"publisher_upper", kAccepted},
        FixtureCase{"publisher_other", kUntrusted},
        FixtureCase{"publisher_trailing_space", kUntrusted},
        FixtureCase{"publisher_without_dot", kUntrusted},
        FixtureCase{"publisher_kelvin_sign", kUntrusted},
        FixtureCase{"publisher_fullwidth_letter", kUntrusted},
        // repeated member names: the last value counts
        FixtureCase{"repeated_size_last_valid", kAccepted, L"lumora-x64", 654321},
        FixtureCase{"repeated_size_last_zero", kUnsafe},
        FixtureCase{"repeated_channel_last_valid", kAccepted},
        FixtureCase{"repeated_channel_last_missing", kNoPayload},
        FixtureCase{"repeated_schema_last_2", kSchema},
        // text encoding
        FixtureCase{"chinese_payload_name", kAccepted, L"鲁莫拉-x64"},
        FixtureCase{"chinese_unselected_channel", kAccepted},
        FixtureCase{"escaped_nul_in_name", kAccepted},
        FixtureCase{"invalid_utf8_in_value", kFormat},
        FixtureCase{"invalid_utf8_in_member_name", kFormat},
        FixtureCase{"invalid_utf8_in_payload_name", kFormat},
        FixtureCase{"invalid_utf8_in_ignored_member", kFormat},
        FixtureCase{"invalid_utf8_surrogate", kFormat},
        FixtureCase{"lone_surrogate_escape", kFormat}));

TEST(ParseManifestTest, FillsEveryField) {
  Manifest manifest;
  std::wstring message = L"stale";
  ASSERT_TRUE(ParseManifest(ReadFixture("valid"), manifest, message));
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(manifest.schemaVersion, 1);
  EXPECT_EQ(manifest.minimumBootstrapperVersion, L"1.0.0");
  ASSERT_EQ(manifest.payloads.size(), 1u);
  const PayloadInfo& entry = manifest.payloads.at(L"lumora-x64");
  EXPECT_EQ(entry.name, L"lumora-x64");
  EXPECT_EQ(entry.version, L"2.3.1");
  EXPECT_EQ(entry.architecture, L"x64");
  EXPECT_EQ(entry.mode, L"bundled");
  EXPECT_EQ(entry.url, L"https://localhost:8443/storage/VIVOV3_Setup_x64.exe");
  EXPECT_EQ(entry.sha256, L"3f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9f");
  EXPECT_EQ(entry.publisher, kTrustedPublisher);
  EXPECT_EQ(entry.size, 123456u);
  EXPECT_EQ(manifest.channels.size(), 2u);
  EXPECT_EQ(manifest.channels.at(L"baidu2"), L"lumora-x64");
}

TEST(ParseManifestTest, KeepsEmbeddedNulAndNonAsciiNames) {
  Manifest manifest;
  std::wstring message;
  ASSERT_TRUE(ParseManifest(ReadFixture("escaped_nul_in_name"), manifest, message));
  EXPECT_EQ(manifest.channels.count(std::wstring(L"bai\0du2", 7)), 1u);
  ASSERT_TRUE(ParseManifest(ReadFixture("chinese_payload_name"), manifest, message));
  EXPECT_EQ(manifest.payloads.count(L"鲁莫拉-x64"), 1u);
  EXPECT_EQ(manifest.channels.at(L"guanwang"), L"鲁莫拉-x64");
}

TEST(ParseManifestTest, FailureLeavesThePreviousResultAlone) {
  Manifest manifest;
  std::wstring message;
  ASSERT_TRUE(ParseManifest(ReadFixture("valid"), manifest, message));
  // A document that fails part-way through its entries leaves nothing of itself behind.
  EXPECT_FALSE(ParseManifest(ReadFixture("unselected_size_string"), manifest, message));
  EXPECT_EQ(test::Printable(message), test::Printable(kFormat));
  EXPECT_EQ(manifest.payloads.size(), 1u);
  EXPECT_EQ(manifest.channels.size(), 2u);
}

TEST(ValidateManifestTest, CopiesTheSelectedEntryAndClearsTheMessage) {
  Manifest manifest;
  std::wstring message;
  ASSERT_TRUE(ParseManifest(ReadFixture("unselected_breaks_field_rules"), manifest, message));
  PayloadInfo payload;
  message = L"stale";
  ASSERT_TRUE(ValidateManifest(manifest, L"baidu2", kBootstrapperVersion, payload, message));
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(payload.name, L"lumora-x64");
  EXPECT_EQ(payload.publisher, kTrustedPublisher);
  // A newer bootstrapper may use a manifest that an older one must refuse.
  manifest.minimumBootstrapperVersion = L"1.5";
  EXPECT_FALSE(ValidateManifest(manifest, L"baidu2", L"1.0.0", payload, message));
  EXPECT_EQ(test::Printable(message), test::Printable(kTooOld));
  EXPECT_TRUE(ValidateManifest(manifest, L"baidu2", L"1.5.0", payload, message));
}

TEST(IsSecureDownloadUrlTest, Rules) {
  const std::pair<std::wstring, bool> table[] = {
      {L"https://a", true},
      {L"https://", true},
      {L"https:/", false},
      {L"", false},
      {L"http://localhost/a.exe", false},
      {L"Https://localhost/a.exe", false},
      {L"\thttps://localhost/a.exe", false},
      {L"https://localhost/a.exe\n", false},
      {L"https://local\rhost/a.exe", false},
      {L"https://localhost/a b.exe?x=%0A", true},  // only raw control characters count
      {std::wstring(L"https://a\0b", 11), true},
  };
  for (const auto& [url, secure] : table)
    EXPECT_EQ(IsSecureDownloadUrl(url), secure) << test::Printable(url);
}

TEST(IsTrustedPublisherTest, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(IsTrustedPublisher(kTrustedPublisher));
  EXPECT_TRUE(IsTrustedPublisher(L"velmont harbor network technology co., ltd."));
  EXPECT_TRUE(IsTrustedPublisher(L"VELMONT HARBOR NETWORK TECHNOLOGY CO., LTD."));
  EXPECT_FALSE(IsTrustedPublisher(L""));
  EXPECT_FALSE(IsTrustedPublisher(L"Velmont Harbor Network Technology Co., Ltd"));
  EXPECT_FALSE(IsTrustedPublisher(L"Velmont Harbor Network Technology Co., Ltd.."));
  EXPECT_FALSE(IsTrustedPublisher(L"Velmont Harbor Network Technology Co.; Ltd."));
  // Folding by setting bit 5 would take NUL for a space and U+000C for a comma; U+212A KELVIN
  // SIGN folds to 'k' only outside ASCII.
  EXPECT_FALSE(
      IsTrustedPublisher(std::wstring(L"Velmont\0Harbor Network Technology Co., Ltd.", 43)));
  EXPECT_FALSE(IsTrustedPublisher(L"Velmont Harbor Network Technology Co.\x0C Ltd."));
  EXPECT_FALSE(IsTrustedPublisher(L"Velmont Harbor Networ\u212A Technology Co., Ltd."));
}

TEST(Utf8ToWideTest, ConvertsStrictly) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("abc"), L"abc");
  EXPECT_EQ(Utf8ToWide("\xE6\xB8\xA0\xE9\x81\x93"), L"渠道");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8E\xB5"), L"\U0001F3B5");  // a surrogate pair
  EXPECT_EQ(Utf8ToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
  for (const char* bad : {"\xFF", "abc\xC3", "\xC3\x28", "\xE6\xB8", "\x80", "\xC0\xAF",
                          "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
    try {
      static_cast<void>(Utf8ToWide(bad));
      ADD_FAILURE() << "accepted invalid UTF-8";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "invalid utf-8");
    }
  }
}

}  // namespace
}  // namespace lum::installer
