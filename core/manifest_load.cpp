// InstallerController::LoadManifest: fetch the manifest and its signature, verify the signature
// before anything reads the body, select the payload entry for this channel, refuse an older
// manifest than this machine has accepted, and keep the entry.
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "base/trust_anchors.h"
#include "core/failure_details.h"
#include "core/installer_controller.h"
#include "manifest/manifest.h"
#include "manifest/manifest_signature.h"
#include "net/https_transport.h"
#include "system/manifest_sequence.h"

namespace lum::installer {
namespace {

constexpr wchar_t kTextSignatureInvalid[] = L"安装配置签名无效";
constexpr wchar_t kTextManifestOutdated[] = L"安装配置已过期";
// The manifest and its signature are fetched twice at most: a publisher replaces the two files
// one after the other, so a client may meet the new manifest with the old signature.
constexpr int kSignedFetches = 2;

}  // namespace

bool InstallerController::LoadManifest(std::wstring& message, bool& networkFailed,
                                       TransferFailure* fetchFailure, std::wstring* logDetail) {
  std::wstring unusedDetail;
  std::wstring& detail = logDetail ? *logDetail : unusedDetail;
  detail.clear();
  std::string body;
  std::wstring refusal;  // why the last signature was not accepted
  bool verified = false;
  for (int fetch = 0; fetch < kSignedFetches && !verified; ++fetch) {
    if (!FetchSmallDocument(manifestUrl, &body, &message, fetchFailure)) {
      networkFailed = true;
      return false;
    }
    std::string signature;
    TransferFailure signatureFailure;
    if (FetchSmallDocument(manifestUrl + L".sig", &signature, &message, &signatureFailure,
                           kManifestSignatureLimit)) {
      verified = VerifyManifestSignature(body, signature, ManifestPublicKeys(), refusal);
    } else if (signatureFailure.winError != 0) {
      // The transport failed, not the signature.
      networkFailed = true;
      if (fetchFailure) *fetchFailure = signatureFailure;
      detail = ManifestSignatureFetchDetail(message, signatureFailure);
      return false;
    } else if (signatureFailure.httpStatus != 0) {
      refusal = L"没有签名，HTTP " + std::to_wstring(signatureFailure.httpStatus);
    } else {
      refusal = L"签名超过 " + std::to_wstring(kManifestSignatureLimit) + L" 字节";
    }
  }
  networkFailed = false;
  if (!verified) {
    message = kTextSignatureInvalid;
    detail = L"安装配置签名校验失败：" + refusal + L"（已重新获取一次）";
    return false;
  }

  PayloadInfo selected;
  std::uint64_t sequence = 0;
  if (!SelectManifestPayload(body, channelId, selected, message, &sequence)) return false;

  std::uint64_t accepted = 0;
  if (const DWORD error = ReadAcceptedManifestSequence(accepted)) {
    message = kTextManifestOutdated;
    detail = L"安装配置序号校验失败：无法读取已接受的序号，Windows " + std::to_wstring(error);
    return false;
  }
  const std::uint64_t floor = ManifestMinimumSequence();
  if (sequence < floor || sequence < accepted) {
    message = kTextManifestOutdated;
    detail = L"安装配置序号校验失败：序号 " + std::to_wstring(sequence) +
             (sequence < accepted ? L" 低于本机已接受的 " + std::to_wstring(accepted)
                                  : L" 低于本安装器的最低序号 " + std::to_wstring(floor));
    return false;
  }
  if (sequence > accepted) {
    // The installation goes on without it; the next run checks against the older record.
    if (const DWORD error = RecordAcceptedManifestSequence(sequence)) {
      detail = L"无法记录安装配置序号 " + std::to_wstring(sequence) + L"，Windows " +
               std::to_wstring(error);
    }
  }

  {
    std::lock_guard lock(stateMutex);
    payload = std::move(selected);
  }
  message.clear();
  return true;
}

}  // namespace lum::installer
