// The receive time-outs of the three kinds of request, each against a server that stops
// answering. They are measured side by side: each is a wait, and one after another they would
// take over a minute of the suite.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/installer_controller.h"
#include "net/download.h"
#include "net/https_transport.h"
#include "net/metrics.h"
#include "tests/net/server_test_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using std::chrono::seconds;
using std::chrono::steady_clock;
using test::RouteOptions;

constexpr std::uint64_t kSize = 300000;
constexpr char kMetricsPath[] = "/metrics/report/";

struct Measured {
  bool succeeded = true;
  std::wstring message;
  steady_clock::duration elapsed{};
};

// Runs each request on a thread of its own and waits for all of them.
std::vector<Measured> SideBySide(const std::vector<std::function<bool(std::wstring&)>>& requests) {
  std::vector<Measured> results(requests.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < requests.size(); ++i) {
    threads.emplace_back([&, i] {
      const auto start = steady_clock::now();
      results[i].succeeded = requests[i](results[i].message);
      results[i].elapsed = steady_clock::now() - start;
    });
  }
  for (std::thread& thread : threads) thread.join();
  return results;
}

class ReceiveTimeOutTest : public test::ServerTest {};

TEST_F(ReceiveTimeOutTest, EachRequestGivesUpAfterItsOwnTimeOut) {
  server.AddRoute("/doc", RouteOptions{.body = "{}", .stallBeforeHeaders = 120});
  server.AddRoute("/packages/setup.exe",
                  RouteOptions{.generate = kSize, .stallAfter = 70000, .stallSeconds = 120});
  server.AddRoute("/packages/silent.exe",
                  RouteOptions{.generate = kSize, .stallBeforeHeaders = 120});
  // Far longer than the report's receive time-out.
  server.AddRoute(kMetricsPath, RouteOptions{.stallBeforeHeaders = 60}, "POST");
  const std::wstring folder = test::FreshScratchDirectory(L"receive-timeout");
  const std::wstring destination = folder + L"\\VIVOV3_Setup_x64.exe";
  std::atomic<bool> cancel{false};
  InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);

  const std::vector<Measured> results = SideBySide({
      [&](std::wstring& message) {
        std::string body;
        return FetchSmallDocument(server.LocalhostUrl(L"/doc"), &body, &message);
      },
      [&](std::wstring& message) {
        return DownloadToFile(server.LocalhostUrl(L"/packages/setup.exe"), destination, kSize,
                              cancel, nullptr, &message);
      },
      [&](std::wstring& message) {
        return PostJson(server.LoopbackUrl(L"/metrics/report/"), "{}", &message);
      },
      [&](std::wstring& message) {
        return DownloadToFile(server.LocalhostUrl(L"/packages/silent.exe"),
                              folder + L"\\silent.exe", kSize, cancel, nullptr, &message);
      },
      [&](std::wstring&) {
        // The controller's event returns the same way, whatever the outcome.
        controller.SendMetricsEvent("web_install_start", L"");
        return false;
      },
  });

  // The manifest: 30 s; the package, whose body or headers stall: 10 s; a report: 5 s; each
  // give or take a fifth.
  EXPECT_FALSE(results[0].succeeded);
  EXPECT_EQ(results[0].message, L"网络请求失败");
  EXPECT_TRUE(test::WithinAFifthOf(results[0].elapsed, seconds(30))) << "manifest";
  EXPECT_FALSE(results[1].succeeded);
  EXPECT_EQ(results[1].message, L"下载停滞：10 秒未收到数据");
  EXPECT_TRUE(test::WithinAFifthOf(results[1].elapsed, seconds(10))) << "package";
  EXPECT_FALSE(results[2].succeeded);
  EXPECT_EQ(results[2].message, L"埋点请求失败");
  EXPECT_TRUE(test::WithinAFifthOf(results[2].elapsed, seconds(5))) << "report";
  EXPECT_FALSE(results[3].succeeded);
  EXPECT_EQ(results[3].message, L"网络请求失败");
  EXPECT_TRUE(test::WithinAFifthOf(results[3].elapsed, seconds(10))) << "package's headers";
  EXPECT_TRUE(test::WithinAFifthOf(results[4].elapsed, seconds(5))) << "controller's event";

  // The package's bytes before the stall are kept for the next attempt.
  const std::string kept = test::ReadFileBytes(destination);
  EXPECT_LE(kept.size(), 70000u);
  EXPECT_TRUE(
      test::SameBytes(kept, test::ReleaseServer::GeneratedBytes(0, kSize).substr(0, kept.size())));
  EXPECT_EQ(server.Requests().size(), 5u);
  server.Reset();  // wakes the stalled handlers
}

}  // namespace
}  // namespace lum::installer
