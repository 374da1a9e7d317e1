// The log lines of failed fetches, download attempts and verifications, after a whole run each
// against the release server: every line after its timestamp, the fixed ones and the details.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "base/text.h"
#include "system/payload_verification.h"
#include "tests/core/workflow_fixture.h"

namespace lum::installer {
namespace {

using test::RouteOptions;

// The log without its timestamps, one entry per line; the run's seconds read N.
std::vector<std::string> LogLines(const std::string& log) {
  static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*)\r\n)");
  std::vector<std::string> lines;
  std::size_t consumed = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    if (static_cast<std::size_t>(it->position()) != consumed) break;
    lines.push_back(std::regex_replace(it->str(1), std::regex(R"(seconds=\d+)"), "seconds=N"));
    consumed += it->length();
  }
  if (consumed != log.size()) lines.push_back("not a line: " + log.substr(consumed));
  return lines;
}

enum class Host { Served, Closed, UntrustedTls };

struct LogCase {
  const char* name;
  const wchar_t* artifact = L"VIVOV3_Setup_x64.exe";  // what the package route serves
  Host manifestHost = Host::Served;
  std::optional<int> manifestStatus;
  Host packageHost = Host::Served;
  std::vector<RouteOptions> packageResponses;  // in turn, the file unless a status is given
  bool wrongDigest = false;                    // the manifest announces 64 zeros
  std::size_t cachedBytes = 0;                 // a partial package in the cache
  // A first URL, before the package's (then its mirror): its host and responses (the package
  // with one byte flipped unless a status is given), and the Range the mirror is then asked for.
  std::optional<Host> firstHost;
  std::vector<RouteOptions> firstResponses;
  std::optional<std::string> mirrorRange;
  const wchar_t* errorCode = L"";  // of the last status; empty: Completed
  // {size}, {sha256}, {url}: the served package's; {first}: the first URL; {wrong_sha256}
  std::vector<std::string> lines;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class FailureLogTest : public WorkflowTest, public testing::WithParamInterface<LogCase> {
 protected:
  std::wstring Origin(Host host) {
    switch (host) {
      case Host::Served:
        return server.LocalhostUrl(L"");
      case Host::Closed:
        return L"https://127.0.0.1:" + std::to_wstring(test::ClosedLoopbackPort());
      case Host::UntrustedTls:
        return L"https://localhost:" + std::to_wstring(server.OpenListener("untrusted"));
    }
    return {};
  }
};

TEST_P(FailureLogTest, FixedLinesThenDetails) {
  const LogCase& c = GetParam();
  const test::Package package = test::LoadPackage(c.artifact);
  test::Package announced = package;
  if (c.wrongDigest) announced.sha256 = std::string(64, '0');
  test::ReleaseServer::WriteServedFile("VIVOV3_Setup_x64.exe", package.bytes);

  const std::string url = WideToUtf8(Origin(c.packageHost)) + kPackagePath;
  const std::string first =
      c.firstHost ? WideToUtf8(Origin(*c.firstHost)) + "/first/VIVOV3_Setup_x64.exe" : url;
  std::string wrong = package.bytes;
  wrong[wrong.size() / 2] ^= 0x01;
  if (c.firstHost) {
    test::ReleaseServer::WriteServedFile("wrong.exe", wrong);
    std::vector<RouteOptions> responses = c.firstResponses;
    for (RouteOptions& response : responses) {
      if (!response.status) response.file = "wrong.exe";
    }
    server.AddRouteSequence("/first/VIVOV3_Setup_x64.exe", responses, "GET");
  }
  // The manifest's url is the first URL, and the package's is its mirror.
  std::string body = test::ManifestFor(server, announced);
  const std::string served = WideToUtf8(server.LocalhostUrl(L"")) + kPackagePath + '"';
  body.replace(body.find(served), served.size(),
               first + (c.firstHost ? R"(","mirrors":[")" + url + "\"]" : std::string("\"")));
  server.AddRoute(kManifestPath, RouteOptions{.body = body, .status = c.manifestStatus}, "GET");
  std::vector<RouteOptions> responses = c.packageResponses;
  if (responses.empty()) responses.emplace_back();
  for (RouteOptions& response : responses) {
    if (!response.status) response.file = "VIVOV3_Setup_x64.exe";
  }
  server.AddRouteSequence(kPackagePath, responses, "GET");
  if (c.cachedBytes) PutInCache(package.bytes.substr(0, c.cachedBytes));

  Start(L"baidu2", Origin(c.manifestHost) + L"/storage/manifest.json");
  const InstallerStatus end = recorder.WaitForEnd();
  EXPECT_EQ(end.stage, *c.errorCode ? InstallStage::Failed : InstallStage::Completed);
  EXPECT_EQ(end.errorCode, c.errorCode);

  Sha256 hash;
  hash.Update(wrong.data(), wrong.size());
  std::wstring wrongDigest, ignored;
  ASSERT_TRUE(hash.Finish(wrongDigest, ignored));
  std::vector<std::string> expected = c.lines;
  for (std::string& text : expected) {
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"size", std::to_string(package.bytes.size())},
          {"sha256", package.sha256},
          {"url", url},
          {"first", first},
          {"wrong_sha256", WideToUtf8(wrongDigest)}}) {
      text = std::regex_replace(text, std::regex("\\{" + name + "\\}"), value);
    }
  }
  EXPECT_EQ(LogLines(Log()), expected);

  // However many URLs and attempts: one start event, at most one failure event.
  const std::vector<std::string> bodies = MetricsBodies();
  for (const auto& [event, code] : {std::pair{"web_install_download_start", ""},
                                    {"web_install_download_failed", "E_DOWNLOAD"}}) {
    EXPECT_LE(std::count(bodies.begin(), bodies.end(), test::MetricsBody(event, code)), 1) << event;
  }
  std::optional<std::string> range;
  for (const auto& request : server.Requests()) {
    if (request.path == kPackagePath) range = request.Header("Range").value_or("");
  }
  if (c.mirrorRange) {
    EXPECT_EQ(range, c.mirrorRange);
  }
}

