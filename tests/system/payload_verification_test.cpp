#include "system/payload_verification.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "base/handles.h"
#include "manifest/manifest.h"
#include "system/install_location.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

constexpr wchar_t kUnchanged[] = L"caller's text";

// Copies of tests/apps/tiny_app.exe made at build time, with the digest sha256sum gave for each.
struct Package {
  std::wstring path;
  std::uint64_t size = 0;
  std::wstring sha256;
};

Package LoadPackage(const wchar_t* name) {
  Package package;
  package.path = lum::test::ArtifactPath(std::wstring(L"verify\\") + name + L".exe");
  package.size = lum::test::ReadFileBytes(package.path).size();
  const std::string digest = lum::test::ReadFileBytes(
      lum::test::ArtifactPath(std::wstring(L"verify\\") + name + L".exe.sha256"));
  package.sha256.assign(digest.begin(), digest.begin() + std::min<size_t>(digest.size(), 64));
  EXPECT_GT(package.size, 0u) << "artifact missing";
  EXPECT_EQ(package.sha256.size(), 64u);
  return package;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  out.resize(static_cast<size_t>(length));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                      nullptr, nullptr);
  return out;
}

struct SignatureCase {
  const wchar_t* package;
  const wchar_t* message;  // empty: accepted
};

class VerifyPayloadSignatureTest : public testing::TestWithParam<SignatureCase> {};

