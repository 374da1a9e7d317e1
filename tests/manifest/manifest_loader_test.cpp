// LoadManifest against the release server, and the payload version it adds to every event.
#include <gtest/gtest.h>

#include <string>

#include "core/installer_controller.h"
#include "tests/net/server_test_fixture.h"

namespace lum::installer {
namespace {

std::string Manifest(const std::string& version, const std::string& publisher) {
  return R"({"schemaVersion":1,"minimumBootstrapperVersion":"1.0.0","sequence":1,"payloads":{"p":{"version":")" +
         version +
         R"(","architecture":"x64","mode":"bundled","url":"https://localhost/p.exe",)"
         R"("sha256":"ABCDEFabcdef0123456789abcdef0123456789abcdef0123456789abcdef0123",)"
         R"("publisher":")" +
         publisher + R"(","size":1000}},"channels":{"baidu2":"p"}})";
}

class ManifestLoaderTest : public test::ServerTest {
 protected:
  void Serve(const test::RouteOptions& route) {
    server.AddRoute("/storage/manifest.json", route, "GET");
  }
  void ServeBody(const std::string& body) {
    test::RouteOptions route;
    route.body = body;
    Serve(route);
  }

  InstallerController controller{L"baidu2", server.LocalhostUrl(L"/storage/manifest.json"), nullptr,
                                 nullptr};
  std::wstring message = L"stale";
  bool networkFailed = false;
};

TEST_F(ManifestLoaderTest, AcceptsAndKeepsTheEntryOfItsChannel) {
  ServeBody(Manifest("2.1.0", "VELMONT HARBOR network technology co., ltd."));
  ASSERT_TRUE(controller.LoadManifest(message, networkFailed));
  EXPECT_TRUE(message.empty());
  EXPECT_FALSE(networkFailed);
  const auto payload = controller.CurrentPayload();
  ASSERT_TRUE(payload.has_value());
  EXPECT_EQ(payload->name, L"p");
  EXPECT_EQ(payload->version, L"2.1.0");
  EXPECT_EQ(payload->size, 1000u);
  EXPECT_EQ(payload->sha256, L"ABCDEFabcdef0123456789abcdef0123456789abcdef0123456789abcdef0123");
}

TEST_F(ManifestLoaderTest, FetchFailureIsANetworkFailure) {
  test::RouteOptions down;
  down.status = 500;
  Serve(down);
  EXPECT_FALSE(controller.LoadManifest(message, networkFailed));
  EXPECT_TRUE(networkFailed);
  EXPECT_EQ(message, L"安装配置服务返回异常状态");
}

TEST_F(ManifestLoaderTest, RefusedContentIsNotANetworkFailure) {
  ServeBody(Manifest("2.1.0", "Another Company Ltd."));
  EXPECT_FALSE(controller.LoadManifest(message, networkFailed));
  EXPECT_FALSE(networkFailed);
  EXPECT_EQ(message, L"安装包发布者配置不受信任");

  ServeBody("[]");
  EXPECT_FALSE(controller.LoadManifest(message, networkFailed));
  EXPECT_EQ(message, L"安装配置格式无效");
  EXPECT_FALSE(controller.CurrentPayload().has_value());
}

TEST_F(ManifestLoaderTest, LaterLoadsOverwriteOnSuccessAndKeepOnFailure) {
  ServeBody(Manifest("2.1.0", "Velmont Harbor Network Technology Co., Ltd."));
  ASSERT_TRUE(controller.LoadManifest(message, networkFailed));
  ServeBody(Manifest("2.2.0", "Velmont Harbor Network Technology Co., Ltd."));
  ASSERT_TRUE(controller.LoadManifest(message, networkFailed));
  EXPECT_EQ(controller.CurrentPayload()->version, L"2.2.0");

  ServeBody(Manifest("not-a-version", "Velmont Harbor Network Technology Co., Ltd."));
  EXPECT_FALSE(controller.LoadManifest(message, networkFailed));
  EXPECT_EQ(message, L"安装包配置不安全或不完整");
  EXPECT_EQ(controller.CurrentPayload()->version, L"2.2.0");

  // Every event carries the held entry's version, also after the failed load.
  controller.SendMetricsEvent("web_install_start", L"");
  std::string body;
  for (const auto& request : server.Requests()) {
    if (request.path == "/metrics/report/") body = request.body;
  }
  EXPECT_EQ(body, R"({"bootstrapper_version":"1.0.0","channel_id":"baidu2","error_code":"",)"
                  R"("event":"web_install_start","payload_version":"2.2.0"})");
}

}  // namespace
}  // namespace lum::installer
