// The manifest's detached signature: DER-encoded ECDSA P-256 over SHA-256 of the body's exact
// bytes (what `openssl dgst -sha256 -sign key.pem -out manifest.json.sig manifest.json` writes),
// checked with CNG against the public keys this build lists.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/trust_anchors.h"

namespace lum::installer {

// A signature body is never larger than this; a DER P-256 signature takes at most 72 bytes.
inline constexpr std::size_t kManifestSignatureLimit = 1024;

// True when one of the keys verifies the signature over body. Otherwise reason says why not,
// for the log: a malformed signature, no key that matches, or CNG failing.
[[nodiscard]] bool VerifyManifestSignature(std::string_view body, std::string_view signature,
                                           std::span<const ManifestPublicKey> keys,
                                           std::wstring& reason);

}  // namespace lum::installer
