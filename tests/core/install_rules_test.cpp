// The workflow's pure rules, table by table.
#include "core/install_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/package_installer.h"

namespace lum::installer {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kSignedMax = std::numeric_limits<std::int64_t>::max();

TEST(InstallRulesTest, RequiredSpaceIsTwiceThePackageUpToTheCap) {
  const std::pair<std::uint64_t, std::uint64_t> table[] = {
      {1, 2},
      {294649856, 589299712},
      {kSignedMax, kMax - 1},  // the largest size that still doubles
      {kSignedMax + 1, kMax},  // doubling would wrap: all ones instead
      {kMax, kMax},
  };
  for (const auto& [size, required] : table) EXPECT_EQ(RequiredSpace(size), required) << size;
}

TEST(InstallRulesTest, DownloadPercentHoldsBelow85UntilTheEnd) {
  struct Row {
    std::uint64_t done, total;
    std::int32_t percent;
  };
  const Row table[] = {
      {0, 0, 0},     {5, 0, 0},      {0, 100, 0},    {1, 100, 0},          {50, 100, 42},
      {99, 100, 84}, {100, 100, 85}, {101, 100, 85}, {kMax - 1, kMax, 84}, {kMax, kMax, 85},
  };
  for (const Row& row : table) {
    EXPECT_EQ(DownloadPercent(row.done, row.total), row.percent) << row.done << "/" << row.total;
  }
}

TEST(InstallRulesTest, FailedPackageRunsAreClassifiedByExitCodeThenExactText) {
  struct Row {
    std::uint32_t exitCode;
    const wchar_t* message;
    const wchar_t* code;
    const wchar_t* text;
  };
  const Row table[] = {
      {2, L"", L"E_DISK_SPACE", L"磁盘空间不足，请更换安装目录"},
      {2, kUacRefusedText, L"E_DISK_SPACE", L"磁盘空间不足，请更换安装目录"},
      {0, kUacRefusedText, L"E_UAC", L"未获得安装权限，请重新授权"},
      {0, L"用户取消了管理员授权 ", L"E_INSTALL", L"安装失败，请稍后重试"},
      {0, L"无法启动完整安装包", L"E_INSTALL", L"安装失败，请稍后重试"},
      {3, L"", L"E_INSTALL", L"安装失败，请稍后重试"},
      {1223, L"安装已取消", L"E_INSTALL", L"安装失败，请稍后重试"},
  };
  for (const Row& row : table) {
    const PackageFailure failure = ClassifyPackageFailure(row.exitCode, row.message);
    EXPECT_STREQ(failure.errorCode, row.code) << row.exitCode;
    EXPECT_STREQ(failure.text, row.text) << row.exitCode;
  }
}

}  // namespace
}  // namespace lum::installer