TEST_P(VerifyPayloadSignatureTest, JudgesTheSigner) {
  const SignatureCase& c = GetParam();
  const Package package = LoadPackage(c.package);
  std::wstring message = kUnchanged;
  const bool accepted =
      VerifyPayload(package.path, package.size, package.sha256, kTrustedPublisher, message);
  const bool expectAccepted = std::wstring(c.message).empty();
  EXPECT_EQ(accepted, expectAccepted);
  EXPECT_EQ(Narrow(message), Narrow(expectAccepted ? kUnchanged : c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Packages, VerifyPayloadSignatureTest,
    testing::Values(SignatureCase{L"trusted", L""},
                    SignatureCase{L"samecase", L""},  // signer differs in letter case only
                    SignatureCase{L"unsigned", L"安装包数字签名无效"},
                    SignatureCase{L"untrusted", L"安装包数字签名无效"},  // unknown root
                    SignatureCase{L"other", L"安装包发布者不匹配"}),
    [](const testing::TestParamInfo<SignatureCase>& test) { return Narrow(test.param.package); });

TEST(VerifyPayloadTest, AcceptsAnUpperCaseExpectedDigest) {
  const Package package = LoadPackage(L"trusted");
  std::wstring upper = package.sha256;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  ASSERT_NE(upper, package.sha256);
  std::wstring message = kUnchanged;
  EXPECT_TRUE(VerifyPayload(package.path, package.size, upper, kTrustedPublisher, message));
  EXPECT_EQ(message, kUnchanged);
}

TEST(VerifyPayloadTest, RefusesADigestThatIsNotExactlyTheComputedOne) {
  const Package package = LoadPackage(L"trusted");
  for (const std::wstring& expected :
       {package.sha256 + L" ", L" " + package.sha256, package.sha256.substr(0, 63),
        std::wstring(64, L'0'), std::wstring()}) {
    std::wstring message;
    EXPECT_FALSE(VerifyPayload(package.path, package.size, expected, kTrustedPublisher, message));
    EXPECT_EQ(Narrow(message), Narrow(L"安装包 SHA-256 校验失败"));
  }
}

TEST(VerifyPayloadTest, RefusesAWrongSizeOrAMissingFile) {
  const Package package = LoadPackage(L"trusted");
  const std::wstring scratch = lum::test::FreshScratchDirectory(L"verify-size");
  for (const auto& [path, size] :
       {std::pair{package.path, package.size - 1}, std::pair{package.path, package.size + 1},
        std::pair{package.path, std::uint64_t{0}},
        std::pair{JoinPath(scratch, L"absent.exe"), package.size},
        std::pair{scratch, std::uint64_t{0}}}) {  // a folder has no file size
    std::wstring message;
    EXPECT_FALSE(VerifyPayload(path, size, package.sha256, kTrustedPublisher, message));
    EXPECT_EQ(Narrow(message), Narrow(L"安装包大小校验失败"));
  }
}

TEST(VerifyPayloadTest, ChecksTheSizeBeforeOpeningTheFile) {
  const Package package = LoadPackage(L"trusted");
  const std::wstring scratch = lum::test::FreshScratchDirectory(L"verify-locked");
  const std::wstring path = JoinPath(scratch, kPackageFileName);
  lum::test::WriteFileBytes(path, lum::test::ReadFileBytes(package.path));
  // Held open without sharing: the file can no longer be opened for reading at all.
  KernelHandle lock(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock.IsValid());
  std::wstring message;
  EXPECT_FALSE(VerifyPayload(path, package.size + 1, package.sha256, kTrustedPublisher, message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包大小校验失败"));
  EXPECT_FALSE(VerifyPayload(path, package.size, package.sha256, kTrustedPublisher, message));
  EXPECT_EQ(Narrow(message), Narrow(L"无法读取安装包"));
}

TEST(VerifyPayloadTest, RefusesAOneBitChange) {
  const Package package = LoadPackage(L"trusted");
  std::string bytes = lum::test::ReadFileBytes(package.path);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
  const std::wstring path =
      JoinPath(lum::test::FreshScratchDirectory(L"verify-bit"), kPackageFileName);
  lum::test::WriteFileBytes(path, bytes);
  std::wstring message;
  EXPECT_FALSE(VerifyPayload(path, package.size, package.sha256, kTrustedPublisher, message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包 SHA-256 校验失败"));
  // With a manifest that matched the changed bytes, the signature no longer covers them.
  std::wstring changedDigest;
  ASSERT_TRUE(ComputeFileSha256(path, changedDigest, message));
  EXPECT_FALSE(VerifyPayload(path, package.size, changedDigest, kTrustedPublisher, message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包数字签名无效"));
}

TEST(VerifyPublisherSignatureTest, ComparesTheSignerWithTheExpectedName) {
  const Package trusted = LoadPackage(L"trusted");
  const Package other = LoadPackage(L"other");
  std::wstring message = kUnchanged;
  EXPECT_TRUE(VerifyPublisherSignature(other.path, L"other software company ltd.", message));
  EXPECT_EQ(message, kUnchanged);
  EXPECT_FALSE(VerifyPublisherSignature(trusted.path, L"Velmont Harbor", message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包发布者不匹配"));
  EXPECT_FALSE(VerifyPublisherSignature(trusted.path, L"", message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包发布者不匹配"));
}

// Through a held handle the bytes judged are the handle's, whatever file the path names.
TEST(VerifyPublisherSignatureFileTest, JudgesTheHandlesFileNotThePath) {
  const Package trusted = LoadPackage(L"trusted");
  const Package unsigned_ = LoadPackage(L"unsigned");
  const auto verify = [](const Package& held, const Package& named, std::wstring& message) {
    const KernelHandle file(CreateFileW(held.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.IsValid());
    return VerifyPublisherSignatureFile(file.Get(), named.path, kTrustedPublisher, message);
  };
  std::wstring message = kUnchanged;
  EXPECT_TRUE(verify(trusted, unsigned_, message));
  EXPECT_EQ(message, kUnchanged);
  EXPECT_FALSE(verify(unsigned_, trusted, message));
  EXPECT_EQ(Narrow(message), Narrow(L"安装包数字签名无效"));
}

// Bytes fed piece by piece, and again after a restart, give the digest of the whole.
TEST(Sha256Test, StreamedPiecesAndRestart) {
  Sha256 hash;
  std::wstring digest, message;
  hash.Update("zzz", 3);
  hash.Restart();
  hash.Update("a", 1);
  hash.Update("", 0);
  hash.Update("bc", 2);
  ASSERT_TRUE(hash.Finish(digest, message)) << Narrow(message);
  EXPECT_EQ(digest, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(hash.Finish(digest, message)) << "a finished hash starts again, empty";
  EXPECT_EQ(digest, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Known answers; the long inputs cross the 1 MiB read block.
TEST(ComputeFileSha256Test, KnownAnswers) {
  const auto pattern = [](size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4093) & 0xFF);
    return bytes;
  };
  const std::pair<std::string, const wchar_t*> table[] = {
      {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {pattern(1048575), L"22612eda4048f082dc2179983f1d949bf4e6a467bc2a22f766d5bbe8d2b9187e"},
      {pattern(1048576), L"61c69384ed44ee30eb94e81dcc76c6ae66cb4527be88f90a62449710390f5b59"},
      {pattern(1048577), L"4a9f9360d479c90f731a72b97a0086d783a9be3b07ae8f1873609180a2465678"},
      {pattern(3 * 1048576 + 5),
       L"5fe1cb371456bd7031a5a3cdc425856cae486eff15efcb0d0a3d669c014864ec"},
  };
  const std::wstring scratch = lum::test::FreshScratchDirectory(L"sha256");
  const std::wstring path = JoinPath(scratch, L"input.bin");
  for (const auto& [bytes, expected] : table) {
    lum::test::WriteFileBytes(path, bytes);
    std::wstring digest = L"stale";
    std::wstring message = kUnchanged;
    ASSERT_TRUE(ComputeFileSha256(path, digest, message)) << bytes.size();
    EXPECT_EQ(digest, expected) << bytes.size();
    EXPECT_EQ(message, kUnchanged);
  }
}

TEST(ComputeFileSha256Test, ReadsAFileThatIsOpenForWriting) {
  const std::wstring path = JoinPath(lum::test::FreshScratchDirectory(L"sha256-shared"), L"a.bin");
  lum::test::WriteFileBytes(path, "abc");
  // The way a download keeps its file open.
  KernelHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer.IsValid());
  std::wstring digest;
  std::wstring message;
  ASSERT_TRUE(ComputeFileSha256(path, digest, message)) << Narrow(message);
  EXPECT_EQ(digest, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ComputeFileSha256Test, ReportsAnUnreadableFile) {
  const std::wstring scratch = lum::test::FreshScratchDirectory(L"sha256-missing");
  std::wstring digest = L"untouched";
  std::wstring message;
  EXPECT_FALSE(ComputeFileSha256(JoinPath(scratch, L"absent.bin"), digest, message));
  EXPECT_EQ(Narrow(message), Narrow(L"无法读取安装包"));
  EXPECT_EQ(digest, L"untouched");
}

}  // namespace
}  // namespace lum::installer
