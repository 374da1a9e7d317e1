#!/usr/bin/env bash
# Checks of tools/release/publish-manifest.sh against the build's test PKI and signed packages:
#   tests/release/publish-test.sh BUILD_DIR WORK_DIR
# A good release is written and its signature verifies with openssl; each refused one exits with
# its status, says why and writes nothing. The revocation lists come as files (--crl).
set -uo pipefail
build=$1 work=$2
publish=$(dirname "$0")/../../tools/release/publish-manifest.sh
pki=$build/pki artifacts=$build/artifacts
failures=0
cat "$pki/ca.crt" "$pki/rogue-root.crt" >"$work.roots.pem"
common=(--package-url https://cdn.example.com/packages/VIVOV3_Setup_x64.exe --version 2.0.0
  --manifest-key "$pki/manifest.pub.pem" --manifest-key "$pki/manifest-next.pub.pem"
  --signer-ca "$pki/codesign-ca.crt" --ca "$work.roots.pem")
crls=(--crl "$pki/crl/codesign.crl" --crl "$pki/crl/root.crl")
good=(--package "$artifacts/VIVOV3_Setup_x64.exe" --key "$pki/manifest.key" "${crls[@]}")

check() { # WHAT STATUS PATTERN ARGS...
  local what=$1 want=$2 pattern=$3 status=0
  shift 3
  rm -rf "$work"
  bash "$publish" "${common[@]}" "$@" --out "$work" >"$work.log" 2>&1 || status=$?
  if ((status != want)) || ! grep -q -- "$pattern" "$work.log" ||
    { ((want != 0)) && [[ -e $work ]]; }; then
    echo "FAIL: $what (exit $status, wanted $want and '$pattern')" >&2
    cat "$work.log" >&2
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

check "a release" 0 "sequence 8" "${good[@]}" --sequence 8 --previous-sequence 7
if ! openssl dgst -sha256 -verify "$pki/manifest.pub.pem" -signature "$work/manifest.json.sig" \
  "$work/manifest.json" >/dev/null || ! grep -q '"sequence": 8,' "$work/manifest.json"; then
  echo "FAIL: the written manifest or its signature" >&2
  failures=$((failures + 1))
fi
check "the same sequence again" 2 "not above the published 7" "${good[@]}" --sequence 7 \
  --previous-sequence 7
check "a key the build does not list" 1 "none of the build's public keys" \
  --package "$artifacts/VIVOV3_Setup_x64.exe" --key "$pki/manifest-unlisted.key" "${crls[@]}" \
  --sequence 8 --previous-sequence 7
check "a second root's certificate in the publisher's name" 1 "none of the pinned CAs" \
  --package "$artifacts/VIVOV3_Setup_x64_rogue.exe" --key "$pki/manifest.key" --sequence 8 \
  --previous-sequence 7
check "a revoked certificate" 1 "certificate revoked" \
  --package "$artifacts/VIVOV3_Setup_x64_revoked.exe" --key "$pki/manifest.key" "${crls[@]}" \
  --sequence 8 --previous-sequence 7
rm -rf "$work" "$work.log" "$work.roots.pem"
exit $((failures > 0))
