#include "manifest/manifest_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/der.h"
#include "base/handles.h"

namespace lum::installer {
namespace {

constexpr std::size_t kCoordinate = 32;
// r and s, each big-endian in 32 bytes: the form BCryptVerifySignature takes.
using RawSignature = std::array<unsigned char, 2 * kCoordinate>;

std::wstring Hex(DWORD value) {
  wchar_t text[16];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08lX",
                static_cast<unsigned long>(value));
  return text;
}

std::span<const unsigned char> Bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// A DER INTEGER in 1..2^256-1, minimally encoded, into 32 big-endian bytes.
bool ReadCoordinate(DerReader& reader, unsigned char* out) {
  std::span<const unsigned char> value;
  if (!reader.Read(kDerInteger, value) || value.empty()) return false;
  if (value[0] & 0x80) return false;  // negative
  if (value[0] == 0) {
    if (value.size() == 1 || !(value[1] & 0x80)) return false;  // zero, or a needless 0x00
    value = value.subspan(1);
  }
  if (value.size() > kCoordinate) return false;
  std::memset(out, 0, kCoordinate);
  std::memcpy(out + kCoordinate - value.size(), value.data(), value.size());
  return true;
}

// SEQUENCE { INTEGER r, INTEGER s } and nothing after it.
bool DecodeSignature(std::string_view der, RawSignature& raw) {
  DerReader outer(Bytes(der));
  std::span<const unsigned char> pair;
  if (!outer.Read(kDerSequence, pair) || !outer.AtEnd()) return false;
  DerReader inner(pair);
  return ReadCoordinate(inner, raw.data()) && ReadCoordinate(inner, raw.data() + kCoordinate) &&
         inner.AtEnd();
}

std::wstring KeyFiles(std::span<const ManifestPublicKey> keys) {
  std::wstring files;
  for (const ManifestPublicKey& key : keys) {
    if (!files.empty()) files += L"、";
    files += key.file;
  }
  return files;
}

}  // namespace

bool VerifyManifestSignature(std::string_view body, std::string_view signature,
                             std::span<const ManifestPublicKey> keys, std::wstring& reason) {
  RawSignature raw{};
  if (!DecodeSignature(signature, raw)) {
    reason = L"签名格式无效（" + std::to_wstring(signature.size()) + L" 字节）";
    return false;
  }
  std::array<unsigned char, 32> digest{};
  BCryptAlgorithm sha256;
  BCryptAlgorithm ecdsa;
  NTSTATUS status = BCryptOpenAlgorithmProvider(sha256.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (BCRYPT_SUCCESS(status)) {
    status = ::BCryptHash(sha256.Get(), nullptr, 0, const_cast<PUCHAR>(Bytes(body).data()),
                          static_cast<ULONG>(body.size()), digest.data(),
                          static_cast<ULONG>(digest.size()));
  }
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptOpenAlgorithmProvider(ecdsa.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  }
  if (!BCRYPT_SUCCESS(status)) {
    reason = L"无法校验签名，BCrypt " + Hex(static_cast<DWORD>(status));
    return false;
  }
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate);
  auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
  header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header->cbKey = kCoordinate;
  for (const ManifestPublicKey& key : keys) {
    std::memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), key.x.data(), kCoordinate);
    std::memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB) + kCoordinate, key.y.data(), kCoordinate);
    BCryptKey handle;
    status = BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, handle.Put(),
                                 blob.data(), static_cast<ULONG>(blob.size()), 0);
    if (!BCRYPT_SUCCESS(status)) {
      reason = L"无法导入公钥 " + std::wstring(key.file) + L"，BCrypt " +
               Hex(static_cast<DWORD>(status));
      return false;
    }
    if (BCRYPT_SUCCESS(BCryptVerifySignature(handle.Get(), nullptr, digest.data(),
                                             static_cast<ULONG>(digest.size()), raw.data(),
                                             static_cast<ULONG>(raw.size()), 0))) {
      return true;
    }
  }
  reason =
      L"签名与内置的 " + std::to_wstring(keys.size()) + L" 个公钥（" + KeyFiles(keys) + L"）均不符";
  return false;
}

}  // namespace lum::installer
