// The package command line, and real runs of the signed demo package (tools/demo_package).
#include "core/package_installer.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>

#include "system/install_location.h"
#include "system/process_control.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/package_record.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

// What the demo package leaves in the folder: its parameters, then $INSTDIR.
constexpr wchar_t kShortcutName[] = L"LumoraMP3转换器.lnk";
constexpr wchar_t kStartMenuFolder[] = L"LumoraMP3转换器";

TEST(SanitizeChannelIdTest, KeepsOnlyLowerCaseLettersDigitsDashAndUnderscore) {
  const std::pair<const wchar_t*, const wchar_t*> table[] = {
      {L"baidu2", L"baidu2"},    {L"bing", L"bing"},
      {L"a-b_c9", L"a-b_c9"},    {L"-", L"-"},
      {L"Baidu", L"guanwang"},   {L"BING", L"guanwang"},
      {L"", L"guanwang"},        {L"bai du", L"guanwang"},
      {L"baidu\t", L"guanwang"}, {L"baidu/x", L"guanwang"},
      {L"baidu!", L"guanwang"},  {L"b\u00e4idu", L"guanwang"},  // a letter, but not ASCII
      {L"百度", L"guanwang"},    {L"x /D=C:\\evil", L"guanwang"},
  };
  for (const auto& [channel, expected] : table) {
    EXPECT_EQ(SanitizeChannelId(channel), expected) << testing::PrintToString(channel);
  }
  EXPECT_EQ(SanitizeChannelId(std::wstring(L"baidu\0x", 7)), L"guanwang");
}

