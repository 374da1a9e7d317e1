#!/usr/bin/env bash
# Writes a release's manifest and its signature, OUT/manifest.json and OUT/manifest.json.sig:
#
#   tools/release/publish-manifest.sh --package SETUP.exe --package-url https://HOST/PATH \
#       --version X.Y.Z --sequence N --previous-sequence M \
#       KEY --manifest-key PUB.pem [--manifest-key ...] --signer-ca CA.pem [--signer-ca ...] \
#       [--ca ROOTS.pem] [--crl CRL]... [--channel ID]... [--payload-name NAME] \
#       [--minimum-bootstrapper-version V] --out DIR
#
# KEY is the manifest signing key, one of:
#   --key KEY.pem                        a P-256 private key file;
#   --pkcs11-module MODULE.so --pkcs11-key URI [--pkcs11-pin-file FILE] [--pkcs11-engine ENGINE.so]
#                                        the key in a PKCS#11 token (a pkcs11: URI), used through
#                                        OpenSSL's PKCS#11 engine; the PIN comes from the file, else
#                                        from LUM_PKCS11_PIN in the environment, never from the
#                                        command line.
#
# The signature is the DER ECDSA signature over SHA-256 of manifest.json's exact bytes, what
# `openssl dgst -sha256 -sign KEY -out manifest.json.sig manifest.json` writes.
#
# Before it writes anything it applies the checks the bootstrapper applies: the package URL is
# https:// without line breaks; the version is a dotted version; the package's Authenticode
# signature verifies (osslsigncode, against --ca, with its revocation lists: fetched from the
# certificates' distribution points, or the --crl files) and its signer is the trusted
# publisher; the signer's chain holds one of the pinned CAs (--signer-ca, the build's
# LUM_PACKAGE_SIGNER_CAS); the sequence is an integer above --previous-sequence (the sequence of
# the manifest now published). After signing, the signature must verify with one of the build's
# public keys (--manifest-key, LUM_MANIFEST_KEYS). Exit status 2: refused before anything was
# checked; 1: a check failed, nothing written.
#
# The manifest offers the package to every channel the bootstrapper knows (--channel, repeatable,
# for fewer). Upload the signature and the manifest together; a bootstrapper that meets one new
# and one old file fetches both once more before it refuses them.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
package="" package_url="" version="" sequence="" previous="" out="" key="" ca=""
p11_module="" p11_key="" p11_pin_file="" p11_engine="" payload_name=lumora-x64 minimum=1.0.0
manifest_keys=() signer_cas=() crls=() channels=()

refuse() {
  echo "publish-manifest: $*" >&2
  exit 2
}
fail() {
  echo "publish-manifest: $*" >&2
  exit 1
}

while (($#)); do
  opt=$1
  shift
  (($#)) || refuse "$opt needs a value"
  case $opt in
    --package) package=$1 ;;
    --package-url) package_url=$1 ;;
    --version) version=$1 ;;
    --sequence) sequence=$1 ;;
    --previous-sequence) previous=$1 ;;
    --key) key=$1 ;;
    --pkcs11-module) p11_module=$1 ;;
    --pkcs11-key) p11_key=$1 ;;
    --pkcs11-pin-file) p11_pin_file=$1 ;;
    --pkcs11-engine) p11_engine=$1 ;;
    --manifest-key) manifest_keys+=("$1") ;;
    --signer-ca) signer_cas+=("$1") ;;
    --ca) ca=$1 ;;
    --crl) crls+=("$1") ;;
    --channel) channels+=("$1") ;;
    --payload-name) payload_name=$1 ;;
    --minimum-bootstrapper-version) minimum=$1 ;;
    --out) out=$1 ;;
    *) refuse "unknown option $opt" ;;
  esac
  shift
done

[[ -n $package && -n $package_url && -n $version && -n $sequence && -n $previous && -n $out ]] ||
  refuse "--package, --package-url, --version, --sequence, --previous-sequence and --out are required"
