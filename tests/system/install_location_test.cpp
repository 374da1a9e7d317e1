#include "system/install_location.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "system/protected_folder.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using test::UninstallEntry;

TEST(InstalledApplicationTest, NoEntryInEitherViewIsNotFound) {
  UninstallEntry entry;
  const InstalledApplication app = FindInstalledApplication();
  EXPECT_FALSE(app.found);
  EXPECT_TRUE(app.displayVersion.empty());
  EXPECT_TRUE(app.installLocation.empty());
}

TEST(InstalledApplicationTest, CompleteEntryInOneViewOnly) {
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
    UninstallEntry entry;
    entry.SetString(view, L"DisplayVersion", L"2.5.1");
    entry.SetString(view, L"InstallLocation", L"D:\\Apps\\VIVOV3");
    const InstalledApplication app = FindInstalledApplication();
    EXPECT_TRUE(app.found);
    EXPECT_EQ(app.displayVersion, L"2.5.1");
    EXPECT_EQ(app.installLocation, L"D:\\Apps\\VIVOV3");
  }
}

TEST(InstalledApplicationTest, IncompleteSixtyFourBitEntryFallsBackToThirtyTwoBit) {
  UninstallEntry entry;
  entry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"3.0");
  entry.SetString(KEY_WOW64_64KEY, L"InstallLocation", L"");
  entry.SetString(KEY_WOW64_32KEY, L"DisplayVersion", L"2.0");
  entry.SetString(KEY_WOW64_32KEY, L"InstallLocation", L"C:\\Old\\VIVOV3");
  InstalledApplication app = FindInstalledApplication();
  EXPECT_TRUE(app.found);
  EXPECT_EQ(app.displayVersion, L"2.0");
  EXPECT_EQ(app.installLocation, L"C:\\Old\\VIVOV3");

  // Without the 32-bit entry nothing is found: values never mix across views.
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, 0);
  entry.SetString(KEY_WOW64_32KEY, L"InstallLocation", L"C:\\Only\\Location");
  app = FindInstalledApplication();
  EXPECT_FALSE(app.found);
}

TEST(InstalledApplicationTest, DisplayVersionStoredAsNumberIsNotFound) {
  UninstallEntry entry;
  entry.SetDword(KEY_WOW64_64KEY, L"DisplayVersion", 2);
  entry.SetString(KEY_WOW64_64KEY, L"InstallLocation", L"C:\\VIVOV3");
  EXPECT_FALSE(FindInstalledApplication().found);
  EXPECT_FALSE(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").has_value());
}

TEST(InstalledApplicationTest, ExpandableStringIsKeptUnexpanded) {
  UninstallEntry entry;
  entry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"1.0.0");
  entry.SetString(KEY_WOW64_64KEY, L"InstallLocation", L"%ProgramFiles%\\VIVOV3", REG_EXPAND_SZ);
  const InstalledApplication app = FindInstalledApplication();
  ASSERT_TRUE(app.found);
  EXPECT_EQ(app.installLocation, L"%ProgramFiles%\\VIVOV3");
}

TEST(InstalledApplicationTest, DataAfterEmbeddedNulIsCutOff) {
  UninstallEntry entry;
  const wchar_t data[] = L"C:\\Apps\0garbage";  // sizeof includes the final NUL
  entry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"1.2");
  entry.SetRaw(KEY_WOW64_64KEY, L"InstallLocation", REG_SZ, data, sizeof(data));
  EXPECT_EQ(FindInstalledApplication().installLocation, L"C:\\Apps");

  // An unterminated value with an odd byte count keeps its whole units and drops the odd byte.
  const char odd[] = {'7', 0, '.', 0, '1', 0, 'x'};
  entry.SetRaw(KEY_WOW64_64KEY, L"DisplayVersion", REG_SZ, odd, sizeof(odd));
  EXPECT_EQ(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").value_or(L"?"), L"7.1");
}

TEST(InstallLocationTest, DefaultFolderIsProgramFilesVivov3) {
  EXPECT_EQ(DefaultInstallDirectory(), L"C:\\Program Files\\VIVOV3");
}

TEST(InstallLocationTest, WorkingFolderHasTheBootstrappersOwnNameUnderProgramFiles) {
  EXPECT_EQ(CacheDirectory(), L"C:\\Program Files\\LUMWebBootstrapper");
}

