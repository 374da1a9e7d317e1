// Whole installation runs: statuses, events, log lines and outcomes of every stage.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"
#include "core/package_installer.h"
#include "core/partial_download.h"
#include "system/payload_verification.h"
#include "tests/core/workflow_fixture.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/package_record.h"

namespace lum::installer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::LoadPackage;
using test::MetricsBody;
using test::Package;
using test::RouteOptions;

TEST_F(WorkflowTest, SuccessfulInstallation) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Serve(package, [] {
    RouteOptions slow;  // several progress reports
    slow.trickleChunk = 16384;
    slow.trickleDelay = 0.005;
    return slow;
  }());
  options.bingClickId = L"abc123";
  Start(L"bing");
  const InstallerStatus end = recorder.WaitForEnd();
  ASSERT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  EXPECT_EQ(end.progress, 100);
  EXPECT_EQ(end.message, L"安装完成");

  // Statuses: Preparing, Downloading 0 .. 85 rising, Verifying 90, Installing 95, Completed.
  const auto statuses = recorder.Statuses();
  ASSERT_GE(statuses.size(), 7u);
  EXPECT_EQ(statuses.front().status.stage, InstallStage::Preparing);
  EXPECT_EQ(statuses.front().status.message, L"正在获取安装信息");
  std::vector<int> downloading;
  for (const auto& s : statuses) {
    if (s.status.stage == InstallStage::Downloading) {
      EXPECT_EQ(s.status.message, L"正在安装");
      downloading.push_back(s.status.progress);
    }
  }
  ASSERT_GE(downloading.size(), 4u);
  EXPECT_EQ(downloading.front(), 0);
  EXPECT_EQ(downloading.back(), 85);
  for (size_t i = 1; i < downloading.size(); ++i) EXPECT_LE(downloading[i - 1], downloading[i]);
  for (size_t i = 0; i + 1 < downloading.size(); ++i) EXPECT_LE(downloading[i], 84);
  const size_t n = statuses.size();
  EXPECT_EQ(statuses[n - 3].status.stage, InstallStage::Verifying);
  EXPECT_EQ(statuses[n - 3].status.progress, 90);
  EXPECT_EQ(statuses[n - 2].status.stage, InstallStage::Installing);
  EXPECT_EQ(statuses[n - 2].status.progress, 95);

  // What the package received: NSIS hands over the line without the trailing /D=.
  const test::PackageRecord record = test::ReadPackageRecord(installDirectory);
  EXPECT_EQ(record.parameters,
            L"/S /CHANNEL=bing /BING_CLICK_ID=abc123 /DESKTOP_SHORTCUT=1 /START_MENU_SHORTCUT=0");
  EXPECT_EQ(record.installDirectory, installDirectory);
  EXPECT_TRUE(test::PathExists(installDirectory + L"\\lumora.exe"));
  EXPECT_EQ(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").value_or(L""), L"2.0.0");
  EXPECT_EQ(ReadRegistryString(KEY_WOW64_64KEY, L"InstallLocation").value_or(L""),
            installDirectory);

  EXPECT_FALSE(test::PathExists(CachedPackage())) << "the package is removed after installing";
  EXPECT_TRUE(
      std::regex_match(Log(), std::regex(R"([0-9: -]{19} \[complete\] elapsed_seconds=\d+\r\n)")))
      << Log();

  const std::vector<std::string> expected = {
      MetricsBody("web_install_download_start", "", "bing"),
      MetricsBody("web_install_download_success", "", "bing"),
      MetricsBody("web_install_verify_success", "", "bing"),
      MetricsBody("web_install_start", "", "bing"), MetricsBody("web_install_success", "", "bing")};
  EXPECT_EQ(MetricsBodies(), expected);
  EXPECT_TRUE(server.UnexpectedRequests().empty());
}

