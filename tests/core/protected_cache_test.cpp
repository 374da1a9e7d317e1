// The elevated bootstrapper against another process of the same user that plants links in its
// way: every attack below worked while the working files lived in the per-user cache folder.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "base/text.h"
#include "system/protected_folder.h"
#include "tests/core/workflow_fixture.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/package_record.h"

namespace lum::installer {
namespace {

using test::LoadPackage;
using test::Package;

// What a file holds, in a form short enough to print.
std::string Fingerprint(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char text[64];
  std::snprintf(text, sizeof(text), "%zu bytes, %016llx", bytes.size(),
                static_cast<unsigned long long>(hash));
  return text;
}

// Every entry below folder, with the fingerprint of each file; links are listed, never followed.
using Tree = std::map<std::wstring, std::string>;
void Collect(const std::wstring& folder, const std::wstring& relative, Tree& tree) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(JoinPath(folder, L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = JoinPath(folder, name);
    const std::wstring key = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      tree[key] = "<link>";
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[key] = "<folder>";
      Collect(path, key, tree);
    } else {
      tree[key] = Fingerprint(test::ReadFileBytes(path));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}
Tree Snapshot(const std::wstring& folder) {
  Tree tree;
  Collect(folder, L"", tree);
  return tree;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return CompareStringOrdinal(text.c_str(), static_cast<int>(std::min(text.size(), prefix.size())),
                              prefix.c_str(), static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

class ProtectedCacheTest : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    outside = test::FreshScratchDirectory(L"attacker");
  }
  void TearDown() override {
    WorkflowTest::TearDown();
    test::RemoveWithoutFollowing(outside);
  }

  // The package that ran, told by the version it wrote to the uninstall entry and its record.
  void ExpectVerifiedPackageRan() {
    EXPECT_EQ(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").value_or(L""), L"2.0.0");
    EXPECT_EQ(test::ReadPackageRecord(installDirectory).version, L"2.0.0");
  }

  std::wstring outside;  // what the attacker owns
};

// Links at the package and at the log point at files outside; the package link stands for a
// partial download left behind.
TEST_F(ProtectedCacheTest, LinksAtThePackageAndTheLogAreReplacedNotWrittenThrough) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  test::WriteFileBytes(outside + L"\\partial.exe",
                       package.bytes.substr(0, package.bytes.size() / 2));
  test::WriteFileBytes(outside + L"\\precious.txt", "not a log\r\n");
  ASSERT_TRUE(CreateDirectoryW(CacheDirectory().c_str(), nullptr));
  test::SymbolicLink(outside + L"\\partial.exe", CachedPackage());
  test::SymbolicLink(outside + L"\\precious.txt", JoinPath(CacheDirectory(), kLogFileName));
  const Tree before = Snapshot(outside);

  Serve(package);
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  ASSERT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  ExpectVerifiedPackageRan();
  EXPECT_EQ(Snapshot(outside), before);
  // The log is a file of the cache's own again, and says what became of the planted package.
  EXPECT_FALSE(GetFileAttributesW(JoinPath(CacheDirectory(), kLogFileName).c_str()) &
               FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_NE(Log().find("[cache] \xE5\xAE\x89\xE8\xA3\x85\xE5\x8C\x85\xE5\xA4\xA7\xE5\xB0\x8F"),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("[complete] elapsed_seconds="), std::string::npos) << Log();
  EXPECT_EQ(PackageRequests(), 1);
}

// A hard link gives the cache's package name to a file elsewhere.
TEST_F(ProtectedCacheTest, AHardLinkAtThePackageIsNeitherUsedNorWrittenThrough) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  test::WriteFileBytes(outside + L"\\copy.exe", package.bytes);
  ASSERT_TRUE(CreateDirectoryW(CacheDirectory().c_str(), nullptr));
  test::HardLink(outside + L"\\copy.exe", CachedPackage());
  const Tree before = Snapshot(outside);

  Serve(package);
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  ASSERT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  EXPECT_EQ(PackageRequests(), 1) << "downloaded, not taken from the linked file";
  EXPECT_EQ(Snapshot(outside), before);
  EXPECT_FALSE(test::PathExists(CachedPackage()));
}

// Earlier versions kept their cache in the per-user folder, then in %ProgramData%\VIVOV3 (the
// application's own name, which other programs use too); neither is read, written or removed,
// even when it holds a valid package and has been turned into a link.
TEST_F(ProtectedCacheTest, TheOldCachesAreLeftAlone) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  const std::wstring old = JoinPath(KnownFolderPath(FOLDERID_LocalAppData), L"VIVOV3");
  test::RemoveWithoutFollowing(old);
  const std::wstring machine = JoinPath(KnownFolderPath(FOLDERID_ProgramData), L"VIVOV3");
  test::WriteFileBytes(machine + L"\\InstallerCache\\" + kPackageFileName, package.bytes);
  test::WriteFileBytes(machine + L"\\settings.ini", "another program's\r\n");
  test::WriteFileBytes(outside + L"\\old cache\\" + kPackageFileName, package.bytes);
  test::WriteFileBytes(outside + L"\\old cache\\installer.log", "earlier lines\r\n");
  ASSERT_TRUE(CreateDirectoryW(old.c_str(), nullptr));
  test::SymbolicLink(outside + L"\\old cache", old + L"\\InstallerCache");
  const Tree before = Snapshot(outside), beforeMachine = Snapshot(machine);

  Serve(package);
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  test::RemoveWithoutFollowing(old);
  EXPECT_EQ(Snapshot(machine), beforeMachine);
  test::RemoveWithoutFollowing(machine);
  ASSERT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  EXPECT_EQ(PackageRequests(), 1) << "the old cache's package was not reused";
  EXPECT_EQ(Snapshot(outside), before);
}

// Wine keeps no owners: a stand-in takes a working folder holding a file "foreign" as another
// account's; its parent passes.
FolderTrust JudgeByMarker(HANDLE folder, bool countInheritOnly) {
  wchar_t path[MAX_PATH] = {};
  const bool marked = countInheritOnly && GetFinalPathNameByHandleW(folder, path, MAX_PATH, 0) &&
                      test::PathExists(JoinPath(path, L"foreign"));
  return marked ? FolderTrust::Foreign : FolderTrust::Trusted;
}

// Only an administrator can have made the working folder: one that another account owns is
// left exactly as it is (not renamed, not read, not written), and the run stops.
TEST_F(ProtectedCacheTest, AWorkingFolderAnotherAccountOwnsIsLeftAlone) {
  test::WriteFileBytes(JoinPath(CacheDirectory(), L"foreign"), "");
  test::WriteFileBytes(CachedPackage(), "not ours");
  const Tree before = Snapshot(CacheDirectory());
  const FolderSecurityCheck previous = ReplaceFolderSecurityCheckForTesting(&JudgeByMarker);
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  EXPECT_EQ(recorder.WaitForEnd().errorCode, L"E_VERIFY");
  ReplaceFolderSecurityCheckForTesting(previous);
  EXPECT_EQ(Snapshot(CacheDirectory()), before);
}

// The package starts in the protected folder with a TEMP of its own there, which goes after.
TEST_F(ProtectedCacheTest, ThePackageRunsInTheProtectedFolderWithAPrivateTemp) {
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  ASSERT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  const test::PackageRecord record = test::ReadPackageRecord(installDirectory);
  const std::wstring folder = CacheDirectory() + L"\\";
  EXPECT_TRUE(StartsWith(record.workingDirectory + L"\\", folder))
      << WideToUtf8(record.workingDirectory);
  EXPECT_TRUE(StartsWith(record.temp, folder + L"Temp-")) << WideToUtf8(record.temp);
  EXPECT_EQ(record.tmp, record.temp);
  EXPECT_TRUE(StartsWith(record.pluginsDirectory, record.temp + L"\\"))
      << WideToUtf8(record.pluginsDirectory);
  EXPECT_FALSE(test::PathExists(record.temp)) << "the private TEMP is removed afterwards";
  EXPECT_EQ(Snapshot(CacheDirectory()).size(), 1u) << "only the log is left";
}

}  // namespace
}  // namespace lum::installer
