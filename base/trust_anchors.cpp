#include "base/trust_anchors.h"

namespace lum::installer {
namespace {

#include "base/trust_anchor_values.inc"

}  // namespace

std::span<const ManifestPublicKey> ManifestPublicKeys() { return kManifestKeys; }
std::span<const SignerCaPin> PackageSignerCaPins() { return kSignerCaPins; }
std::uint64_t ManifestMinimumSequence() { return kMinimumSequence; }

}  // namespace lum::installer
