// The log lines of failed fetches, download attempts and verifications, after a whole run each
// against the release server: every line after its timestamp, the fixed ones and the details.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "base/text.h"
#include "tests/core/workflow_fixture.h"

namespace lum::installer {
namespace {

using test::LoadPackage;
using test::Package;
using test::RouteOptions;

// The log without its timestamps, one entry per line; the run's seconds read N.
std::vector<std::string> LogLines(const std::string& log) {
  static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*)\r\n)");
  static const std::regex seconds(R"(elapsed_seconds=\d+)");
  std::vector<std::string> lines;
  std::size_t consumed = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    if (static_cast<std::size_t>(it->position()) != consumed) break;  // not a line of the log
    lines.push_back(std::regex_replace(it->str(1), seconds, "elapsed_seconds=N"));
    consumed += it->length();
  }
  if (consumed != log.size()) lines.push_back("<malformed: " + log.substr(consumed) + ">");
  return lines;
}

struct LogCase {
  const char* name;
  const wchar_t* artifact = L"VIVOV3_Setup_x64.exe";  // what the package route serves
  std::vector<RouteOptions> packageResponses;         // in turn; none: the file itself
  bool packageUnreachable = false;                    // the manifest names a closed port
  bool packageUntrustedTls = false;  // ... a listener whose certificate the prefix does not trust
  bool manifestUnreachable = false;
  std::optional<int> manifestStatus;
  bool wrongDigest = false;        // the manifest announces 64 zeros
  std::size_t cachedBytes = 0;     // a partial package in the cache
  const wchar_t* errorCode = L"";  // of the last status; empty: Completed
  std::vector<std::string> (*lines)(const Package& served);
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class FailureLogTest : public WorkflowTest, public testing::WithParamInterface<LogCase> {};

TEST_P(FailureLogTest, FixedLinesThenDetails) {
  const LogCase& c = GetParam();
  const Package package = LoadPackage(c.artifact);
  Package announced = package;
  if (c.wrongDigest) announced.sha256 = std::string(64, '0');
  test::ReleaseServer::WriteServedFile("VIVOV3_Setup_x64.exe", package.bytes);

  const std::wstring closed = L"https://127.0.0.1:" + std::to_wstring(test::ClosedLoopbackPort());
  RouteOptions manifest;
  manifest.body = test::ManifestFor(server, announced);
  if (c.packageUnreachable || c.packageUntrustedTls) {
    const std::wstring host =
        c.packageUnreachable
            ? closed
            : L"https://localhost:" + std::to_wstring(server.OpenListener("untrusted"));
    const std::string served = WideToUtf8(server.LocalhostUrl(L""));
    manifest.body->replace(manifest.body->find(served), served.size(), WideToUtf8(host));
  }
  manifest.status = c.manifestStatus;
  server.AddRoute(kManifestPath, manifest, "GET");
  std::vector<RouteOptions> responses = c.packageResponses;
  if (responses.empty()) responses.emplace_back();
  for (RouteOptions& response : responses) {
    if (!response.status) response.file = "VIVOV3_Setup_x64.exe";
  }
  server.AddRouteSequence(kPackagePath, responses, "GET");
  if (c.cachedBytes) PutInCache(package.bytes.substr(0, c.cachedBytes));

  Start(L"baidu2", c.manifestUnreachable ? closed + L"/storage/manifest.json" : L"");
  const InstallerStatus end = recorder.WaitForEnd();
  if (*c.errorCode) {
    EXPECT_EQ(end.stage, InstallStage::Failed);
    EXPECT_EQ(end.errorCode, c.errorCode);
  } else {
    EXPECT_EQ(end.stage, InstallStage::Completed) << WideToUtf8(end.message);
  }
  EXPECT_EQ(LogLines(Log()), c.lines(package));
}

std::vector<std::string> ThreeAttempts(const std::string& detail) {
  std::vector<std::string> lines;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    lines.push_back("[cache] 第 " + std::to_string(attempt) + " 次下载失败：" + detail);
  }
  return lines;
}

RouteOptions Status(int status) { return RouteOptions{.status = status}; }
RouteOptions DroppedAfter(std::uint64_t bytes) { return RouteOptions{.closeAfter = bytes}; }

