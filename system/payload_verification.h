// Proves that a package file is the one the manifest describes: size, SHA-256, signer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/handles.h"

namespace lum::installer {

// The size check's failure, which also stands for "not a file of its own".
inline constexpr wchar_t kTextPackageSize[] = L"安装包大小校验失败";

// Which check refused a package and the figures it compared, kept for the log.
struct VerificationFailure {
  enum class Check { None, Size, Digest, Signature };
  Check check = Check::None;  // None: a failure with nothing to compare (an unreadable file)
  std::uint64_t expectedSize = 0;
  std::uint64_t actualSize = 0;
  std::wstring expectedSha256;  // as the manifest gives it
  std::wstring actualSha256;
  LONG trustResult = 0;  // WinVerifyTrust's result
  bool chainBuilt = false;
  DWORD chainStatus = 0;  // the signer chain's CERT_TRUST_STATUS dwErrorStatus, when built
  // What refused a chain that WinVerifyTrust accepted: the signer CA pins it lacks, or the
  // certificate that is revoked. Empty when the trust verification itself refused.
  std::wstring chainRefusal;
};

// The message is set on failure only.
[[nodiscard]] bool VerifyPayload(const std::wstring& path, std::uint64_t expectedSize,
                                 const std::wstring& expectedSha256,
                                 const std::wstring& expectedPublisher, std::wstring& message);
// digest receives 64 lower-case hex digits.
[[nodiscard]] bool ComputeFileSha256(const std::wstring& path, std::wstring& digest,
                                     std::wstring& message);
[[nodiscard]] bool VerifyPublisherSignature(const std::wstring& path,
                                            const std::wstring& expectedPublisher,
                                            std::wstring& message);

// The same checks on a file the caller holds open (for reading), so that the bytes judged are
// the bytes of that handle whatever happens to the path meanwhile. path names the file for the
// signature check's records only. knownDigest, when not empty, is the digest of the file's bytes
// taken while they were written; otherwise the digest is read through the handle. A failure,
// when given, is set with the message. acceptedNote, when given, receives on success a line for
// the log about what was accepted though it could not be checked (the revocation status), else
// it is cleared.
[[nodiscard]] bool VerifyPayloadFile(HANDLE file, const std::wstring& path,
                                     std::uint64_t expectedSize, const std::wstring& expectedSha256,
                                     const std::wstring& expectedPublisher,
                                     const std::wstring& knownDigest, std::wstring& message,
                                     VerificationFailure* failure = nullptr,
                                     std::wstring* acceptedNote = nullptr);
[[nodiscard]] bool ComputeHandleSha256(HANDLE file, std::wstring& digest, std::wstring& message);
// The signer's name is read from the certificate that the trust verification itself verified,
// and the chain it built must hold the public key of a pinned signer CA (PackageSignerCaPins)
// and no revoked certificate. A revocation status that could not be checked is accepted.
[[nodiscard]] bool VerifyPublisherSignatureFile(HANDLE file, const std::wstring& path,
                                                const std::wstring& expectedPublisher,
                                                std::wstring& message,
                                                VerificationFailure* failure = nullptr,
                                                std::wstring* acceptedNote = nullptr);

// SHA-256 of bytes fed in order. A failure is kept and reported by Finish.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Forgets what was fed.
  void Restart();
  void Update(const void* data, std::size_t size);
  [[nodiscard]] bool Finish(std::wstring& digest, std::wstring& message);
  // The first failure so far; null while there is none.
  const wchar_t* Failure() const { return failure_; }

 private:
  BCryptAlgorithm algorithm_;
  std::vector<UCHAR> object_;  // declared before hash_: the hash is destroyed first
  BCryptHash hash_;
  const wchar_t* failure_ = nullptr;
};

}  // namespace lum::installer
