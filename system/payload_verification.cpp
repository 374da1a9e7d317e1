#include "system/payload_verification.h"

#include <windows.h>
#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <span>
#include <utility>
#include <vector>

#include "base/der.h"
#include "base/handles.h"
#include "base/trust_anchors.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr ULONG kReadBlockSize = 1024 * 1024;
constexpr ULONG kSha256Length = 32;

constexpr wchar_t kTextUnreadable[] = L"无法读取安装包";

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Others may read and write it meanwhile, as a download does.
KernelHandle OpenForReading(const std::wstring& path) {
  return KernelHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

// Null when the name was read, else the message that says why not. Reads the verification state
// that WinVerifyTrust left, before it is closed.
const wchar_t* ReadVerifiedSigner(HANDLE stateData, std::wstring& name) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return L"无法读取安装包签名";
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr) return L"无法读取签名发布者";
  const CRYPT_PROVIDER_CERT* leaf = WTHelperGetProvCertFromChain(signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return L"找不到安装包签名证书";
  const DWORD length =
      CertGetNameStringW(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length < 2) return L"安装包发布者不匹配";
  std::wstring text(length, L'\0');
  const DWORD copied = CertGetNameStringW(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                          text.data(), length);
  if (copied < 2 || copied > length) return L"安装包发布者不匹配";
  text.resize(copied - 1);
  name = std::move(text);
  return nullptr;
}

// The signer chain that the verification built, null when it built none.
const CERT_CHAIN_CONTEXT* SignerChain(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return nullptr;
  const CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  return signer ? signer->pChainContext : nullptr;
}

// Wine's WinVerifyTrust reports success for a signer chain that ends in an untrusted root, so
// the chain status that the verification built is checked as well. On Windows the verification
// itself already fails for each of these faults.
constexpr DWORD kChainFaults =
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_SIGNATURE_VALID;
// A revocation status that could not be checked: no list or responder reached (an offline
// machine, a SYSTEM account behind a proxy it cannot use).
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::wstring Hex(DWORD value) {
  wchar_t text[16];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08lX",
                static_cast<unsigned long>(value));
  return text;
}

std::wstring SubjectOf(PCCERT_CONTEXT cert) {
  wchar_t name[256] = {};
  CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
  return name;
}

bool IsRevokedResult(LONG trust) { return trust == CERT_E_REVOKED || trust == CRYPT_E_REVOKED; }

// WinVerifyTrust accepted the chain but for its revocation status, which is judged on its own.
bool TrustedApartFromRevocation(LONG trust, DWORD chainStatus) {
  if ((chainStatus & kChainFaults) != 0) return false;
  if (trust == 0) return true;
  if (trust == CERT_E_REVOCATION_FAILURE) return (chainStatus & ~kRevocationUnknown) == 0;
  if (IsRevokedResult(trust)) {
    return (chainStatus & ~(kRevocationUnknown | CERT_TRUST_IS_REVOKED)) == 0;
  }
  return false;
}

// Lower-case hex of the SHA-256 of a certificate's DER SubjectPublicKeyInfo, as encoded in the
// certificate; empty when the encoding cannot be read.
std::wstring SpkiSha256(PCCERT_CONTEXT cert) {
  DerReader encoded({cert->pbCertEncoded, cert->cbCertEncoded});
  std::span<const unsigned char> certificate, tbs, contents, spki;
  if (!encoded.Read(kDerSequence, certificate)) return {};
  DerReader outer(certificate);
  if (!outer.Read(kDerSequence, tbs)) return {};
  DerReader fields(tbs);
  fields.SkipIf(0xA0);  // [0] version, absent in version 1
  // serialNumber, signature, issuer, validity, subject
  if (!fields.SkipIf(kDerInteger) || !fields.SkipIf(kDerSequence) || !fields.SkipIf(kDerSequence) ||
      !fields.SkipIf(kDerSequence) || !fields.SkipIf(kDerSequence) ||
      !fields.Read(kDerSequence, contents, &spki)) {
    return {};
  }
  Sha256 hash;
  hash.Update(spki.data(), spki.size());
  std::wstring digest, ignored;
  return hash.Finish(digest, ignored) ? digest : std::wstring();
}

