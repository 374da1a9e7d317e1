// Finding, closing and terminating real copies of the stand-in application.
#include "system/process_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "system/install_location.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using test::DemoAppProcess;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kOtherExeName[] = L"lumora_other.exe";
constexpr DWORD kExitClosed = 0;      // the stand-in closed through its windows
constexpr DWORD kExitTerminated = 1;  // TerminateApplication's exit code

bool Contains(const std::vector<DWORD>& ids, DWORD id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = test::FreshScratchDirectory(L"process control");
    app = test::CopyDemoApp(folder, kApplicationExeName);
    ASSERT_FALSE(IsApplicationRunning(kApplicationExeName)) << "a copy from elsewhere is running";
  }
  void TearDown() override {
    // Each DemoAppProcess ends its own copy; this catches anything started otherwise.
    EXPECT_TRUE(TerminateApplication(kApplicationExeName));
    EXPECT_TRUE(TerminateApplication(kOtherExeName));
  }

  std::wstring folder;
  std::wstring app;
};

TEST_F(ProcessControlTest, NothingRunning) {
  EXPECT_TRUE(FindProcessesByName(kApplicationExeName).empty());
  EXPECT_FALSE(IsApplicationRunning(kApplicationExeName));
  const auto start = Clock::now();
  EXPECT_TRUE(CloseApplicationWindows(kApplicationExeName, 10));
  EXPECT_LT(MillisecondsSince(start), 1000) << "no copy, so no waiting";
  EXPECT_TRUE(TerminateApplication(kApplicationExeName));
}

TEST_F(ProcessControlTest, MatchesTheFileNameIgnoringCaseOnly) {
  DemoAppProcess mixedCase;
  DemoAppProcess other;
  // Its own folder: Wine's file system ignores case, so it cannot sit beside lumora.exe.
  ASSERT_TRUE(mixedCase.Start(test::CopyDemoApp(JoinPath(folder, L"mixed"), L"LuMoRa.ExE")));
  ASSERT_TRUE(other.Start(test::CopyDemoApp(folder, kOtherExeName)));

  const auto found = FindProcessesByName(kApplicationExeName);
  EXPECT_EQ(found, std::vector<DWORD>{mixedCase.Id()});
  EXPECT_TRUE(IsApplicationRunning(L"LUMORA.EXE"));
  EXPECT_TRUE(Contains(FindProcessesByName(L"LUMORA_OTHER.exe"), other.Id()));
  // Only the file name is compared, never a path or a part of the name.
  EXPECT_TRUE(FindProcessesByName(app).empty());
  EXPECT_TRUE(FindProcessesByName(L"lumora").empty());
  EXPECT_TRUE(FindProcessesByName(L"umora.exe").empty());
}

TEST_F(ProcessControlTest, EveryVisibleWindowOfEveryCopyIsAskedToClose) {
  DemoAppProcess single;
  DemoAppProcess twoWindows;
  ASSERT_TRUE(single.Start(app));
  ASSERT_TRUE(twoWindows.Start(app, L"--two-windows"));  // ends only when both windows closed
  ASSERT_EQ(FindProcessesByName(kApplicationExeName).size(), 2u);

  const auto start = Clock::now();
  EXPECT_TRUE(CloseApplicationWindows(kApplicationExeName, 10));
  EXPECT_LT(MillisecondsSince(start), 10000) << "the wait ends as soon as both are gone";
  EXPECT_FALSE(IsApplicationRunning(kApplicationExeName));
  DWORD code = 99;
  ASSERT_TRUE(single.WaitForExit(0, code));
  EXPECT_EQ(code, kExitClosed);
  ASSERT_TRUE(twoWindows.WaitForExit(0, code));
  EXPECT_EQ(code, kExitClosed);
}

TEST_F(ProcessControlTest, CopyClosingThreeSecondsAfterTheRequestIsWaitedFor) {
  DemoAppProcess slow;
  ASSERT_TRUE(slow.Start(app, L"--close-delay-ms 3000"));

  const auto start = Clock::now();
  EXPECT_TRUE(CloseApplicationWindows(kApplicationExeName, 10));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 3000) << "it cannot be gone before it closes";
  EXPECT_LE(elapsed, 5000) << "about 3.2 s: one 200 ms check after it closed";
  DWORD code = 99;
  ASSERT_TRUE(slow.WaitForExit(0, code));
  EXPECT_EQ(code, kExitClosed);
}

TEST_F(ProcessControlTest, CopyIgnoringTheRequestOutlastsTheTimeoutAndIsTerminated) {
  DemoAppProcess stubborn;
  ASSERT_TRUE(stubborn.Start(app, L"--ignore-close"));

  const auto start = Clock::now();
  EXPECT_FALSE(CloseApplicationWindows(kApplicationExeName, 10));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 10000);
  EXPECT_LE(elapsed, 12000) << "the time-out plus one 200 ms pause and one last check";
  ASSERT_TRUE(stubborn.IsRunning());

  EXPECT_TRUE(TerminateApplication(kApplicationExeName));
  EXPECT_FALSE(IsApplicationRunning(kApplicationExeName));
  DWORD code = 99;
  ASSERT_TRUE(stubborn.WaitForExit(0, code));
  EXPECT_EQ(code, kExitTerminated);
}

TEST_F(ProcessControlTest, HiddenWindowsGetNoRequestAndOnlyTerminationEndsThem) {
  // The hidden copy would close at once on WM_CLOSE; still running means it was never asked.
  DemoAppProcess hidden;
  DemoAppProcess hiddenTwo;
  ASSERT_TRUE(hidden.Start(app, L"--hidden-only"));
  ASSERT_TRUE(hiddenTwo.Start(app, L"--hidden-only --two-windows"));

  EXPECT_FALSE(CloseApplicationWindows(kApplicationExeName, 1));
  EXPECT_TRUE(hidden.IsRunning());
  EXPECT_TRUE(hiddenTwo.IsRunning());

  EXPECT_TRUE(TerminateApplication(kApplicationExeName));
  EXPECT_TRUE(FindProcessesByName(kApplicationExeName).empty());
  for (const DemoAppProcess* process : {&hidden, &hiddenTwo}) {
    DWORD code = 99;
    ASSERT_TRUE(process->WaitForExit(0, code));
    EXPECT_EQ(code, kExitTerminated);
  }
}

TEST_F(ProcessControlTest, TerminationLeavesOtherProgramsAlone) {
  DemoAppProcess target;
  DemoAppProcess other;
  ASSERT_TRUE(target.Start(app));
  ASSERT_TRUE(other.Start(test::CopyDemoApp(folder, kOtherExeName)));

  EXPECT_TRUE(TerminateApplication(kApplicationExeName));
  EXPECT_FALSE(target.IsRunning());
  EXPECT_TRUE(other.IsRunning());
}

}  // namespace
}  // namespace lum::installer