TEST_F(WorkflowTest, ValidCachedPackageIsReusedWithoutDownloading) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Serve(package);
  PutInCache(package.bytes);
  Start();
  ASSERT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);

  std::vector<std::pair<InstallStage, int>> stages;
  for (const auto& s : recorder.Statuses()) stages.emplace_back(s.status.stage, s.status.progress);
  const std::vector<std::pair<InstallStage, int>> expected = {{InstallStage::Preparing, 0},
                                                              {InstallStage::Downloading, 85},
                                                              {InstallStage::Verifying, 90},
                                                              {InstallStage::Installing, 95},
                                                              {InstallStage::Completed, 100}};
  EXPECT_EQ(stages, expected);
  EXPECT_EQ(PackageRequests(), 0);
  EXPECT_TRUE(
      std::regex_match(Log(), std::regex(R"([0-9: -]{19} \[cache\] validated payload reused\r\n)"
                                         R"([0-9: -]{19} \[complete\] elapsed_seconds=\d+\r\n)")))
      << Log();
  EXPECT_EQ(MetricsBodies(),
            (std::vector<std::string>{MetricsBody("web_install_verify_success", ""),
                                      MetricsBody("web_install_start", ""),
                                      MetricsBody("web_install_success", "")}));
}

TEST_F(WorkflowTest, PartialFileFromAFailedRunIsDeletedAndDownloadedAgain) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Serve(package);
  PutInCache(package.bytes.substr(0, package.bytes.size() / 2));
  Start();
  ASSERT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  const auto requests = server.Requests();
  int gets = 0;
  for (const auto& request : requests) {
    if (request.path != kPackagePath) continue;
    ++gets;
    EXPECT_FALSE(request.Header("Range").has_value()) << "downloaded from the beginning";
  }
  EXPECT_EQ(gets, 1);
  EXPECT_NE(Log().find("[cache] \xE5\xAE\x89\xE8\xA3\x85\xE5\x8C\x85\xE5\xA4\xA7\xE5\xB0\x8F"),
            std::string::npos)
      << "the size check's reason is logged: " << Log();
}

TEST_F(WorkflowTest, ThreeFailedAttemptsHalfASecondAndOneSecondApart) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  RouteOptions failing;
  failing.status = 500;
  Serve(package, failing);
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.stage, InstallStage::Failed);
  EXPECT_EQ(end.errorCode, L"E_DOWNLOAD");
  EXPECT_EQ(end.message, L"安装包下载失败，请检查网络后重试");
  EXPECT_EQ(PackageRequests(), 3);

  std::vector<Clock::time_point> attempts;
  for (const auto& s : recorder.Statuses()) {
    if (s.status.stage == InstallStage::Downloading) {
      EXPECT_EQ(s.status.progress, 0);
      attempts.push_back(s.at);
    }
  }
  ASSERT_EQ(attempts.size(), 3u);
  EXPECT_GE(attempts[1] - attempts[0], 500ms);
  EXPECT_LT(attempts[1] - attempts[0], 950ms);
  EXPECT_GE(attempts[2] - attempts[1], 1000ms);
  EXPECT_EQ(MetricsBodies(),
            (std::vector<std::string>{MetricsBody("web_install_download_start", ""),
                                      MetricsBody("web_install_download_failed", "E_DOWNLOAD")}));
}

TEST_F(WorkflowTest, CancelDuringTheSecondAttempt) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  test::ReleaseServer::WriteServedFile("VIVOV3_Setup_x64.exe", package.bytes);
  RouteOptions manifest;
  manifest.body = test::ManifestFor(server, package);
  server.AddRoute(kManifestPath, manifest, "GET");
  RouteOptions fail;
  fail.status = 500;
  RouteOptions trickle;
  trickle.file = "VIVOV3_Setup_x64.exe";
  trickle.trickleChunk = 1024;
  trickle.trickleDelay = 0.05;
  server.AddRouteSequence(kPackagePath, {fail, trickle}, "GET");
  Start();
  // The second attempt is transferring once a non-zero progress shows.
  recorder.WaitFor([](const InstallerStatus& s) {
    return s.stage == InstallStage::Downloading && s.progress > 0;
  });
  controller->RequestCancel();
  const InstallerStatus end = recorder.WaitForEnd(20s);
  EXPECT_EQ(end.errorCode, L"E_CANCELLED");
  EXPECT_EQ(end.message, L"安装已取消");
  EXPECT_EQ(PackageRequests(), 2) << "no third attempt";
  EXPECT_EQ(MetricsBodies(),
            (std::vector<std::string>{MetricsBody("web_install_download_start", ""),
                                      MetricsBody("web_install_cancel", "E_CANCELLED"),
                                      MetricsBody("web_install_download_failed", "E_CANCELLED")}));
  // What arrived stays, with its record, for the next run to continue.
  EXPECT_GT(test::ReadFileBytes(CachedPackage()).size(), 0u);
  EXPECT_TRUE(test::PathExists(JoinPath(CacheDirectory(), kPartialRecordName)));
}