std::wstring HexOf(std::span<const unsigned char> bytes) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (const unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

// The pin whose public key a certificate of the chain holds, null when none does.
const SignerCaPin* PinnedCaIn(const CERT_SIMPLE_CHAIN& chain) {
  for (DWORD i = 0; i < chain.cElement; ++i) {
    const std::wstring digest = SpkiSha256(chain.rgpElement[i]->pCertContext);
    if (digest.empty()) continue;
    for (const SignerCaPin& pin : PackageSignerCaPins()) {
      if (digest == HexOf(pin.spkiSha256)) return &pin;
    }
  }
  return nullptr;
}

std::wstring PinName(const SignerCaPin& pin) {
  return std::wstring(L"「") + pin.subject + L"」，公钥 SHA-256 " +
         HexOf(pin.spkiSha256).substr(0, 16) + L"…";
}

std::wstring PinRefusal(const CERT_SIMPLE_CHAIN& chain) {
  std::wstring pins;
  for (const SignerCaPin& pin : PackageSignerCaPins()) {
    if (!pins.empty()) pins += L"；";
    pins += PinName(pin);
  }
  std::wstring path;
  for (DWORD i = 0; i < chain.cElement; ++i) {
    if (i > 0) path += L" → ";
    path += SubjectOf(chain.rgpElement[i]->pCertContext);
  }
  return L"证书链中没有固定的签名 CA（LUM_PACKAGE_SIGNER_CAS：" + pins + L"），证书链为 " + path;
}

struct Revocation {
  enum class State { Good, Unknown, Revoked };
  State state = State::Good;
  DWORD chainStatus = 0;  // of the chain the status was read from
  std::wstring revoked;   // the revoked certificate's subject
};

Revocation RevocationOf(const CERT_CHAIN_CONTEXT& context, bool revokedByTrust,
                        bool unknownByTrust) {
  Revocation result;
  result.chainStatus = context.TrustStatus.dwErrorStatus;
  const CERT_SIMPLE_CHAIN& chain = *context.rgpChain[0];
  for (DWORD i = 0; i < chain.cElement && result.revoked.empty(); ++i) {
    if (chain.rgpElement[i]->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) {
      result.revoked = SubjectOf(chain.rgpElement[i]->pCertContext);
    }
  }
  if (revokedByTrust || (result.chainStatus & CERT_TRUST_IS_REVOKED)) {
    result.state = Revocation::State::Revoked;
    if (result.revoked.empty()) result.revoked = SubjectOf(chain.rgpElement[0]->pCertContext);
  } else if (unknownByTrust || (result.chainStatus & kRevocationUnknown)) {
    result.state = Revocation::State::Unknown;
  }
  return result;
}

// Whether the verification looked at revocation at all: it leaves a revocation record on each
// certificate it checked, or a revocation status.
bool RevocationChecked(const CERT_CHAIN_CONTEXT& context, LONG trust) {
  if (IsRevokedResult(trust) || trust == CERT_E_REVOCATION_FAILURE ||
      (context.TrustStatus.dwErrorStatus & (kRevocationUnknown | CERT_TRUST_IS_REVOKED))) {
    return true;
  }
  const CERT_SIMPLE_CHAIN& chain = *context.rgpChain[0];
  for (DWORD i = 0; i < chain.cElement; ++i) {
    if (chain.rgpElement[i]->pRevocationInfo != nullptr) return true;
  }
  return false;
}

// Wine's WinVerifyTrust checks no revocation, whatever it is asked to do; its certificate chain
// engine does. So where the verification did not, the chain is built again from the verified
// leaf, with the signature's certificates, checking the revocation of every certificate but the
// root, as WinVerifyTrust does on Windows.
Revocation CheckRevocation(PCCERT_CONTEXT leaf) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof(para);
  CertChain chain;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, leaf->hCertStore, &para,
                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr,
                               chain.Put()) ||
      !chain || chain.Get()->cChain == 0) {
    return {.state = Revocation::State::Unknown};
  }
  return RevocationOf(*chain.Get(), false, false);
}

}  // namespace

