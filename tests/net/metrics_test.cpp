#include "net/metrics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/installer_controller.h"
#include "net/metrics_event.h"
#include "tests/net/server_test_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using test::RecordedRequest;
using test::RouteOptions;

constexpr char kMetricsPath[] = "/metrics/report/";
constexpr wchar_t kBadStatus[] = L"埋点服务返回异常状态";
constexpr wchar_t kRequestFailed[] = L"埋点请求失败";
// The longest a report may take: resolve, connect, send and receive time-outs added up.
constexpr auto kReportBound = std::chrono::seconds(3 + 3 + 5 + 5);

class MetricsTest : public test::ServerTest {
 protected:
  // The body of the one report the server got.
  std::string OnlyReportBody() {
    const auto requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    if (requests.empty()) return {};
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, kMetricsPath);
    return requests[0].body;
  }
};

TEST_F(MetricsTest, PostJsonSendsTheBodyUnchanged) {
  const std::string body = "{\"channel_id\":\"渠道\",\"event\":\"x\"}";
  std::wstring message = L"old";
  ASSERT_TRUE(PostJson(server.LoopbackUrl(L"/metrics/report/"), body, &message));
  EXPECT_TRUE(message.empty());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, kMetricsPath);
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.Header("Content-Type"), "application/json");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.Header("User-Agent"), "LUMWebBootstrapper/1.0");
  EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
}

TEST(MetricsEventBodyTest, CompactOrderedByNameAndRawUtf8) {
  struct Case {
    MetricsEvent event;
    std::string expected;
  };
  const Case cases[] = {
      {{"web_install_download_failed", L"baidu2", L"1.0.0", L"E_DOWNLOAD", std::nullopt},
       R"({"bootstrapper_version":"1.0.0","channel_id":"baidu2","error_code":"E_DOWNLOAD",)"
       R"("event":"web_install_download_failed"})"},
      {{"web_install_start", L"bing", L"1.0.0", L"", L"2.10.3"},
       R"({"bootstrapper_version":"1.0.0","channel_id":"bing","error_code":"","event":)"
       R"("web_install_start","payload_version":"2.10.3"})"},
      {{"web_install_failed", L"渠道", L"1.0.0", L"安装失败 \"E\"\\", std::nullopt},
       R"({"bootstrapper_version":"1.0.0","channel_id":"渠道","error_code":"安装失败 \"E\"\\",)"
       R"("event":"web_install_failed"})"},
      // An unpaired surrogate becomes U+FFFD instead of losing the report.
      {{"web_install_cancel", L"bing", L"1.0.0", std::wstring(L"E") + wchar_t(0xD800) + L"X",
        std::nullopt},
       "{\"bootstrapper_version\":\"1.0.0\",\"channel_id\":\"bing\",\"error_code\":"
       "\"E\xEF\xBF\xBDX\","
       "\"event\":\"web_install_cancel\"}"},
      // An event name that is not UTF-8 cannot be written at all.
      {{"web_\xFF", L"bing", L"1.0.0", L"", std::nullopt}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MetricsEventBody(c.event), c.expected) << c.event.name;
}

TEST_F(MetricsTest, OpenEventIsSentOnceWithFourMembers) {
  {
    InstallerController controller(L"baidu2", L"https://localhost/", nullptr, nullptr);
    controller.StartOpenEventThread();
    controller.StartOpenEventThread();
  }
  EXPECT_EQ(OnlyReportBody(),
            R"({"bootstrapper_version":"1.0.0","channel_id":"baidu2","error_code":"",)"
            R"("event":"web_install_open"})");
}

TEST_F(MetricsTest, DestructionWaitsForThePendingOpenEvent) {
  // The answer comes late but within the time-outs; the destructor must not abandon it.
  server.AddRoute(kMetricsPath, RouteOptions{.status = 204, .stallBeforeHeaders = 2}, "POST");
  {
    InstallerController controller(L"huawei", L"https://localhost/", nullptr, nullptr);
    controller.StartOpenEventThread();
  }
  EXPECT_EQ(OnlyReportBody(),
            R"({"bootstrapper_version":"1.0.0","channel_id":"huawei","error_code":"",)"
            R"("event":"web_install_open"})");
}

TEST_F(MetricsTest, Only2xxAnswersCountAsSuccess) {
  const int plainPort = server.OpenListener("plain");
  ASSERT_NE(plainPort, 0);
  struct Case {
    RouteOptions response;
    bool success;
  };
  const Case cases[] = {
      {{.status = 200}, true},
      {{.status = 204}, true},
      {{.body = "{\"ok\":true}", .status = 299}, true},
      {{.redirect = "http://127.0.0.1:" + std::to_string(plainPort) + kMetricsPath}, false},
      {{.body = "missing", .status = 404}, false},
      {{.status = 500}, false},
  };
  for (const Case& c : cases) {
    server.AddRoute(kMetricsPath, c.response, "POST");
    std::wstring message = L"old";
    EXPECT_EQ(PostJson(server.LoopbackUrl(L"/metrics/report/"), "{}", &message), c.success)
        << c.response.status.value_or(302);
    if (!c.response.redirect.empty()) {
      // Not followed to plain HTTP. Windows hands the 302 back; Wine fails the receive instead.
      EXPECT_TRUE(message == kBadStatus || message == kRequestFailed)
          << testing::PrintToString(message);
    } else {
      EXPECT_EQ(message, c.success ? L"" : kBadStatus);
    }
  }
  for (const RecordedRequest& r : server.Requests()) EXPECT_EQ(r.listener, "main");
}

TEST_F(MetricsTest, UnreachableEndpointFailsQuickly) {
  const auto start = std::chrono::steady_clock::now();
  std::wstring message;
  EXPECT_FALSE(PostJson(
      L"https://127.0.0.1:" + std::to_wstring(test::ClosedLoopbackPort()) + L"/metrics/report/",
      "{}", &message));
  EXPECT_EQ(message, kRequestFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kReportBound);
}

TEST_F(MetricsTest, RefusedBeforeAnyConnection) {
  std::wstring message;
  EXPECT_FALSE(PostJson(L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/metrics/report/",
                        "{}", &message));
  EXPECT_EQ(message, L"下载地址必须使用 HTTPS");
  EXPECT_FALSE(PostJson(server.LoopbackUrl(L"/metrics/report/"), "{}", nullptr));
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(server.Connections().count, 0);
}

}  // namespace
}  // namespace lum::installer