TEST(BuildInstallerArgumentsTest, SwitchesInOrderWithTheFolderLastAndUnquoted) {
  struct Row {
    const wchar_t* channel;
    const wchar_t* clickId;
    bool desktop;
    bool startMenu;
    const wchar_t* folder;
    const wchar_t* expected;
  };
  const Row table[] = {
      {L"baidu2", L"", true, true, L"C:\\Program Files\\VIVOV3",
       L"/S /CHANNEL=baidu2 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=C:\\Program "
       L"Files\\VIVOV3"},
      {L"bing", L"abc123", true, false, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing /BING_CLICK_ID=abc123 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=0 "
       L"/D=D:\\VIVOV3"},
      {L"bing", L"AbC123xyz", false, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing /BING_CLICK_ID=AbC123xyz /DESKTOP_SHORTCUT=0 /START_MENU_SHORTCUT=1 "
       L"/D=D:\\VIVOV3"},
      {L"bing", L"abc-123", false, false, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing /DESKTOP_SHORTCUT=0 /START_MENU_SHORTCUT=0 /D=D:\\VIVOV3"},
      {L"bing", L"abc 123", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      {L"bing", L"", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      // Only the channel "bing" itself, compared before sanitizing, gets the switch.
      {L"baidu2", L"abc123", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=baidu2 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      {L"Bing", L"abc123", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=guanwang /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      {L"bing2", L"abc123", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=bing2 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      {L"", L"", true, true, L"D:\\VIVOV3",
       L"/S /CHANNEL=guanwang /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 /D=D:\\VIVOV3"},
      {L"baidu2", L"", true, true, L"E:\\My Apps\\Lumora 转换器\\",
       L"/S /CHANNEL=baidu2 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=1 "
       L"/D=E:\\My Apps\\Lumora 转换器\\"},
  };
  for (const Row& row : table) {
    InstallOptions options;
    options.channelId = row.channel;
    options.bingClickId = row.clickId;
    options.desktopShortcut = row.desktop;
    options.startMenuShortcut = row.startMenu;
    options.installDirectory = row.folder;
    EXPECT_EQ(BuildInstallerArguments(options), row.expected)
        << testing::PrintToString(row.channel) << " " << testing::PrintToString(row.clickId);
  }
}

std::pair<std::wstring, std::wstring> ReadRecord(const std::wstring& folder) {
  const test::PackageRecord record = test::ReadPackageRecord(folder);
  return {record.parameters, record.installDirectory};
}

class PackageRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktopShortcut = JoinPath(KnownFolderPath(FOLDERID_PublicDesktop), kShortcutName);
    startMenuFolder = JoinPath(KnownFolderPath(FOLDERID_CommonPrograms), kStartMenuFolder);
    startMenuShortcut = JoinPath(startMenuFolder, kShortcutName);
    RemoveShortcuts();
    scratch = test::FreshScratchDirectory(L"package run");
    folder = JoinPath(scratch, L"Program Files 测试\\VIVOV3 App");
  }
  void TearDown() override {
    RemoveShortcuts();
    test::RemoveTree(scratch);
  }
  void RemoveShortcuts() {
    DeleteFileW(desktopShortcut.c_str());
    test::RemoveTree(startMenuFolder);
  }

  InstallOptions Options(const wchar_t* channel, bool desktop, bool startMenu) const {
    InstallOptions options;
    options.channelId = channel;
    options.bingClickId = L"abc123";
    options.desktopShortcut = desktop;
    options.startMenuShortcut = startMenu;
    options.installDirectory = folder;
    return options;
  }

  test::UninstallEntry registry;  // no entry before, none left after
  std::wstring desktopShortcut;
  std::wstring startMenuFolder;
  std::wstring startMenuShortcut;
  std::wstring scratch;
  std::wstring folder;
};

TEST_F(PackageRunTest, InstallsWithTheSwitchesItWasGiven) {
  struct Row {
    const wchar_t* channel;
    bool desktop;
    bool startMenu;
  };
  // A variable in the user-writable HKCU\Environment, which the desktop shell puts into every
  // program it starts, this process included: the elevated package does not get it.
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Environment", L"LUM_PLANTED", REG_SZ, L"1", 4),
            ERROR_SUCCESS);
  ASSERT_TRUE(SetEnvironmentVariableW(L"LUM_PLANTED", L"1"));
  for (const Row& row : {Row{L"bing", true, false}, Row{L"baidu2", false, true}}) {
    SCOPED_TRACE(testing::PrintToString(row.channel));
    RemoveShortcuts();
    test::UninstallEntry::RemoveAll();
    const std::wstring arguments =
        BuildInstallerArguments(Options(row.channel, row.desktop, row.startMenu));
    std::uint32_t exitCode = 77;
    std::wstring message;
    ASSERT_TRUE(
        RunPackageInstaller(test::ArtifactPath(kPackageFileName), arguments, exitCode, message))
        << testing::PrintToString(message);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(message.empty());

    // The package saw exactly the line it was given; NSIS itself takes " /D=..." off it.
    const auto [parameters, installDir] = ReadRecord(folder);
    EXPECT_EQ(parameters + L" /D=" + installDir, arguments);
    EXPECT_EQ(installDir, folder);
    EXPECT_EQ(test::ReadPackageRecord(folder).planted, L"");

    EXPECT_EQ(test::ReadFileBytes(JoinPath(folder, kApplicationExeName)),
              test::ReadFileBytes(test::DemoAppPath()));
    const InstalledApplication installed = FindInstalledApplication();
    EXPECT_TRUE(installed.found);
    EXPECT_EQ(installed.displayVersion, L"2.0.0");
    EXPECT_EQ(installed.installLocation, folder);
    EXPECT_TRUE(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").has_value());
    EXPECT_FALSE(ReadRegistryString(KEY_WOW64_32KEY, L"DisplayVersion").has_value());

    EXPECT_EQ(test::PathExists(desktopShortcut), row.desktop);
    EXPECT_EQ(test::PathExists(startMenuShortcut), row.startMenu);
  }
  SetEnvironmentVariableW(L"LUM_PLANTED", nullptr);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"LUM_PLANTED");
}

TEST_F(PackageRunTest, ExitCodesOfAFailedPackageArePassedBack) {
  const std::pair<const wchar_t*, std::uint32_t> table[] = {
      {L"VIVOV3_Setup_x64_exit2.exe", 2u},
      {L"VIVOV3_Setup_x64_exit3.exe", 3u},
  };
  for (const auto& [package, expected] : table) {
    SCOPED_TRACE(testing::PrintToString(package));
    std::uint32_t exitCode = 0;
    std::wstring message;
    ASSERT_TRUE(RunPackageInstaller(test::ArtifactPath(package),
                                    BuildInstallerArguments(Options(L"baidu2", true, true)),
                                    exitCode, message));
    EXPECT_EQ(exitCode, expected);
    EXPECT_TRUE(message.empty());
    EXPECT_FALSE(test::PathExists(JoinPath(folder, kApplicationExeName)));
    EXPECT_FALSE(FindInstalledApplication().found);
  }
}

TEST_F(PackageRunTest, MissingPackageOrAFolderCannotBeStarted) {
  std::uint32_t exitCode = 0;
  std::wstring message;
  EXPECT_FALSE(RunPackageInstaller(JoinPath(scratch, L"no such package.exe"),
                                   BuildInstallerArguments(Options(L"baidu2", true, true)),
                                   exitCode, message));
  EXPECT_EQ(message, L"无法启动完整安装包");
  EXPECT_EQ(exitCode, 0u);

  message.clear();
  EXPECT_FALSE(RunPackageInstaller(scratch, L"/S", exitCode, message));
  EXPECT_EQ(message, L"无法启动完整安装包");
}

// Wine runs everything elevated and never shows an elevation prompt, so the unelevated route
// and its refusal (ERROR_CANCELLED) come from a stand-in.
SHELLEXECUTEINFOW g_refusedCall{};
std::wstring g_refusedVerb, g_refusedFile, g_refusedParameters, g_refusedDirectory;

BOOL WINAPI RefuseElevation(SHELLEXECUTEINFOW* info) {
  g_refusedCall = *info;
  g_refusedVerb = info->lpVerb ? info->lpVerb : L"";
  g_refusedFile = info->lpFile ? info->lpFile : L"";
  g_refusedParameters = info->lpParameters ? info->lpParameters : L"";
  g_refusedDirectory = info->lpDirectory ? info->lpDirectory : L"";
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}

TEST(RunPackageInstallerTest, RefusedElevationPromptIsReportedAsSuch) {
  const ShellExecuteExFunction previous = UseElevationPromptForTesting(&RefuseElevation);
  std::uint32_t exitCode = 0;
  std::wstring message;
  const std::wstring package = test::ArtifactPath(kPackageFileName);
  const bool started = RunPackageInstaller(package, L"/S /D=C:\\x", exitCode, message);
  UseElevationPromptForTesting(previous);

  EXPECT_FALSE(started);
  EXPECT_EQ(message, L"用户取消了管理员授权");
  EXPECT_EQ(message, kUacRefusedText);
  // What the elevation request asked for: the "runas" verb, process handle kept, no async.
  EXPECT_EQ(g_refusedCall.cbSize, 112u);
  EXPECT_EQ(g_refusedCall.fMask, 0x140u);
  EXPECT_EQ(g_refusedCall.hwnd, nullptr);
  EXPECT_EQ(g_refusedDirectory, ParentPath(package)) << "its own folder, not ours";
  EXPECT_EQ(g_refusedCall.nShow, SW_SHOWNORMAL);
  EXPECT_EQ(g_refusedVerb, L"runas");
  EXPECT_EQ(g_refusedFile, package);
  EXPECT_EQ(g_refusedParameters, L"/S /D=C:\\x");
}

}  // namespace
}  // namespace lum::installer