TEST_F(WorkflowTest, DownloadedPackageFailingVerificationIsDeleted) {
  Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Package tampered = package;
  tampered.bytes[tampered.bytes.size() / 2] ^= 0x01;
  test::ReleaseServer::WriteServedFile("VIVOV3_Setup_x64.exe", tampered.bytes);
  RouteOptions manifest;
  manifest.body = test::ManifestFor(server, package);
  server.AddRoute(kManifestPath, manifest, "GET");
  RouteOptions route;
  route.file = "VIVOV3_Setup_x64.exe";
  server.AddRoute(kPackagePath, route, "GET");
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_VERIFY");
  EXPECT_EQ(end.message, L"安装包校验失败，请重新下载安装");
  EXPECT_FALSE(test::PathExists(CachedPackage()));
  EXPECT_NE(Log().find("[verify] \xE5\xAE\x89\xE8\xA3\x85\xE5\x8C\x85 SHA-256"), std::string::npos)
      << Log();
  EXPECT_EQ(MetricsBodies(),
            (std::vector<std::string>{MetricsBody("web_install_download_start", ""),
                                      MetricsBody("web_install_download_success", ""),
                                      MetricsBody("web_install_verify_failed", "E_VERIFY")}));
}

// A partial package and the record beside it, as a run that ended early leaves them: continued
// when the record matches the offered entry and the file, otherwise both go and the download
// starts from nothing; a whole file is judged as a kept package.
TEST_F(WorkflowTest, PartialDownloadOfAnEarlierRun) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  const std::size_t size = package.bytes.size(), half = size / 2;
  const auto record = [&](const std::string& sha256, std::size_t written) {
    return R"({"format":1,"size":)" + std::to_string(size) + R"(,"sha256":")" + sha256 +
           R"(","validator":"\"v1\"","written":)" + std::to_string(written) + R"(,"urls":[]})";
  };
  // The record, the bytes kept (some past what it vouches for), the cache log's first line.
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {record(package.sha256, half), half + 1000,
       "继续未完成的下载：已有 " + std::to_string(half) + " / " + std::to_string(size) + " 字节"},
      {record(std::string(64, 'a'), half), half, "安装包已更新，未完成的下载已删除"},
      {record(package.sha256, half + 1), half, "未完成下载的记录与安装包不符，已删除"},
      {R"({"format":1,"size":)", half, "未完成下载的记录无法读取，已删除"},
      {record(package.sha256, size), size, "validated payload reused"},
  };
  for (const auto& [recorded, kept, line] : cases) {
    SCOPED_TRACE(line);
    const bool resumed = kept > half, whole = kept == size;
    controller.reset();
    recorder.Clear();
    server.Reset();
    RemoveCacheFolders();
    // What starts over needs no more than its first request: a refusal ends it sooner.
    Serve(package, resumed ? RouteOptions{.etag = "\"v1\""} : RouteOptions{.status = 404});
    PutInCache(package.bytes.substr(0, kept));
    test::WriteFileBytes(JoinPath(CacheDirectory(), kPartialRecordName), recorded);
    Start();
    EXPECT_EQ(recorder.WaitForEnd().stage,
              resumed ? InstallStage::Completed : InstallStage::Failed);
    EXPECT_EQ(Log().substr(20, Log().find("\r\n") - 20), "[cache] " + line) << Log();
    const auto requests = server.Requests();
    const auto first = std::find_if(requests.begin(), requests.end(),
                                    [](const auto& r) { return r.path == kPackagePath; });
    ASSERT_EQ(first == requests.end(), whole);
    if (!whole) {
      EXPECT_EQ(first->Header("Range").value_or(""),
                resumed ? "bytes=" + std::to_string(half) + "-" : "");
      EXPECT_EQ(first->Header("If-Range").value_or(""), resumed ? "\"v1\"" : "");
    }
    // The bar starts at the share kept.
    for (const auto& s : recorder.Statuses()) {
      if (s.status.stage != InstallStage::Downloading) continue;
      EXPECT_EQ(s.status.progress, static_cast<int>((whole     ? size
                                                     : resumed ? half
                                                               : 0) *
                                                    85 / size));
      break;
    }
    // Installed, or failed with nothing received: neither the package nor the record stays.
    EXPECT_FALSE(test::PathExists(CachedPackage()));
    EXPECT_FALSE(test::PathExists(JoinPath(CacheDirectory(), kPartialRecordName)));
  }
}