Sha256::Sha256() {
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(algorithm_.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    failure_ = L"无法初始化 SHA-256 校验";
    return;
  }
  DWORD objectLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm_.Get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof(objectLength), &written, 0))) {
    failure_ = L"无法读取 SHA-256 参数";
    return;
  }
  object_.assign(objectLength, 0);
  Restart();
}

void Sha256::Restart() {
  if (object_.empty()) return;  // the provider or its parameters failed
  hash_.Reset();
  failure_ = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm_.Get(), hash_.Put(), object_.data(),
                                       static_cast<ULONG>(object_.size()), nullptr, 0, 0))) {
    failure_ = L"无法创建 SHA-256 校验";
  }
}

void Sha256::Update(const void* data, std::size_t size) {
  if (failure_ || size == 0) return;
  if (!BCRYPT_SUCCESS(BCryptHashData(hash_.Get(), static_cast<PUCHAR>(const_cast<void*>(data)),
                                     static_cast<ULONG>(size), 0))) {
    failure_ = L"计算 SHA-256 失败";
  }
}

bool Sha256::Finish(std::wstring& digest, std::wstring& message) {
  UCHAR value[kSha256Length] = {};
  if (!failure_ && !BCRYPT_SUCCESS(BCryptFinishHash(hash_.Get(), value, kSha256Length, 0))) {
    failure_ = L"完成 SHA-256 校验失败";
  }
  if (failure_) {
    message = failure_;
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
  Restart();  // a finished hash cannot take more data
  return true;
}

bool VerifyPayload(const std::wstring& path, std::uint64_t expectedSize,
                   const std::wstring& expectedSha256, const std::wstring& expectedPublisher,
                   std::wstring& message) {
  // Size first: a partial download is refused without reading it.
  std::uint64_t size = 0;
  if (!ReadFileSize(path, size) || size != expectedSize) {
    message = kTextPackageSize;
    return false;
  }
  const KernelHandle file = OpenForReading(path);
  if (!file) {
    message = kTextUnreadable;
    return false;
  }
  return VerifyPayloadFile(file.Get(), path, expectedSize, expectedSha256, expectedPublisher, {},
                           message);
}

bool VerifyPayloadFile(HANDLE file, const std::wstring& path, std::uint64_t expectedSize,
                       const std::wstring& expectedSha256, const std::wstring& expectedPublisher,
                       const std::wstring& knownDigest, std::wstring& message,
                       VerificationFailure* failure, std::wstring* acceptedNote) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    message = kTextPackageSize;
    return false;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) != expectedSize) {
    message = kTextPackageSize;
    if (failure) {
      *failure = {.check = VerificationFailure::Check::Size,
                  .expectedSize = expectedSize,
                  .actualSize = static_cast<std::uint64_t>(size.QuadPart)};
    }
    return false;
  }
  std::wstring digest = knownDigest;
  if (digest.empty() && !ComputeHandleSha256(file, digest, message)) return false;
  // Hexadecimal digits: an ASCII case fold is all it takes.
  if (!SameIgnoringCase(expectedSha256, digest)) {
    message = L"安装包 SHA-256 校验失败";
    if (failure) {
      *failure = {.check = VerificationFailure::Check::Digest,
                  .expectedSha256 = expectedSha256,
                  .actualSha256 = digest};
    }
    return false;
  }
  return VerifyPublisherSignatureFile(file, path, expectedPublisher, message, failure,
                                      acceptedNote);
}

bool ComputeFileSha256(const std::wstring& path, std::wstring& digest, std::wstring& message) {
  Sha256 hash;
  if (hash.Failure()) {
    message = hash.Failure();
    return false;
  }
  const KernelHandle file = OpenForReading(path);
  if (!file) {
    message = kTextUnreadable;
    return false;
  }
  return ComputeHandleSha256(file.Get(), digest, message);
}

