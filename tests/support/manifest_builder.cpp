#include "tests/support/manifest_builder.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "system/payload_verification.h"
#include "tests/support/test_env.h"

namespace lum::test {

Package LoadPackage(const wchar_t* artifact) {
  Package package;
  const std::wstring path = ArtifactPath(artifact);
  package.bytes = ReadFileBytes(path);
  std::wstring digest, message;
  EXPECT_TRUE(installer::ComputeFileSha256(path, digest, message))
      << installer::WideToUtf8(message);
  package.sha256 = installer::WideToUtf8(digest);
  return package;
}

std::string ManifestFor(const ReleaseServer& server, const Package& package,
                        const std::string& version, std::uint64_t size) {
  return R"({"schemaVersion":1,"minimumBootstrapperVersion":"1.0.0","sequence":1,)"
         R"("payloads":{"lumora-x64":{"version":")" +
         version + R"(","architecture":"x64","mode":"bundled","url":")" +
         installer::WideToUtf8(server.LocalhostUrl(L"/packages/VIVOV3_Setup_x64.exe")) +
         R"(","sha256":")" + package.sha256 +
         R"(","publisher":"Velmont Harbor Network Technology Co., Ltd.","size":)" +
         std::to_string(size != 0 ? size : package.bytes.size()) +
         R"(}},"channels":{"baidu2":"lumora-x64","bing":"lumora-x64"}})";
}

std::string MetricsBody(const std::string& event, const std::string& errorCode,
                        const std::string& channel) {
  return R"({"bootstrapper_version":"1.0.0","channel_id":")" + channel + R"(","error_code":")" +
         errorCode + R"(","event":")" + event + R"(","payload_version":"2.0.0"})";
}

}  // namespace lum::test
