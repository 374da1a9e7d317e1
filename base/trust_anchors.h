// What this build trusts besides TLS, compiled in from the build settings (LUM_MANIFEST_KEYS,
// LUM_PACKAGE_SIGNER_CAS, LUM_MANIFEST_MIN_SEQUENCE; cmake/LumTrustAnchors.cmake).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace lum::installer {

// A P-256 public key: the affine coordinates, big-endian.
struct ManifestPublicKey {
  const wchar_t* file;  // the PEM file it came from, for the log
  std::array<unsigned char, 32> x;
  std::array<unsigned char, 32> y;
};

// A CA whose public key a package's verified signer chain must hold.
struct SignerCaPin {
  const wchar_t* subject;                    // the CA certificate's subject, for the log
  std::array<unsigned char, 32> spkiSha256;  // SHA-256 of its DER SubjectPublicKeyInfo
};

// Never empty: a build without them does not configure.
std::span<const ManifestPublicKey> ManifestPublicKeys();
std::span<const SignerCaPin> PackageSignerCaPins();
// The lowest manifest sequence this build accepts, at least 1.
std::uint64_t ManifestMinimumSequence();

}  // namespace lum::installer
