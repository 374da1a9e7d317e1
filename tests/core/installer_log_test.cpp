#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/installer_controller.h"
#include "core/installer_log.h"
#include "base/text.h"
#include "tests/support/test_env.h"
#include "tests/support/unix_side.h"

namespace lum::installer {
namespace {

class InstallerLogTest : public testing::Test {
 protected:
  void SetUp() override {
    logPath = JoinPath(CacheDirectory(), kLogFileName);
    test::RemoveTree(CacheDirectory());
  }
  void TearDown() override { test::RemoveTree(CacheDirectory()); }

  InstallerController controller{L"baidu2", L"https://localhost/", nullptr, nullptr};
  std::wstring logPath;
};

TEST_F(InstallerLogTest, CreatesFolderAndWritesExactLayout) {
  ASSERT_FALSE(test::PathExists(CacheDirectory()));
  controller.WriteLog(L"complete", L"elapsed_seconds=42");
  const std::string text = test::ReadFileBytes(logPath);
  const std::regex layout(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \[complete\] elapsed_seconds=42\r\n)");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;

  SYSTEMTIME now{};
  GetLocalTime(&now);
  char year[8];
  snprintf(year, sizeof(year), "%04u-", now.wYear);
  EXPECT_EQ(text.rfind(year, 0), 0u) << "local date first";
}

TEST_F(InstallerLogTest, AppendsAcrossRunsAndKeepsEarlierLines) {
  controller.WriteLog(L"cache", L"validated payload reused");
  {
    // A second controller stands for a second run of the program.
    InstallerController second(L"baidu2", L"https://localhost/", nullptr, nullptr);
    second.WriteLog(L"complete", L"elapsed_seconds=7");
  }
  controller.WriteLog(L"install", L"NSIS exit code 3");
  const std::string text = test::ReadFileBytes(logPath);
  const std::regex layout(R"([0-9: -]{19} \[cache\] validated payload reused\r\n)"
                          R"([0-9: -]{19} \[complete\] elapsed_seconds=7\r\n)"
                          R"([0-9: -]{19} \[install\] NSIS exit code 3\r\n)");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

TEST_F(InstallerLogTest, NonAsciiMessageIsWrittenAsUtf8) {
  controller.WriteLog(L"verify", L"安装包大小校验失败");
  const std::string text = test::ReadFileBytes(logPath);
  EXPECT_NE(text.find(" [verify] \xE5\xAE\x89\xE8\xA3\x85\xE5\x8C\x85"), std::string::npos) << text;
}

TEST_F(InstallerLogTest, ReadOnlyLogIsSkippedSilently) {
  controller.WriteLog(L"cache", L"first");
  const std::string before = test::ReadFileBytes(logPath);
  ASSERT_TRUE(SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_READONLY));
  controller.WriteLog(L"cache", L"second");
  EXPECT_EQ(test::ReadFileBytes(logPath), before);
  SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InstallerLogTest, LockedLogIsSkippedSilently) {
  controller.WriteLog(L"cache", L"first");
  const std::string before = test::ReadFileBytes(logPath);
  HANDLE exclusive =
      CreateFileW(logPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  controller.WriteLog(L"cache", L"second");
  CloseHandle(exclusive);
  EXPECT_EQ(test::ReadFileBytes(logPath), before);
}

TEST_F(InstallerLogTest, OthersMayReadAndWriteTheLogMeanwhile) {
  controller.WriteLog(L"cache", L"first");
  HANDLE other =
      CreateFileW(logPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  controller.WriteLog(L"cache", L"second");
  CloseHandle(other);
  EXPECT_NE(test::ReadFileBytes(logPath).find("[cache] second\r\n"), std::string::npos);
}

// Deferred (a windowed start): nothing until an installation starts, then the start-up lines first.
TEST_F(InstallerLogTest, DeferredUntilTheFirstInstallation) {
  DeferInstallerLog({{L"install", L"mode=windowed switches=(none)"}});
  controller.WriteLog(L"legal", L"waited");
  EXPECT_FALSE(test::PathExists(CacheDirectory()));
  BeginInstallerLog();
  BeginInstallerLog();  // a second installation writes the start-up lines no more
  const std::regex layout(R"([0-9: -]{19} \[install\] mode=windowed switches=\(none\)\r\n)"
                          R"([0-9: -]{19} \[legal\] waited\r\n)");
  const std::string text = test::ReadFileBytes(logPath);
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

// The administrator's copy is taken only where its path really leads, with no link on the way:
// nothing is written through a link, and a file the refused open made is gone again. Links are
// planted from the Unix side, as another process of the user could.
TEST_F(InstallerLogTest, LogCopyIsNeverWrittenThroughALink) {
  const std::wstring scratch = test::FreshScratchDirectory(L"log copy");
  const std::wstring target = scratch + L"\\target";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  test::WriteFileBytes(target + L"\\kept.log", "kept\r\n");
  test::SymbolicLink(target, scratch + L"\\linked");
  test::SymbolicLink(target + L"\\kept.log", scratch + L"\\file link.log");
  for (const wchar_t* name : {L"linked\\kept.log", L"linked\\new.log", L"file link.log"}) {
    std::wstring problem;
    EXPECT_FALSE(SetLogCopyFile(JoinPath(scratch, name), problem)) << WideToUtf8(name);
    EXPECT_EQ(problem.rfind(JoinPath(scratch, name) + L" leads to ", 0), 0u) << WideToUtf8(problem);
    controller.WriteLog(L"cache", L"not through a link");
  }
  EXPECT_EQ(test::ReadFileBytes(target + L"\\kept.log"), "kept\r\n");
  EXPECT_FALSE(test::PathExists(target + L"\\new.log"));

  // A plain file gets every line, the first one creating it.
  const std::wstring plain = scratch + L"\\plain.log";
  std::wstring problem;
  ASSERT_TRUE(SetLogCopyFile(plain, problem)) << WideToUtf8(problem);
  controller.WriteLog(L"cache", L"to both");
  EXPECT_TRUE(SetLogCopyFile(L"", problem));  // the copy ends
  controller.WriteLog(L"cache", L"to the log alone");
  EXPECT_EQ(test::ReadFileBytes(plain).substr(19), " [cache] to both\r\n");
  test::RemoveWithoutFollowing(scratch);
}

}  // namespace
}  // namespace lum::installer