((${#manifest_keys[@]})) || refuse "give the build's manifest public keys: --manifest-key PUB.pem"
((${#signer_cas[@]})) || refuse "give the build's pinned signer CAs: --signer-ca CA.pem"
if [[ -n $p11_module || -n $p11_key ]]; then
  [[ -n $p11_module && -n $p11_key ]] || refuse "a token needs --pkcs11-module and --pkcs11-key"
  [[ -z $key ]] || refuse "give --key or --pkcs11-key, not both"
else
  [[ -n $key ]] || refuse "give the signing key: --key KEY.pem, or --pkcs11-module and --pkcs11-key"
  [[ -z $p11_pin_file$p11_engine ]] || refuse "--pkcs11-pin-file and --pkcs11-engine go with --pkcs11-module"
fi
for number in "$sequence" "$previous"; do
  [[ $number =~ ^(0|[1-9][0-9]{0,17})$ ]] || refuse "$number: a sequence is an integer from 0"
done
((sequence >= 1)) || refuse "the sequence starts at 1"
((sequence > previous)) ||
  refuse "sequence $sequence is not above the published $previous: bootstrappers that took $previous refuse it"
[[ $package_url == https://?* && $package_url != *$'\r'* && $package_url != *$'\n'* ]] ||
  refuse "$package_url: the package URL must be https:// without line breaks"
[[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]] || refuse "$version is not a dotted version (1.2.3)"
for file in "$package" "$key" "$p11_pin_file" "$ca" "${manifest_keys[@]}" "${signer_cas[@]}" \
  "${crls[@]}"; do
  [[ -z $file || -r $file ]] || refuse "$file: cannot read it"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
publisher=$(sed -n 's/^inline constexpr wchar_t kTrustedPublisher\[\] = L"\(.*\)";$/\1/p' \
  "$source_dir/manifest/manifest.h")
[[ -n $publisher ]] || fail "cannot read kTrustedPublisher from manifest/manifest.h"
if ((${#channels[@]} == 0)); then
  mapfile -t channels < <(sed -n '/KnownChannels()/,/};/p' "$source_dir/system/channel.cpp" |
    grep -o 'L"[^"]*"' | sed 's/^L"\(.*\)"$/\1/')
  ((${#channels[@]} == 18)) || fail "cannot read the 18 channels from system/channel.cpp"
fi

# ---- The package: Authenticode, revocation, signer name, pinned CA ----
size=$(stat -c %s "$package")
((size > 0)) || fail "$package is empty"
sha256=$(sha256sum "$package" | cut -c1-64)
verify=(osslsigncode verify -in "$package")
[[ -n $ca ]] && verify+=(-CAfile "$ca")
if ((${#crls[@]})); then
  for crl in "${crls[@]}"; do
    openssl crl -in "$crl" -inform "$(grep -q -- '-----BEGIN X509 CRL' "$crl" && echo PEM || echo DER)" \
      >>"$tmp/crls.pem" 2>/dev/null || fail "$crl is not a CRL"
  done
  # The lists given, not whatever answers at the certificates' distribution points now.
  verify+=(-CRLfile "$tmp/crls.pem" -ignore-cdp)
fi
report=$("${verify[@]}" 2>&1) || true
grep -q '^Signature verification: ok' <<<"$report" || {
  grep -iE 'error|fail|revoked|crl' <<<"$report" >&2 || printf '%s\n' "$report" >&2
  bundle="the system's CA bundle"
  fail "the package's signature does not verify (chain against ${ca:-$bundle}, revocation lists)"
}
# The signer: the first "Serial :" of the report is Signer #0's.
serial=$(sed -n 's/^[[:space:]]*Serial : \([0-9A-Fa-f]*\).*/\1/p' <<<"$report" | head -1)
osslsigncode extract-signature -pem -in "$package" -out "$tmp/signature.pem" >/dev/null 2>&1 ||
  fail "cannot read the package's signature"
openssl pkcs7 -in "$tmp/signature.pem" -print_certs -out "$tmp/embedded.pem" 2>/dev/null
awk -v dir="$tmp" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/cert" n ".pem") }' \
  "$tmp/embedded.pem"
leaf=""
for cert in "$tmp"/cert*.pem; do
  [[ $(openssl x509 -in "$cert" -noout -serial | cut -d= -f2) == "${serial^^}" ]] && leaf=$cert
done
[[ -n $leaf ]] || fail "cannot find the signer's certificate in the package's signature"
signer=$(openssl x509 -in "$leaf" -noout -subject -nameopt multiline,-esc_msb,utf8 |
  sed -n 's/^[[:space:]]*commonName[[:space:]]*= //p')
[[ ${signer,,} == "${publisher,,}" ]] || fail "the package is signed by \"$signer\", not \"$publisher\""
cat "${signer_cas[@]}" >"$tmp/pinned.pem"
openssl verify -partial_chain -purpose any -CAfile "$tmp/pinned.pem" -untrusted "$tmp/embedded.pem" \
  "$leaf" >/dev/null 2>&1 ||
  fail "the signer's chain holds none of the pinned CAs (--signer-ca): bootstrappers refuse the package"

# ---- The manifest, checked by the bootstrapper's rules as it will read it ----
python3 - "$tmp/manifest.json" "$publisher" "$payload_name" "$version" "$package_url" "$sha256" \
  "$size" "$sequence" "$minimum" "${channels[@]}" <<'EOF'
import json, re, sys
path, publisher, name, version, url, sha256, size, sequence, minimum, *channels = sys.argv[1:]
entry = {"version": version, "architecture": "x64", "mode": "bundled", "url": url,
         "sha256": sha256, "publisher": publisher, "size": int(size)}
manifest = {"schemaVersion": 1, "minimumBootstrapperVersion": minimum, "sequence": int(sequence),
            "payloads": {name: entry}, "channels": {c: name for c in channels}}
body = json.dumps(manifest, ensure_ascii=False, indent=2).encode("utf-8") + b"\n"
read = json.loads(body.decode("utf-8"))
dotted = re.compile(r"^[0-9]+(\.[0-9]+)*$")
for channel, target in read["channels"].items():
    e = read["payloads"][target]
    assert e["architecture"] == "x64" and e["mode"] == "bundled" and e["size"] > 0
    assert e["url"].startswith("https://") and len(e["url"]) >= 8 and not re.search("[\r\n]", e["url"])
    assert re.fullmatch("[0-9A-Fa-f]{64}", e["sha256"]) and dotted.match(e["version"])
    assert e["publisher"].lower() == publisher.lower()
assert read["schemaVersion"] == 1 and dotted.match(read["minimumBootstrapperVersion"])
assert isinstance(read["sequence"], int) and read["sequence"] >= 1
open(path, "wb").write(body)
EOF

# ---- The signature ----
sign=(openssl dgst -sha256 -sign)
pin_from_env=0
if [[ -n $p11_module ]]; then
  engine=${p11_engine:-pkcs11}
  export PKCS11_MODULE_PATH=$p11_module
  sign=(openssl dgst -sha256 -engine "$engine" -keyform engine -sign "$p11_key")
  if [[ -n $p11_pin_file ]]; then
    sign+=(-passin "file:$p11_pin_file")
  elif [[ -n ${LUM_PKCS11_PIN:-} ]]; then
    pin_from_env=1
  fi
else
  sign+=("$key")
fi
sign+=(-out "$tmp/manifest.json.sig" "$tmp/manifest.json")
if ((pin_from_env)); then
  # The PIN goes through a pipe, never a command line.
  "${sign[@]}" -passin fd:3 3< <(printf '%s\n' "$LUM_PKCS11_PIN") >/dev/null 2>"$tmp/sign.log"
else
  "${sign[@]}" >/dev/null 2>"$tmp/sign.log"
fi || {
  cat "$tmp/sign.log" >&2
  fail "signing failed"
}
(($(stat -c %s "$tmp/manifest.json.sig") <= 1024)) || fail "the signature is over 1 KiB"
verified=""
for public in "${manifest_keys[@]}"; do
  openssl pkey -pubin -in "$public" -text -noout 2>/dev/null | grep -q 'NIST CURVE: P-256' ||
    fail "$public is not a P-256 public key"
  if openssl dgst -sha256 -verify "$public" -signature "$tmp/manifest.json.sig" \
    "$tmp/manifest.json" >/dev/null 2>&1; then
    verified=$public
    break
  fi
done
[[ -n $verified ]] ||
  fail "the signature verifies with none of the build's public keys (--manifest-key): wrong signing key?"

mkdir -p "$out"
mv "$tmp/manifest.json.sig" "$out/manifest.json.sig.new"
mv "$tmp/manifest.json" "$out/manifest.json.new"
mv "$out/manifest.json.sig.new" "$out/manifest.json.sig"
mv "$out/manifest.json.new" "$out/manifest.json"
echo "manifest: $out/manifest.json (sequence $sequence, version $version, $size bytes, sha256 $sha256)"
echo "signature: $out/manifest.json.sig (verifies with $(basename "$verified"))"
echo "signer: $signer"
