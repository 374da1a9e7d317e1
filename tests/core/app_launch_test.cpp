// Starting the installed application through Wine's desktop shell (explorer).
#include "core/app_launch.h"

#include <exdisp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "base/handles.h"
#include "core/installer_controller.h"
#include "core/package_installer.h"
#include "system/install_location.h"
#include "system/process_control.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

constexpr DWORD kLaunchTimeoutMs = 30000;

// Wine starts its desktop shell (explorer) when a process first uses the desktop, and the shell
// registers its automation objects a moment later; on Windows it is simply always there.
bool WaitForDesktopShell() {
  GetDesktopWindow();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    ComPtr<IShellWindows> windows;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                   IID_IShellWindows, windows.PutVoid()))) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(100);
  }
}

class AppLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The window thread's apartment, as at start-up.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    scratch = test::FreshScratchDirectory(L"app launch");
    ASSERT_FALSE(IsApplicationRunning(kApplicationExeName));
  }
  void TearDown() override {
    EXPECT_TRUE(TerminateApplication(kApplicationExeName));
    test::UninstallEntry::RemoveAll();
    test::RemoveTree(scratch);
    CoUninitialize();
  }

  void RegisterInstallation(const std::wstring& location) {
    registry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"2.0.0");
    registry.SetString(KEY_WOW64_64KEY, L"InstallLocation", location);
  }

  test::UninstallEntry registry;
  std::wstring scratch;
};

TEST_F(AppLaunchTest, NoUninstallEntry) {
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  std::wstring message;
  EXPECT_FALSE(controller.LaunchInstalledApplication(message));
  EXPECT_EQ(message, L"找不到已安装的LumoraMP3转换器");
}

TEST_F(AppLaunchTest, EntryWithoutARunnableExecutable) {
  const std::wstring folder = JoinPath(scratch, L"VIVOV3 empty");
  CreateDirectoryW(folder.c_str(), nullptr);
  RegisterInstallation(folder);
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  std::wstring message;
  EXPECT_FALSE(controller.LaunchInstalledApplication(message));
  EXPECT_EQ(message, L"无法启动LumoraMP3转换器");

  // A folder of that name is not a program either.
  CreateDirectoryW(JoinPath(folder, kApplicationExeName).c_str(), nullptr);
  message.clear();
  EXPECT_FALSE(controller.LaunchInstalledApplication(message));
  EXPECT_EQ(message, L"无法启动LumoraMP3转换器");

  message.clear();
  EXPECT_FALSE(LaunchAsDesktopUser(JoinPath(scratch, L"missing\\lumora.exe"), message));
  EXPECT_EQ(message, L"无法启动LumoraMP3转换器");
}

TEST_F(AppLaunchTest, InstalledApplicationIsStartedByTheShellInItsFolder) {
  // Made before the installation: the launch must read the entry afresh.
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
  ASSERT_FALSE(controller.InstalledApp().found);

  InstallOptions options;
  options.channelId = L"baidu2";
  options.installDirectory = JoinPath(scratch, L"Lumora 安装");
  options.desktopShortcut = false;
  options.startMenuShortcut = false;
  std::uint32_t exitCode = 1;
  std::wstring message;
  ASSERT_TRUE(RunPackageInstaller(test::ArtifactPath(kPackageFileName),
                                  BuildInstallerArguments(options), exitCode, message));
  ASSERT_EQ(exitCode, 0u);

  ASSERT_TRUE(WaitForDesktopShell()) << "no desktop shell in the test prefix";
  ASSERT_TRUE(controller.LaunchInstalledApplication(message)) << testing::PrintToString(message);
  const std::wstring markerPath = JoinPath(options.installDirectory, test::kDefaultMarkerName);
  ASSERT_TRUE(test::WaitForFile(markerPath, kLaunchTimeoutMs)) << "the application did not start";
  test::DemoAppMarker marker;
  ASSERT_TRUE(test::ReadDemoAppMarker(markerPath, marker));
  test::DemoAppProcess launched;
  ASSERT_TRUE(launched.Attach(marker.processId));
  EXPECT_EQ(FindProcessesByName(kApplicationExeName), std::vector<DWORD>{marker.processId});
  // Started in its own folder, without arguments.
  EXPECT_EQ(_wcsicmp(marker.currentDirectory.c_str(), options.installDirectory.c_str()), 0)
      << testing::PrintToString(marker.currentDirectory);
  EXPECT_NE(marker.commandLine.find(L"lumora.exe"), std::wstring::npos);
  EXPECT_EQ(marker.commandLine.find(L"--"), std::wstring::npos);
  // Wine runs everything with the same rights: that the shell drops elevation cannot be
  // observed here.
}

}  // namespace
}  // namespace lum::installer
