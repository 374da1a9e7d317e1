#include "core/installer_controller.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/support/registry_fixture.h"

namespace lum::installer {
namespace {

TEST(InstallerControllerTest, StartsWithWelcomeAndNoPayload) {
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  const InstallerStatus status = controller.CurrentStatus();
  EXPECT_EQ(status.stage, InstallStage::Welcome);
  EXPECT_EQ(status.progress, 0);
  EXPECT_TRUE(status.message.empty());
  EXPECT_TRUE(status.errorCode.empty());
  EXPECT_FALSE(controller.CurrentPayload().has_value());
  EXPECT_EQ(controller.ChannelId(), L"baidu2");
}

TEST(InstallerControllerTest, PublishStatusStoresAndDeliversOutsideTheLock) {
  InstallerController* self = nullptr;
  std::vector<InstallerStatus> seen;
  InstallerController controller(
      L"bing", L"https://localhost/",
      [&](const InstallerStatus& status) {
        seen.push_back(status);
        // Reading the state again from the callback must not deadlock.
        EXPECT_EQ(self->CurrentStatus().stage, status.stage);
      },
      nullptr);
  self = &controller;
  controller.PublishStatus(InstallStage::Downloading, 42, L"正在安装", L"");
  controller.PublishStatus(InstallStage::Failed, 0, L"安装已取消", L"E_CANCELLED");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].stage, InstallStage::Downloading);
  EXPECT_EQ(seen[0].progress, 42);
  EXPECT_EQ(seen[0].message, L"正在安装");
  EXPECT_EQ(seen[1].errorCode, L"E_CANCELLED");
  const InstallerStatus last = controller.CurrentStatus();
  EXPECT_EQ(last.stage, InstallStage::Failed);
  EXPECT_EQ(last.message, L"安装已取消");
}

TEST(InstallerControllerTest, AStatusEqualToTheLastIsNotPassedOnUnlessAlways) {
  std::vector<InstallerStatus> seen;
  InstallerController controller(
      L"bing", L"https://localhost/",
      [&](const InstallerStatus& status) { seen.push_back(status); }, nullptr);
  using Publish = InstallerController::Publish;
  const struct {
    InstallStage stage;
    int progress;
    const wchar_t* message;
    const wchar_t* code;
    Publish when;
    bool passed;
  } steps[] = {
      {InstallStage::Welcome, 0, L"", L"", Publish::Changes, false},  // the initial status
      {InstallStage::Downloading, 0, L"正在安装", L"", Publish::Changes, true},
      {InstallStage::Downloading, 0, L"正在安装", L"", Publish::Changes, false},
      {InstallStage::Downloading, 0, L"正在安装", L"", Publish::Always, true},
      {InstallStage::Downloading, 1, L"正在安装", L"", Publish::Changes, true},
      {InstallStage::Verifying, 1, L"正在安装", L"", Publish::Changes, true},
      {InstallStage::Verifying, 1, L"正在校验", L"", Publish::Changes, true},
      {InstallStage::Verifying, 1, L"正在校验", L"E_VERIFY", Publish::Changes, true},
  };
  for (const auto& step : steps) {
    const std::size_t before = seen.size();
    controller.PublishStatus(step.stage, step.progress, step.message, step.code, step.when);
    EXPECT_EQ(seen.size() - before, step.passed ? 1u : 0u) << step.progress << " " << step.code;
    EXPECT_EQ(controller.CurrentStatus(),
              (InstallerStatus{step.stage, step.progress, step.message, step.code}));
  }
}

TEST(InstallerControllerTest, PublishWithoutCallbackOnlyStores) {
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  controller.PublishStatus(InstallStage::Verifying, 90, L"正在安装", L"");
  EXPECT_EQ(controller.CurrentStatus().progress, 90);
}

TEST(InstallerControllerTest, BusyStages) {
  const std::pair<int, bool> table[] = {{0, false},  {1, false}, {2, true},  {3, true},
                                        {4, true},   {5, true},  {6, false}, {7, false},
                                        {-1, false}, {8, false}};
  for (const auto& [value, busy] : table) {
    EXPECT_EQ(IsBusyStage(static_cast<InstallStage>(value)), busy) << value;
  }
}

TEST(InstallerControllerTest, ProposedDirectoryFollowsTheInstalledEntry) {
  test::UninstallEntry entry;
  {
    InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
    EXPECT_FALSE(controller.InstalledApp().found);
    EXPECT_EQ(controller.ProposedInstallDirectory(), L"C:\\Program Files\\VIVOV3");
  }
  entry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"1.0.0");
  entry.SetString(KEY_WOW64_64KEY, L"InstallLocation", L"D:\\Tools\\Lumora\\");
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  // Taken exactly as stored: nothing appended, nothing normalised.
  EXPECT_EQ(controller.ProposedInstallDirectory(), L"D:\\Tools\\Lumora\\");
  // Read once at construction: later registry changes do not show.
  test::UninstallEntry::RemoveAll();
  EXPECT_EQ(controller.ProposedInstallDirectory(), L"D:\\Tools\\Lumora\\");
}

}  // namespace
}  // namespace lum::installer