struct PreparationCase {
  const char* name;
  const wchar_t* installedVersion;  // nullptr: not installed
  bool missingDrive;
  const wchar_t* errorCode;
  const wchar_t* message;
};

class PreparationFailureTest : public WorkflowTest,
                               public testing::WithParamInterface<PreparationCase> {};

TEST_P(PreparationFailureTest, FailsWithoutEventsOrDownload) {
  const PreparationCase& c = GetParam();
  if (c.installedVersion) {
    registry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", c.installedVersion);
    registry.SetString(KEY_WOW64_64KEY, L"InstallLocation", installDirectory);
  }
  if (c.missingDrive) options.installDirectory = L"Q:\\Apps\\VIVOV3";
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.stage, InstallStage::Failed);
  EXPECT_EQ(end.errorCode, c.errorCode);
  EXPECT_EQ(end.message, c.message);
  EXPECT_EQ(end.progress, 0);
  EXPECT_EQ(PackageRequests(), 0);
  EXPECT_TRUE(MetricsBodies().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, PreparationFailureTest,
                         testing::Values(PreparationCase{"downgrade", L"3.0", false, L"E_DOWNGRADE",
                                                         L"当前已安装更高版本，不能降级安装"},
                                         PreparationCase{"unreadable", L"v2.0", false,
                                                         L"E_LOCAL_VERSION", L"无法识别已安装版本"},
                                         PreparationCase{"nospace", nullptr, true, L"E_DISK_SPACE",
                                                         L"磁盘空间不足，请更换安装目录"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(WorkflowTest, SameOrOlderInstalledVersionIsInstalledOver) {
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  for (const wchar_t* installed : {L"2.0", L"1.9.9"}) {  // the package is 2.0.0
    SCOPED_TRACE(testing::PrintToString(installed));
    controller.reset();
    recorder.Clear();
    registry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", installed);
    registry.SetString(KEY_WOW64_64KEY, L"InstallLocation", installDirectory);
    Start();
    EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
    EXPECT_EQ(ReadRegistryString(KEY_WOW64_64KEY, L"DisplayVersion").value_or(L""), L"2.0.0");
  }
}

// Twice the package must be free: a package a little larger than half the free space is
// refused before anything is downloaded.
TEST_F(WorkflowTest, RefusedWhenTheVolumeHasLessThanTwiceThePackageFree) {
  const std::uint64_t free = AvailableDiskSpace(installDirectory);
  ASSERT_GT(free, 0u);
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Serve(package);
  test::RouteOptions manifest;
  manifest.body = test::ManifestFor(server, package, "2.0.0", free / 2 + 512 * 1024 * 1024);
  server.AddRoute(kManifestPath, manifest, "GET");
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_DISK_SPACE");
  EXPECT_EQ(end.message, L"磁盘空间不足，请更换安装目录");
  EXPECT_EQ(PackageRequests(), 0);
  EXPECT_TRUE(MetricsBodies().empty());
}

// A folder with something in it where the package should be: judged, then not removable.
TEST_F(WorkflowTest, InvalidCachedPackageThatCannotBeRemoved) {
  test::WriteFileBytes(CachedPackage() + L"\\inside.txt", "x");
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_VERIFY");
  EXPECT_EQ(end.message, L"安装包校验失败，请重新下载安装");
  EXPECT_TRUE(std::regex_match(
      Log(), std::regex("[0-9: -]{19} \\[cache\\] \xE5\xAE\x89\xE8\xA3\x85\xE5\x8C\x85\xE5\xA4\xA7"
                        "\xE5\xB0\x8F\xE6\xA0\xA1\xE9\xAA\x8C\xE5\xA4\xB1\xE8\xB4\xA5\r\n"
                        "[0-9: -]{19} \\[cache\\] \xE6\x97\xA0\xE6\xB3\x95\xE5\x88\xA0\xE9\x99\xA4"
                        "\xE6\x97\xA0\xE6\x95\x88\xE5\xAE\x89\xE8\xA3\x85\xE7\xBC\x93\xE5\xAD\x98"
                        "\xEF\xBC\x8C"
                        "error=145\r\n")))
      << Log();
  EXPECT_EQ(PackageRequests(), 0);
  EXPECT_TRUE(MetricsBodies().empty());
}

// A cached package that another process holds open for writing cannot be held for the run.
TEST_F(WorkflowTest, CachedPackageHeldByAWriterIsNotUsed) {
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  PutInCache(package.bytes);
  const KernelHandle writer(CreateFileW(CachedPackage().c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  ASSERT_TRUE(writer.IsValid());
  Serve(package);
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_VERIFY");
  EXPECT_NE(Log().find("[cache] \xE6\x97\xA0\xE6\xB3\x95\xE8\xAF\xBB\xE5\x8F\x96\xE5\xAE\x89"
                       "\xE8\xA3\x85\xE7\xBC\x93\xE5\xAD\x98\xEF\xBC\x8C"
                       "error=32\r\n"),
            std::string::npos)
      << Log();
  EXPECT_EQ(PackageRequests(), 0);
}

// A link at the working folder's name (only an administrator could put one there) is neither
// followed nor removed; nothing is downloaded, the run stops as with an unreadable cache.
TEST_F(WorkflowTest, ALinkAtTheWorkingFolderStopsTheRun) {
  const std::wstring outside = test::FreshScratchDirectory(L"squatter");
  test::WriteFileBytes(outside + L"\\keep.txt", "squatted");
  test::SymbolicLink(outside, CacheDirectory());
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_VERIFY");
  EXPECT_EQ(end.message, L"安装包校验失败，请重新下载安装");
  EXPECT_EQ(PackageRequests(), 0);
  EXPECT_TRUE(GetFileAttributesW(CacheDirectory().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(test::ReadFileBytes(outside + L"\\keep.txt"), "squatted");
  EXPECT_FALSE(test::PathExists(outside + L"\\installer.log"));
  test::RemoveWithoutFollowing(outside);
}

TEST_F(WorkflowTest, ManifestFailures) {
  RouteOptions down;
  down.status = 500;
  server.AddRoute(kManifestPath, down, "GET");
  Start();
  InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_NETWORK");
  EXPECT_EQ(end.message, L"当前网络不可用，请检查网络连接");
  // The transport's own text goes to the log.
  EXPECT_NE(Log().find("[manifest] \xE5\xAE\x89\xE8\xA3\x85\xE9\x85\x8D\xE7\xBD\xAE"),
            std::string::npos)
      << Log();

  controller.reset();
  recorder.Clear();
  RouteOptions broken;
  broken.body = "{\"schemaVersion\":";
  server.AddRoute(kManifestPath, broken, "GET");
  Start();
  end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_MANIFEST");
  EXPECT_EQ(end.message, L"安装配置格式无效");
  // The loader's own text goes to the log as well.
  EXPECT_NE(Log().find("[manifest] \xE5\xAE\x89\xE8\xA3\x85\xE9\x85\x8D\xE7\xBD\xAE\xE6\xA0\xBC"
                       "\xE5\xBC\x8F\xE6\x97\xA0\xE6\x95\x88\r\n"),
            std::string::npos)
      << Log();
  EXPECT_TRUE(MetricsBodies().empty());
}

TEST_F(WorkflowTest, RunningApplicationDeclined) {
  test::DemoAppProcess app;
  ASSERT_TRUE(app.Start(test::CopyDemoApp(installDirectory, L"lumora.exe")));
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  Serve(package);
  recorder.SetAnswers({false});
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_APP_RUNNING");
  EXPECT_EQ(end.message, L"安装前需要关闭LumoraMP3转换器");
  EXPECT_EQ(recorder.Questions(), std::vector<ConfirmationKind>{ConfirmationKind::CloseRunningApp});
  EXPECT_TRUE(app.IsRunning());
  // The verified package stays for the retry.
  EXPECT_TRUE(test::PathExists(CachedPackage()));
}

TEST_F(WorkflowTest, RunningApplicationClosesWithinTheWait) {
  test::DemoAppProcess app;
  ASSERT_TRUE(
      app.Start(test::CopyDemoApp(installDirectory, L"LUMORA.EXE"), L"--close-delay-ms 1000"));
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  recorder.SetAnswers({true});
  Start();
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  EXPECT_EQ(recorder.Questions(), std::vector<ConfirmationKind>{ConfirmationKind::CloseRunningApp});
  EXPECT_FALSE(app.IsRunning());
}

TEST_F(WorkflowTest, RunningApplicationIgnoringCloseIsTerminatedAfterTheSecondQuestion) {
  test::DemoAppProcess app;
  ASSERT_TRUE(app.Start(test::CopyDemoApp(installDirectory, L"lumora.exe"), L"--ignore-close"));
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  recorder.SetAnswers({true, true});
  Start();
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  EXPECT_EQ(recorder.Questions(),
            (std::vector<ConfirmationKind>{ConfirmationKind::CloseRunningApp,
                                           ConfirmationKind::ForceCloseRunningApp}));
  DWORD exitCode = 0;
  EXPECT_TRUE(app.WaitForExit(1000, exitCode));
  EXPECT_EQ(exitCode, 1u);
}

TEST_F(WorkflowTest, RunningApplicationNotForceClosed) {
  test::DemoAppProcess app;
  ASSERT_TRUE(app.Start(test::CopyDemoApp(installDirectory, L"lumora.exe"), L"--ignore-close"));
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  recorder.SetAnswers({true, false});
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.errorCode, L"E_APP_RUNNING");
  EXPECT_EQ(end.message, L"无法关闭正在运行的LumoraMP3转换器");
  EXPECT_EQ(recorder.Questions(),
            (std::vector<ConfirmationKind>{ConfirmationKind::CloseRunningApp,
                                           ConfirmationKind::ForceCloseRunningApp}));
  EXPECT_TRUE(app.IsRunning());
}

TEST_F(WorkflowTest, StartInstallWhileARunIsBusyDoesNothing) {
  RouteOptions slow;  // a download that lasts a second or two
  slow.trickleChunk = 4096;
  slow.trickleDelay = 0.02;
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"), slow);
  Start();
  recorder.WaitFor([](const InstallerStatus& s) {
    return s.stage == InstallStage::Downloading && s.progress > 0;
  });
  options.installDirectory = installRoot + L"\\Elsewhere";
  controller->StartInstall(options);
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  int preparing = 0;
  for (const auto& s : recorder.Statuses()) preparing += s.status.stage == InstallStage::Preparing;
  EXPECT_EQ(preparing, 1);
  int manifests = 0;
  for (const auto& request : server.Requests()) manifests += request.path == kManifestPath;
  EXPECT_EQ(manifests, 1);
  EXPECT_FALSE(test::PathExists(installRoot + L"\\Elsewhere"));
}

// Destroyed between two download attempts: the destructor waits out the rest of the delay,
// then the worker leaves with both cancel events and no further attempt.
TEST_F(WorkflowTest, DestroyedDuringTheRetryDelay) {
  RouteOptions failing;
  failing.status = 500;
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"), failing);
  Start();
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (PackageRequests() == 0 && std::chrono::steady_clock::now() < deadline) Sleep(10);
  ASSERT_EQ(PackageRequests(), 1);
  const auto destroying = std::chrono::steady_clock::now();
  controller.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - destroying, 1500ms) << "at most the 500 ms delay";
  EXPECT_EQ(PackageRequests(), 1);
  EXPECT_EQ(MetricsBodies(),
            (std::vector<std::string>{MetricsBody("web_install_download_start", ""),
                                      MetricsBody("web_install_cancel", "E_CANCELLED"),
                                      MetricsBody("web_install_download_failed", "E_CANCELLED")}));
  const auto statuses = recorder.Statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().status.errorCode, L"E_CANCELLED");
}

// The cache folder is writable by other processes of the user: between verification and the
// start of the package nothing may replace, rename or delete the verified bytes.
TEST_F(WorkflowTest, VerifiedPackageCannotBeSwappedBeforeItRuns) {
  test::DemoAppProcess app;
  ASSERT_TRUE(app.Start(test::CopyDemoApp(installDirectory, L"lumora.exe")));
  const Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  const std::string evil = test::ReadFileBytes(test::ArtifactPath(L"VIVOV3_Setup_x64_exit3.exe"));
  Serve(package);
  DWORD writeError = 0, renameError = 0, deleteError = 0;
  bool readable = false;
  // The question about the running application comes after verification and before the run.
  recorder.SetAnswers({true}, [&] {
    const std::wstring path = CachedPackage();
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (writer != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(writer, evil.data(), static_cast<DWORD>(evil.size()), &written, nullptr);
      CloseHandle(writer);
    }
    renameError = MoveFileW(path.c_str(), (path + L".moved").c_str()) ? 0 : GetLastError();
    deleteError = DeleteFileW(path.c_str()) ? 0 : GetLastError();
    readable = test::ReadFileBytes(path) == package.bytes;
  });
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_NE(renameError, 0u);
  EXPECT_NE(deleteError, 0u);
  EXPECT_TRUE(readable) << "others may still read the package";
  // The bytes that ran are the verified ones: the real package, not the exit-3 variant.
  EXPECT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  EXPECT_TRUE(test::PathExists(installDirectory + L"\\setup_command_line.txt"));
}

struct ExitCodeCase {
  const wchar_t* artifact;
  const char* errorCode;
  const wchar_t* message;
  const char* log;
};

TEST_F(WorkflowTest, PackageExitCodesTwoAndThree) {
  const ExitCodeCase cases[] = {{L"VIVOV3_Setup_x64_exit2.exe", "E_DISK_SPACE",
                                 L"磁盘空间不足，请更换安装目录", "[install] NSIS exit code 2\r\n"},
                                {L"VIVOV3_Setup_x64_exit3.exe", "E_INSTALL",
                                 L"安装失败，请稍后重试", "[install] NSIS exit code 3\r\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errorCode);
    controller.reset();
    recorder.Clear();
    server.Reset();
    RemoveCacheFolders();
    Serve(LoadPackage(c.artifact));
    Start();
    const InstallerStatus end = recorder.WaitForEnd();
    EXPECT_EQ(WideToUtf8(end.errorCode), c.errorCode);
    EXPECT_EQ(end.message, c.message);
    EXPECT_NE(Log().find(c.log), std::string::npos) << Log();
    const auto bodies = MetricsBodies();
    ASSERT_FALSE(bodies.empty());
    EXPECT_EQ(bodies.back(), MetricsBody("web_install_failed", c.errorCode));
    EXPECT_TRUE(test::PathExists(CachedPackage())) << "kept for a retry";
  }
}

TEST_F(WorkflowTest, RefusedElevationIsReportedAsUac) {
  // Wine runs everything elevated and has no elevation prompt, so neither an unelevated start
  // nor ERROR_CANCELLED can happen there: the one seam.
  const auto refuse = [](SHELLEXECUTEINFOW*) -> BOOL {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  };
  const ShellExecuteExFunction previous = UseElevationPromptForTesting(refuse);
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  const InstallerStatus end = recorder.WaitForEnd();
  UseElevationPromptForTesting(previous);
  EXPECT_EQ(end.errorCode, L"E_UAC");
  EXPECT_EQ(end.message, L"未获得安装权限，请重新授权");
  EXPECT_NE(Log().find("[install] \xE7\x94\xA8\xE6\x88\xB7\xE5\x8F\x96\xE6\xB6\x88"),
            std::string::npos)
      << Log();
  EXPECT_EQ(MetricsBodies().back(), MetricsBody("web_install_failed", "E_UAC"));

  // The verified package stays; the retry reuses it without downloading.
  controller.reset();
  recorder.Clear();
  Start();
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  EXPECT_EQ(PackageRequests(), 1);
}

TEST_F(WorkflowTest, MetricsEndpointFailuresDoNotAffectTheInstallation) {
  RouteOptions notFound;
  notFound.status = 404;
  server.AddRoute(kMetricsPath, notFound, "POST");
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  EXPECT_EQ(MetricsBodies().size(), 5u);

  // An endpoint that does not answer within its time-outs.
  controller.reset();
  recorder.Clear();
  server.Reset();
  RemoveCacheFolders();
  RouteOptions silent;
  silent.stallBeforeHeaders = 30;
  server.AddRoute(kMetricsPath, silent, "POST");
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  Start();
  EXPECT_EQ(recorder.WaitForEnd(180s).stage, InstallStage::Completed);
  server.Reset();  // wakes the stalled handlers
}

}  // namespace
}  // namespace lum::installer
