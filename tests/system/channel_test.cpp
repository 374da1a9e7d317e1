#include "system/channel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

struct ChannelCase {
  std::string bytes;
  bool accepted;
  std::wstring channel;
};

TEST(ChannelTextTest, AcceptsOnlyAllowedChannelsAsTheyStand) {
  const ChannelCase cases[] = {
      {"baidu2", true, L"baidu2"},
      {"BAIDU2", true, L"baidu2"},
      {"Bing", true, L"bing"},
      {"360", true, L"360"},
      {"guanwang", true, L"guanwang"},
      {"baidu2\n", false, L""},
      {"baidu2\r\n", false, L""},
      {"\xEF\xBB\xBF"
       "baidu2",
       false, L""},
      {" baidu2", false, L""},
      {"baidu3", false, L""},
      {std::string("bing\0", 5), false, L""},
      {"baid\xC3\x28", false, L""},              // invalid UTF-8 sequence
      {"bing\xFF", false, L""},                  // byte that never occurs in UTF-8
      {"\xE5\xBE\xAE\xE8\xBD\xAF", false, L""},  // well-formed, but not on the list
  };
  for (const ChannelCase& c : cases) {
    std::wstring output = L"unchanged";
    EXPECT_EQ(ParseChannelText(c.bytes.data(), c.bytes.size(), &output), c.accepted) << c.bytes;
    EXPECT_EQ(output, c.accepted ? c.channel : L"unchanged") << c.bytes;
  }
}

TEST(ChannelTextTest, EveryListedChannelIsAcceptedInAnyCase) {
  ASSERT_EQ(KnownChannels().size(), 18u);
  EXPECT_EQ(KnownChannels().front(), L"guanwang");
  for (const std::wstring& channel : KnownChannels()) {
    std::string upper(channel.begin(), channel.end());
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::wstring output;
    EXPECT_TRUE(ParseChannelText(upper.data(), upper.size(), &output)) << upper;
    EXPECT_EQ(output, channel);
  }
}

// A resource longer than 64 bytes is refused before a byte of it is read: 65 bytes right before
// memory that cannot be read are harmless, and 64 readable ones are read.
TEST(ChannelTextTest, SixtyFiveBytesAreRefusedUnread) {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const DWORD page = system.dwPageSize;
  auto* memory =
      static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(memory, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &old));
  char* last64 = memory + page - 64;
  std::memcpy(last64, "baidu2", 6);
  std::memset(last64 + 6, 'x', 58);
  std::wstring output;
  // Reading any of these would fault: the whole suite would die here.
  EXPECT_FALSE(ParseChannelText(memory + page, 65, &output));
  EXPECT_FALSE(ParseChannelText(memory + page, 1000, &output));
  EXPECT_FALSE(ParseChannelText(last64, 64, &output));
  EXPECT_TRUE(output.empty());
  VirtualFree(memory, 0, MEM_RELEASE);
}

TEST(ChannelTextTest, LengthLimitsAndMissingArguments) {
  std::wstring output;
  const std::string sixtyFour(64, 'a');
  const std::string sixtyFive(65, 'a');
  EXPECT_FALSE(ParseChannelText(sixtyFour.data(), sixtyFour.size(), &output));
  EXPECT_FALSE(ParseChannelText(sixtyFive.data(), sixtyFive.size(), &output));
  // 65 bytes whose first six name a channel: refused before it is looked at.
  const std::string longBing = "baidu2" + std::string(59, ' ');
  EXPECT_FALSE(ParseChannelText(longBing.data(), longBing.size(), &output));
  EXPECT_FALSE(ParseChannelText("bing", 0, &output));
  EXPECT_FALSE(ParseChannelText("bing", 4, nullptr));
  EXPECT_FALSE(ParseChannelText(nullptr, 4, &output));
  EXPECT_TRUE(output.empty());
}

struct ClickCase {
  const wchar_t* channel;
  const wchar_t* fileName;
  const wchar_t* clickId;
};

TEST(BingClickIdTest, FileNameExamples) {
  const ClickCase cases[] = {
      {L"bing", L"setup-Ab12.exe", L"Ab12"},
      {L"bing", L"VIVOV3_setup-Ab12.exe", L"Ab12"},
      {L"bing", L"Step-XY9.EXE", L"XY9"},
      {L"bing", L"step-a-setup-b.exe", L"b"},
      {L"bing", L"setup-step-Q1.exe", L"Q1"},
      {L"bing", L"SETUP-mIxEd9.Exe", L"mIxEd9"},
      {L"bing", L"setup-ab_12.exe", L""},
      {L"bing", L"setup-Ab12 (1).exe", L""},
      {L"bing", L"setup-Ab12.exe.exe", L""},
      {L"bing", L"setup-.exe", L""},
      {L"bing", L"step-.exe", L""},
      {L"bing", L"installer.exe", L""},
      {L"bing", L"setup-ab-12.exe", L""},
      {L"bing", L"setup-Ab12", L""},
      {L"bing", L"setup-Ab12.ex", L""},
      {L"bing", L".exe", L""},
      {L"bing", L"", L""},
      {L"bing", L"setup-\u00C4b.exe", L""},       // a letter, but not ASCII
      {L"bing", L"setup-\uFF11\uFF12.exe", L""},  // full-width digits
      {L"baidu2", L"setup-Ab12.exe", L""},
      {L"Bing", L"setup-Ab12.exe", L""},
      {L"", L"setup-Ab12.exe", L""},
  };
  for (const ClickCase& c : cases) {
    EXPECT_EQ(ExtractBingClickId(c.channel, c.fileName), c.clickId)
        << std::filesystem::path(c.fileName).string() << " / "
        << std::filesystem::path(c.channel).string();
  }
}