// Three attempts at the package's URL, or at the first URL and then the package's.
std::vector<std::string> ThreeAttempts(const std::string& detail, const std::string& first = "") {
  std::vector<std::string> lines;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    const std::string prefix = "[cache] 第 " + std::to_string(attempt) + " 次下载失败（";
    if (!first.empty()) lines.push_back(prefix + "{first}）：" + first);
    lines.push_back(prefix + "{url}）：" + detail);
  }
  return lines;
}

const std::string kZeros(64, '0');

INSTANTIATE_TEST_SUITE_P(
    Table, FailureLogTest,
    testing::Values(
        LogCase{
            .name = "manifest_refused_connection",
            .manifestHost = Host::Closed,
            .errorCode = L"E_NETWORK",
            .lines = {"[manifest] 网络请求失败",
                      "[manifest] 获取安装配置失败：网络请求失败，WinHTTP 12029，已收到 0 字节"}},
        LogCase{
            .name = "manifest_500",
            .manifestStatus = 500,
            .errorCode = L"E_NETWORK",
            .lines = {"[manifest] 安装配置服务返回异常状态",
                      "[manifest] 获取安装配置失败：安装配置服务返回异常状态，HTTP 500，已收到 0 "
                      "字节"}},
        LogCase{.name = "package_refused_connection",
                .packageHost = Host::Closed,
                .errorCode = L"E_DOWNLOAD",
                .lines = ThreeAttempts("网络请求失败，WinHTTP 12029，已收到 0 字节")},
        // Wine fails the handshake with 12157 (secure channel error); Windows says 12175.
        LogCase{.name = "package_untrusted_server_certificate",
                .packageHost = Host::UntrustedTls,
                .errorCode = L"E_DOWNLOAD",
                .lines = ThreeAttempts("网络请求失败，WinHTTP 12157，已收到 0 字节")},
        LogCase{.name = "package_404",
                .packageResponses = {{.status = 404}},
                .errorCode = L"E_DOWNLOAD",
                .lines = ThreeAttempts("下载服务器返回异常状态，HTTP 404，已收到 0 字节")},
        LogCase{.name = "package_500",
                .packageResponses = {{.status = 500}},
                .errorCode = L"E_DOWNLOAD",
                .lines = ThreeAttempts("下载服务器返回异常状态，HTTP 500，已收到 0 字节")},
        // Each attempt resumes where the one before was cut off; the third gets the rest.
        LogCase{.name = "package_dropped_twice",
                .packageResponses = {{.closeAfter = 100000}, {.closeAfter = 150000}, {}},
                .lines = {"[cache] 第 1 次下载失败（{url}）：安装包下载不完整，已收到 100000 字节",
                          "[cache] 第 2 次下载失败（{url}）：安装包下载不完整，已收到 150000 字节",
                          "[complete] elapsed_seconds=N"}},
        // Wine's WinVerifyTrust passes a chain to an untrusted root (Windows: 0x800B0109); the
        // chain's status is CERT_TRUST_IS_UNTRUSTED_ROOT either way.
        LogCase{
            .name = "untrusted_signature",
            .artifact = L"verify\\untrusted.exe",
            .errorCode = L"E_VERIFY",
            .lines = {"[verify] 安装包数字签名无效",
                      "[verify] 签名校验失败：WinVerifyTrust 0x00000000，证书链状态 0x00000020"}},
        LogCase{.name = "unsigned",
                .artifact = L"VIVOV3_Setup_x64_unsigned_v3.exe",
                .errorCode = L"E_VERIFY",
                .lines = {"[verify] 安装包数字签名无效",
                          "[verify] 签名校验失败：WinVerifyTrust 0x800B0100，无证书链"}},
        LogCase{.name = "digest_mismatch",
                .wrongDigest = true,
                .errorCode = L"E_VERIFY",
                .lines = {"[verify] 安装包 SHA-256 校验失败",
                          "[verify] SHA-256 校验失败：应为 " + kZeros + "，实为 {sha256}"}},
        // A URL list: each way the first URL can fail moves on to the mirror, which installs.
        LogCase{.name = "first_url_503",
                .firstHost = Host::Served,
                .firstResponses = {{.status = 503}},
                .lines = {"[cache] 第 1 次下载失败（{first}）：下载服务器返回异常状态，HTTP 503，"
                          "已收到 0 字节",
                          "[complete] elapsed_seconds=N"}},
        LogCase{
            .name = "first_url_refusing_connections",
            .firstHost = Host::Closed,
            .lines = {"[cache] 第 1 次下载失败（{first}）：网络请求失败，WinHTTP 12029，已收到 0 "
                      "字节",
                      "[complete] elapsed_seconds=N"}},
        // The bytes before the stall are kept: the mirror is asked for the rest. Wine's read
        // fails with the socket's time-out (Windows 10060); Windows' with WinHTTP 12002.
        LogCase{.name = "first_url_stalling",
                .firstHost = Host::Served,
                .firstResponses = {{.stallAfter = 100000}},
                .mirrorRange = "bytes=100000-",
                .lines = {"[cache] 第 1 次下载失败（{first}）：下载停滞：10 秒未收到数据，Windows "
                          "10060，已收到 100000 字节",
                          "[complete] elapsed_seconds=N"}},
        LogCase{
            .name = "first_url_serving_wrong_bytes",
            .firstHost = Host::Served,
            .firstResponses = {{}},
            .mirrorRange = "",
            .lines = {"[cache] 第 1 次下载失败（{first}）：SHA-256 校验失败：应为 {sha256}，实为 "
                      "{wrong_sha256}，已收到 {size} 字节",
                      "[complete] elapsed_seconds=N"}},
        LogCase{.name = "every_url_failing",
                .packageResponses = {{.status = 404}},
                .firstHost = Host::Served,
                .firstResponses = {{.status = 503}},
                .errorCode = L"E_DOWNLOAD",
                .lines = ThreeAttempts("下载服务器返回异常状态，HTTP 404，已收到 0 字节",
                                       "下载服务器返回异常状态，HTTP 503，已收到 0 字节")},
        LogCase{.name = "cached_partial_package",
                .cachedBytes = 1000,
                .lines = {"[cache] 安装包大小校验失败",
                          "[cache] 大小校验失败：应为 {size} 字节，实为 1000 字节",
                          "[complete] elapsed_seconds=N"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace lum::installer