INSTANTIATE_TEST_SUITE_P(
    Table, FailureLogTest,
    testing::Values(
        LogCase{.name = "manifest_refused_connection",
                .manifestUnreachable = true,
                .errorCode = L"E_NETWORK",
                .lines = [](const Package&) -> std::vector<std::string> {
                  return {
                      "[manifest] 网络请求失败",
                      "[manifest] 获取安装配置失败：网络请求失败，WinHTTP 12029，已收到 0 字节"};
                }},
        LogCase{.name = "manifest_500",
                .manifestStatus = 500,
                .errorCode = L"E_NETWORK",
                .lines = [](const Package&) -> std::vector<std::string> {
                  return {
                      "[manifest] 安装配置服务返回异常状态",
                      "[manifest] 获取安装配置失败：安装配置服务返回异常状态，HTTP 500，已收到 0 "
                      "字节"};
                }},
        LogCase{.name = "package_refused_connection",
                .packageUnreachable = true,
                .errorCode = L"E_DOWNLOAD",
                .lines =
                    [](const Package&) {
                      return ThreeAttempts("网络请求失败，WinHTTP 12029，已收到 0 字节");
                    }},
        // Wine fails the handshake with 12157 (secure channel error); Windows says 12175.
        LogCase{.name = "package_untrusted_server_certificate",
                .packageUntrustedTls = true,
                .errorCode = L"E_DOWNLOAD",
                .lines =
                    [](const Package&) {
                      return ThreeAttempts("网络请求失败，WinHTTP 12157，已收到 0 字节");
                    }},
        LogCase{.name = "package_404",
                .packageResponses = {Status(404)},
                .errorCode = L"E_DOWNLOAD",
                .lines =
                    [](const Package&) {
                      return ThreeAttempts("下载服务器返回异常状态，HTTP 404，已收到 0 字节");
                    }},
        LogCase{.name = "package_500",
                .packageResponses = {Status(500)},
                .errorCode = L"E_DOWNLOAD",
                .lines =
                    [](const Package&) {
                      return ThreeAttempts("下载服务器返回异常状态，HTTP 500，已收到 0 字节");
                    }},
        // Each attempt resumes where the one before was cut off; the third gets the rest.
        LogCase{.name = "package_dropped_twice",
                .packageResponses = {DroppedAfter(100000), DroppedAfter(150000), {}},
                .lines = [](const Package&) -> std::vector<std::string> {
                  return {"[cache] 第 1 次下载失败：安装包下载不完整，已收到 100000 字节",
                          "[cache] 第 2 次下载失败：安装包下载不完整，已收到 150000 字节",
                          "[complete] elapsed_seconds=N"};
                }},
        // Wine's WinVerifyTrust passes a chain to an untrusted root (Windows: 0x800B0109); the
        // chain's status is CERT_TRUST_IS_UNTRUSTED_ROOT either way.
        LogCase{.name = "untrusted_signature",
                .artifact = L"verify\\untrusted.exe",
                .errorCode = L"E_VERIFY",
                .lines = [](const Package&) -> std::vector<std::string> {
                  return {
                      "[verify] 安装包数字签名无效",
                      "[verify] 签名校验失败：WinVerifyTrust 0x00000000，证书链状态 0x00000020"};
                }},
        LogCase{.name = "unsigned",
                .artifact = L"VIVOV3_Setup_x64_unsigned_v3.exe",
                .errorCode = L"E_VERIFY",
                .lines = [](const Package&) -> std::vector<std::string> {
                  return {"[verify] 安装包数字签名无效",
                          "[verify] 签名校验失败：WinVerifyTrust 0x800B0100，无证书链"};
                }},
        LogCase{.name = "digest_mismatch",
                .wrongDigest = true,
                .errorCode = L"E_VERIFY",
                .lines = [](const Package& served) -> std::vector<std::string> {
                  return {"[verify] 安装包 SHA-256 校验失败", "[verify] SHA-256 校验失败：应为 " +
                                                                  std::string(64, '0') + "，实为 " +
                                                                  served.sha256};
                }},
        LogCase{.name = "cached_partial_package",
                .cachedBytes = 1000,
                .lines = [](const Package& served) -> std::vector<std::string> {
                  return {"[cache] 安装包大小校验失败",
                          "[cache] 大小校验失败：应为 " + std::to_string(served.bytes.size()) +
                              " 字节，实为 1000 字节",
                          "[complete] elapsed_seconds=N"};
                }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace lum::installer