bool ComputeHandleSha256(HANDLE file, std::wstring& digest, std::wstring& message) {
  Sha256 hash;
  if (hash.Failure()) {
    message = hash.Failure();
    return false;
  }
  if (!Rewind(file)) {
    message = kTextUnreadable;
    return false;
  }
  // Until the end of the file; a read error ends the loop too, and the digest of the bytes read
  // so far then fails the comparison.
  std::vector<UCHAR> buffer(kReadBlockSize);
  DWORD read = 0;
  while (ReadFile(file, buffer.data(), kReadBlockSize, &read, nullptr) && read > 0) {
    hash.Update(buffer.data(), read);
  }
  return hash.Finish(digest, message);
}

bool VerifyPublisherSignature(const std::wstring& path, const std::wstring& expectedPublisher,
                              std::wstring& message) {
  const KernelHandle file = OpenForReading(path);
  if (!file) {
    message = L"安装包数字签名无效";
    return false;
  }
  return VerifyPublisherSignatureFile(file.Get(), path, expectedPublisher, message);
}

bool VerifyPublisherSignatureFile(HANDLE file, const std::wstring& path,
                                  const std::wstring& expectedPublisher, std::wstring& message,
                                  VerificationFailure* failure, std::wstring* acceptedNote) {
  if (acceptedNote) acceptedNote->clear();
  if (!Rewind(file)) {
    message = L"安装包数字签名无效";
    return false;
  }
  // With hFile set, the file judged is the handle's, not whatever the path names by then.
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;

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
  const CERT_CHAIN_CONTEXT* chain = SignerChain(trustData.hWVTStateData);
  const bool chainBuilt = chain != nullptr && chain->cChain > 0;
  const DWORD chainStatus = chainBuilt ? chain->TrustStatus.dwErrorStatus : 0;
  const bool trusted = chainBuilt && TrustedApartFromRevocation(trust, chainStatus);
  // A machine may trust more roots than the publisher's (a TLS-intercepting proxy's, say): the
  // chain must lead to a signer CA of this build, and none of its certificates may be revoked.
  std::wstring chainRefusal;
  std::wstring note;
  if (trusted) {
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    const SignerCaPin* pin = PinnedCaIn(simple);
    if (pin == nullptr) {
      chainRefusal = PinRefusal(simple);
    } else {
      const Revocation revocation =
          RevocationChecked(*chain, trust)
              ? RevocationOf(*chain, IsRevokedResult(trust), trust == CERT_E_REVOCATION_FAILURE)
              : CheckRevocation(simple.rgpElement[0]->pCertContext);
      if (revocation.state == Revocation::State::Revoked) {
        chainRefusal = L"证书已吊销：" + revocation.revoked + L"（吊销检查的证书链状态 " +
                       Hex(revocation.chainStatus) + L"）";
      } else if (revocation.state == Revocation::State::Unknown) {
        note = L"证书吊销状态无法检查（证书链状态 " + Hex(revocation.chainStatus) +
               L"），证书链含固定的签名 CA" + PinName(*pin) + L"，已接受";
      }
    }
  }
  std::wstring signer;
  const wchar_t* signerFailure = trusted && chainRefusal.empty()
                                     ? ReadVerifiedSigner(trustData.hWVTStateData, signer)
                                     : nullptr;
  trustData.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &trustData);
  const auto fail = [&](const wchar_t* text) {
    message = text;
    if (failure) {
      *failure = {.check = VerificationFailure::Check::Signature,
                  .trustResult = trust,
                  .chainBuilt = chainBuilt,
                  .chainStatus = chainStatus,
                  .chainRefusal = chainRefusal};
    }
    return false;
  };
  if (!trusted || !chainRefusal.empty()) return fail(L"安装包数字签名无效");
  if (signerFailure) return fail(signerFailure);
  // Ordinal: the same answer whatever the user's locale.
  if (!SameIgnoringCase(signer, expectedPublisher)) return fail(L"安装包发布者不匹配");
  if (acceptedNote) *acceptedNote = std::move(note);
  return true;
}

}  // namespace lum::installer