TEST(OwnExecutableTest, FileNameAndMissingResource) {
  EXPECT_EQ(OwnExecutableFileName(), L"channel_tests.exe");
  EXPECT_EQ(ResolveBingClickId(L"bing"), L"");
  // This test program carries no RCDATA 104.
  EXPECT_EQ(ReadEmbeddedChannel(), L"guanwang");
}

// The shipped executable, loaded as data: its channel resource holds exactly the configured
// bytes, language neutral, and reads back as that channel.
TEST(EmbeddedChannelTest, ShippedExecutableCarriesTheConfiguredChannel) {
  const std::wstring exe = test::OwnDirectory() + L"\\..\\app\\LumoraWebSetup.exe";
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << GetLastError();
  HRSRC resource = FindResourceExW(module, RT_RCDATA, MAKEINTRESOURCEW(kChannelResourceId),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(resource, nullptr);
  const DWORD size = SizeofResource(module, resource);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(bytes, size), LUM_TEST_CHANNEL);
  std::wstring expected;
  ASSERT_TRUE(ParseChannelText(LUM_TEST_CHANNEL, std::strlen(LUM_TEST_CHANNEL), &expected));
  EXPECT_EQ(ReadEmbeddedChannelFrom(module), expected);
  FreeLibrary(module);
}

class ChannelProbeTest : public ::testing::Test {
 protected:
  static std::wstring ProbePath() { return test::OwnDirectory() + L"\\channel_probe.exe"; }

  // Copies the probe to folder\name, optionally with its RCDATA 104 replaced.
  static std::wstring Copy(const std::wstring& folder, const std::wstring& name,
                           const std::string* resource) {
    const std::wstring target = folder + L"\\" + name;
    EXPECT_TRUE(CopyFileW(ProbePath().c_str(), target.c_str(), FALSE)) << GetLastError();
    if (resource != nullptr) {
      HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
      EXPECT_NE(update, nullptr) << GetLastError();
      EXPECT_TRUE(UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(kChannelResourceId),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                  const_cast<char*>(resource->data()),
                                  static_cast<DWORD>(resource->size())));
      EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
    }
    return target;
  }

  static std::string Run(const std::wstring& exe) {
    test::ChildProcess child;
    EXPECT_TRUE(child.Start(exe, L"", true)) << GetLastError();
    std::string output = child.ReadOutput();
    EXPECT_EQ(child.Wait(30000), 0u);
    return output;
  }
};

TEST_F(ChannelProbeTest, ResourceContentDecidesTheChannel) {
  const std::wstring folder = test::FreshScratchDirectory(L"channel resource");
  const std::pair<std::string, std::string> cases[] = {
      {"BING", "bing"},
      {"baidu2", "baidu2"},
      {"baidu2\n", "guanwang"},
      {"\xEF\xBB\xBF"
       "bing",
       "guanwang"},
      {std::string(65, 'b'), "guanwang"},
      {"tianji2", "tianji2"},
      {"unknown", "guanwang"},
  };
  int n = 0;
  for (const auto& [content, channel] : cases) {
    const std::wstring exe = Copy(folder, L"probe" + std::to_wstring(n++) + L".exe", &content);
    EXPECT_EQ(Run(exe), channel + "|probe" + std::to_string(n - 1) + ".exe|") << content;
  }
  // No resource at all.
  EXPECT_EQ(Run(Copy(folder, L"plain.exe", nullptr)), "guanwang|plain.exe|");
}

// Wine cannot start a program whose path is longer than MAX_PATH, so the longest path tried
// here is 259 units: the whole of a 260-unit buffer but its terminator, which the reader takes
// for a cut-off result and reads again into a larger buffer.
TEST_F(ChannelProbeTest, ClickIdComesFromTheFileNameAtTheLongestPath) {
  const std::wstring name = L"LumoraWebSetup_setup-Ab12.exe";
  std::wstring folder = test::FreshScratchDirectory(L"deep");
  ASSERT_LT(folder.size() + 1 + name.size(), 259u);
  folder += L"\\" + std::wstring(259 - folder.size() - 2 - name.size(), L'd');
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  const std::wstring exe = Copy(folder, name, nullptr);
  ASSERT_EQ(exe.size(), 259u);
  EXPECT_EQ(Run(exe), "guanwang|" + std::string(name.begin(), name.end()) + "|Ab12");
}

}  // namespace
}  // namespace lum::installer
