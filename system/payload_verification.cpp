#include "system/payload_verification.h"

#include <windows.h>
#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwctype>
#include <utility>
#include <vector>

#include "core/scoped_handle.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr ULONG kReadBlockSize = 1024 * 1024;
constexpr ULONG kSha256Length = 32;

std::wstring Lowered(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Wine's WinVerifyTrust reports success for a signer chain that ends in an untrusted root, so
// the chain status that the verification built is checked as well. On Windows the verification
// itself already fails for each of these faults.
bool SignerChainIsSound(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return false;
  const CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr || signer->pChainContext == nullptr) return false;
  constexpr DWORD kChainFaults = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                 CERT_TRUST_IS_NOT_SIGNATURE_VALID;
  return (signer->pChainContext->TrustStatus.dwErrorStatus & kChainFaults) == 0;
}

}  // namespace

bool VerifyPayload(const std::wstring& path, std::uint64_t expectedSize,
                   const std::wstring& expectedSha256, const std::wstring& expectedPublisher,
                   std::wstring& message) {
  // Size first: a partial download is refused without reading it.
  std::uint64_t size = 0;
  if (!ReadFileSize(path, size) || size != expectedSize) {
    message = L"安装包大小校验失败";
    return false;
  }

  std::wstring digest;
  if (!ComputeFileSha256(path, digest, message)) return false;
  if (Lowered(expectedSha256) != Lowered(digest)) {
    message = L"安装包 SHA-256 校验失败";
    return false;
  }
  return VerifyPublisherSignature(path, expectedPublisher, message);
}

bool ComputeFileSha256(const std::wstring& path, std::wstring& digest, std::wstring& message) {
  BCryptAlgorithm algorithm;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    message = L"无法初始化 SHA-256 校验";
    return false;
  }
  DWORD objectLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm.Get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof(objectLength), &written, 0))) {
    message = L"无法读取 SHA-256 参数";
    return false;
  }
  // Declared before the hash handle so that the handle is destroyed first.
  std::vector<UCHAR> hashObject(objectLength);
  BCryptHash hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), hash.Put(), hashObject.data(), objectLength,
                                       nullptr, 0, 0))) {
    message = L"无法创建 SHA-256 校验";
    return false;
  }

  KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    message = L"无法读取安装包";
    return false;
  }

  // Until the end of the file; a read error ends the loop too, and the digest of the bytes read
  // so far then fails the comparison.
  std::vector<UCHAR> buffer(kReadBlockSize);
  while (true) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.data(), kReadBlockSize, &read, nullptr) || read == 0) break;
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), buffer.data(), read, 0))) {
      message = L"计算 SHA-256 失败";
      return false;
    }
  }

  UCHAR value[kSha256Length] = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), value, kSha256Length, 0))) {
    message = L"完成 SHA-256 校验失败";
    return false;
  }
  constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(kSha256Length * 2);
  for (const UCHAR byte : value) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  digest = std::move(text);
  return true;
}

bool VerifyPublisherSignature(const std::wstring& path, const std::wstring& expectedPublisher,
                              std::wstring& message) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();

  WINTRUST_DATA trustData = {};
  trustData.cbStruct = sizeof(trustData);
  trustData.dwUIChoice = WTD_UI_NONE;
  trustData.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  trustData.dwUnionChoice = WTD_CHOICE_FILE;
  trustData.pFile = &fileInfo;
  trustData.dwStateAction = WTD_STATEACTION_VERIFY;
  trustData.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG trust = WinVerifyTrust(nullptr, &action, &trustData);
  const bool trusted = trust == 0 && SignerChainIsSound(trustData.hWVTStateData);
  trustData.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &trustData);
  if (!trusted) {
    message = L"安装包数字签名无效";
    return false;
  }

  DWORD encoding = 0;
  DWORD contentType = 0;
  DWORD formatType = 0;
  CertStore store;
  CryptMsg signedMessage;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &contentType, &formatType, store.Put(), signedMessage.Put(),
                        nullptr)) {
    message = L"无法读取安装包签名";
    return false;
  }

  DWORD signerSize = 0;
  if (!CryptMsgGetParam(signedMessage.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &signerSize) ||
      signerSize == 0) {
    message = L"无法读取签名发布者";
    return false;
  }
  std::vector<BYTE> signerBuffer(signerSize);
  if (!CryptMsgGetParam(signedMessage.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerBuffer.data(),
                        &signerSize)) {
    message = L"无法读取签名发布者";
    return false;
  }
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBuffer.data());

  CERT_INFO subject = {};
  subject.Issuer = signer->Issuer;
  subject.SerialNumber = signer->SerialNumber;
  CertContext certificate(CertFindCertificateInStore(store.Get(), encoding, 0,
                                                     CERT_FIND_SUBJECT_CERT, &subject, nullptr));
  if (!certificate) {
    message = L"找不到安装包签名证书";
    return false;
  }

  const DWORD length =
      CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length < 2) {
    message = L"安装包发布者不匹配";
    return false;
  }
  std::wstring name(length, L'\0');
  const DWORD copied = CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                          nullptr, name.data(), length);
  if (copied < 2 || copied > length) {
    message = L"安装包发布者不匹配";
    return false;
  }
  name.resize(copied - 1);
  if (Lowered(name) != Lowered(expectedPublisher)) {
    message = L"安装包发布者不匹配";
    return false;
  }
  return true;
}

}  // namespace lum::installer