// Descriptors made from SDDL by the system's own advapi32 (Wine keeps none on folders).
TEST(InstallLocationTest, WorkingFolderTrustOnRealDescriptors) {
  using enum FolderTrust;
  const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::wstring ti = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  // The working folder's judgement (inheritable entries count), then its parent's.
  const std::tuple<std::wstring, FolderTrust, FolderTrust> rows[] = {
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;FR;;;BU)", Trusted, Trusted},  // our own
      {L"O:" + user + L"D:P(A;OICI;FA;;;BA)", Foreign, Foreign},       // a standard user made it
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)", Loose, Trusted},  // inherit-only Users write
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;;0x116;;;WD)", Loose, Loose},       // Everyone write
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)", Loose, Trusted},  // CREATOR OWNER
      // C:\Program Files as Windows 10 and 11 have it.
      {L"O:" + ti + L"D:PAI(A;;FA;;;" + ti + L")(A;CIIO;GA;;;" + ti +
           L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
           L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)",
       Loose, Trusted},
  };
  for (const auto& [sddl, folder, parent] : rows) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(JudgeFolderSecurity(descriptor, true), folder) << testing::PrintToString(sddl);
    EXPECT_EQ(JudgeFolderSecurity(descriptor, false), parent) << testing::PrintToString(sddl);
    LocalFree(descriptor);
  }
}

TEST(InstallLocationTest, JoinAndParent) {
  EXPECT_EQ(JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
  EXPECT_EQ(JoinPath(L"C:/a/", L"b"), L"C:/a/b");
  EXPECT_EQ(ParentPath(L"C:\\a\\b\\"), L"C:\\a\\b");
  EXPECT_EQ(ParentPath(L"C:\\a\\b"), L"C:\\a");
  EXPECT_EQ(ParentPath(L"C:\\a"), L"C:\\");
  EXPECT_EQ(ParentPath(L"C:\\"), L"C:\\");
  EXPECT_EQ(ParentPath(L"\\\\server\\share\\dir"), L"\\\\server\\share\\");
  EXPECT_EQ(ParentPath(L"rel\\dir"), L"rel");
  EXPECT_EQ(ParentPath(L"rel"), L"");
}

TEST(InstallLocationTest, FolderTreesAndFileSizes) {
  const std::wstring root = test::FreshScratchDirectory(L"folders");
  test::WriteFileBytes(root + L"\\file", "12345");
  struct Case {
    std::wstring folder;
    bool created;
  };
  const Case cases[] = {
      {root, true},                           // already there
      {root + L"\\a\\b\\c", true},            // three levels missing
      {root + L"\\d\\\\e\\", true},           // doubled and trailing separators
      {root + L"/f/g", true},                 // forward slashes
      {root + L"\\file\\sub", false},         // a file in the way
      {root + L"\\file", false},              // the file itself
      {L"Q:\\no-such-drive\\folder", false},  // nothing to create it on
      {L"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CreateDirectoryTree(c.folder), c.created) << testing::PrintToString(c.folder);
  }
  EXPECT_TRUE(std::filesystem::is_directory(root + L"\\d\\e"));

  std::uint64_t size = 99;
  EXPECT_TRUE(ReadFileSize(root + L"\\file", size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(ReadFileSize(root + L"\\a", size));  // a folder
  EXPECT_FALSE(ReadFileSize(root + L"\\missing", size));
}

TEST(DiskSpaceTest, ExistingFolderAndMissingSubfolders) {
  const std::wstring folder = test::FreshScratchDirectory(L"diskspace");
  const std::uint64_t existing = AvailableDiskSpace(folder);
  EXPECT_GT(existing, 0u);
  ULARGE_INTEGER expected{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &expected, nullptr, nullptr));
  // Both readings come from the same volume; allow for other writers in between.
  const auto closeToExpected = [&](std::uint64_t value) {
    const std::uint64_t diff =
        value > expected.QuadPart ? value - expected.QuadPart : expected.QuadPart - value;
    return diff < 512ull * 1024 * 1024;
  };
  EXPECT_TRUE(closeToExpected(existing));
  EXPECT_TRUE(closeToExpected(AvailableDiskSpace(folder + L"\\missing\\deeper\\VIVOV3")));
  EXPECT_TRUE(closeToExpected(AvailableDiskSpace(folder + L"\\missing\\trailing\\")));
  EXPECT_GT(AvailableDiskSpace(L"C:\\"), 0u);
}

TEST(DiskSpaceTest, UndeterminedAmountsAreZero) {
  // Find a drive letter that Wine does not map.
  std::wstring missingDrive;
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
    if (!(drives & (1u << (letter - L'A')))) {
      missingDrive = std::wstring(1, letter) + L":\\";
      break;
    }
  }
  ASSERT_FALSE(missingDrive.empty());
  EXPECT_EQ(AvailableDiskSpace(missingDrive + L"Apps\\VIVOV3"), 0u);
  EXPECT_EQ(AvailableDiskSpace(missingDrive), 0u);
  EXPECT_EQ(AvailableDiskSpace(L"no-such-relative\\folder\\VIVOV3"), 0u);
  EXPECT_EQ(AvailableDiskSpace(L""), 0u);
}

}  // namespace
}  // namespace lum::installer
