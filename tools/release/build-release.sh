#!/usr/bin/env bash
# Makes a signed release of the bootstrapper from a clean build folder:
#
#   tools/release/build-release.sh --manifest-url URL --metrics-url URL --legal-base-url URL \
#       SIGNER (--timestamp-url URL [--timestamp-ca FILE] | --no-timestamp) [--ca FILE] \
#       --manifest-key PUB.pem [--manifest-key NEXT.pub.pem] --signer-ca CA.pem [--signer-ca ...] \
#       [--min-sequence N] [--channel ID] [--build-dir DIR] [--out DIR] [--unsigned EXE]
#
# What the program trusts besides TLS is compiled in: the manifest's public keys (--manifest-key,
# each a P-256 PUBLIC KEY; the current key and, during a rotation, the next), the package signer
# CAs it pins (--signer-ca, PEM CA certificates, issuing or root) and the lowest manifest sequence
# it takes (--min-sequence, default 1). A build needs at least one key and one CA; with
# --test-cert they default to the test PKI's. --unsigned takes them as that program was built.
#
# SIGNER is one of:
#   --cert CHAIN.pem --key KEY.pem
#       the release certificate (the PEM chain, leaf first) and its key file;
#   --pkcs11-module MODULE.so --pkcs11-key URI (--cert CHAIN.pem | --pkcs11-cert URI)
#       [--extra-certs FILE] [--pkcs11-pin-file FILE] [--pkcs11-engine ENGINE.so]
#       the key in a PKCS#11 token (a pkcs11: URI), its certificate from a PEM chain or from the
#       token; --extra-certs adds the intermediate certificates when the token holds only the
#       leaf. The PIN is read from --pkcs11-pin-file, else from LUM_PKCS11_PIN in the environment,
#       never from the command line. The engine is OpenSSL's PKCS#11 engine, by default the one
#       in OpenSSL's engines folder (libengine-pkcs11-openssl);
#   --test-cert DIR
#       the code-signing certificate of a throwaway test PKI made into DIR (made there unless DIR
#       already holds one). Refused unless every URL is on a reserved example or test host
#       (example.com/.net/.org and their subdomains, *.example, *.test, *.invalid), so that a
#       build for real services is never signed with a test certificate.
#
# A release is time-stamped by the RFC 3161 authority at --timestamp-url, so that its signature
# outlives the certificate; --no-timestamp has to be asked for (reproducible test builds).
# The signing time is SOURCE_DATE_EPOCH, by default the time of the last commit, so the same
# sources, key and certificate give the same bytes; a time stamp makes each signature unique.
#
# The signed program must verify, or the script removes it and fails: its chain against --ca
# (by default the root that ends the given chain, else the system's CA bundle; the test PKI's root
# with --test-cert) and its time stamp against --timestamp-ca (by default the system's CA bundle).
#
# --unsigned EXE skips the build and signs EXE, which must carry the three URLs as built.
# Output: OUT/LumoraWebSetup.exe (signed) and OUT/LumoraWebSetup.unsigned.exe; default OUT is
# BUILD_DIR/out, default BUILD_DIR is build-release. Exit status 2: refused before building.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
manifest_url="" metrics_url="" legal_url="" channel="" cert="" key="" test_pki=""
ts_url="" no_ts="" ca="" ts_ca="" unsigned=""
p11_module="" p11_key="" p11_cert="" p11_pin_file="" p11_engine="" extra_certs=""
build_dir=build-release out_dir="" min_sequence=""
manifest_keys=() signer_cas=()

refuse() {
  echo "build-release: $*" >&2
  exit 2
}

while (($#)); do
  opt=$1
  shift
  if [[ $opt == --no-timestamp ]]; then
    no_ts=1
    continue
  fi
  (($#)) || refuse "$opt needs a value"
  case $opt in
    --manifest-url) manifest_url=$1 ;;
    --metrics-url) metrics_url=$1 ;;
    --legal-base-url) legal_url=$1 ;;
    --channel) channel=$1 ;;
    --cert) cert=$1 ;;
    --key) key=$1 ;;
    --test-cert) test_pki=$1 ;;
    --pkcs11-module) p11_module=$1 ;;
    --pkcs11-key) p11_key=$1 ;;
    --pkcs11-cert) p11_cert=$1 ;;
    --pkcs11-pin-file) p11_pin_file=$1 ;;
    --pkcs11-engine) p11_engine=$1 ;;
    --extra-certs) extra_certs=$1 ;;
    --ca) ca=$1 ;;
    --timestamp-url) ts_url=$1 ;;
    --timestamp-ca) ts_ca=$1 ;;
    --unsigned) unsigned=$1 ;;
    --build-dir) build_dir=$1 ;;
    --out) out_dir=$1 ;;
    --manifest-key) manifest_keys+=("$1") ;;
    --signer-ca) signer_cas+=("$1") ;;
    --min-sequence) min_sequence=$1 ;;
    *) refuse "unknown option $opt" ;;
  esac
  shift
done

# The host of a URL, lower case, without user, port or a trailing dot.
url_host() {
  local host=${1#*://}
  host=${host%%[/?#]*}
  host=${host##*@}
  if [[ $host == \[* ]]; then host=${host%%]*}]; else host=${host%%:*}; fi
  host=${host%.}
  printf '%s' "${host,,}"
}

# Names that RFC 2606 and RFC 6761 keep for examples and tests: no real service lives there.
is_test_host() {
  case $1 in
    example.com | *.example.com | example.net | *.example.net | example.org | *.example.org) ;;
    *.example | *.test | *.invalid) ;;
    *) return 1 ;;
  esac
}

is_loopback_host() {
  [[ $1 == localhost || $1 == *.localhost || $1 == "[::1]" || $1 =~ ^127\.[0-9.]+$ ]]
}

# The URLs are compiled in as NUL-terminated UTF-16 strings: the program to be signed must carry
# exactly the ones the checks below are made for.
carries_service_urls() { # EXE
  python3 - "$1" "${service_urls[@]}" <<'EOF'
import sys
exe, urls = sys.argv[1], sys.argv[2:]
data = open(exe, "rb").read()
missing = [u for u in urls if (u + "\0").encode("utf-16-le") not in data]
for u in missing:
    print(f"build-release: {exe} does not carry {u}", file=sys.stderr)
sys.exit(1 if missing else 0)
EOF
}

# ---- What is asked for must make sense before anything is built ----
service_urls=("$manifest_url" "$metrics_url" "$legal_url")
if [[ -z $manifest_url || -z $metrics_url || -z $legal_url ]]; then
  refuse "--manifest-url, --metrics-url and --legal-base-url are required"
fi
for url in "${service_urls[@]}"; do
  [[ $url == https://* ]] || refuse "$url: the service URLs must be https:// URLs"
  # The release preset refuses these too; --unsigned skips it.
  is_loopback_host "$(url_host "$url")" && refuse "$url: a release needs real service URLs"
done

if [[ -n $test_pki ]]; then
  [[ -z $cert$key$p11_module$p11_key$p11_cert ]] ||
    refuse "--test-cert signs with the test certificate: give no other certificate or key"
elif [[ -n $p11_module || -n $p11_key || -n $p11_cert ]]; then
  [[ -n $p11_module && -n $p11_key ]] || refuse "a token needs --pkcs11-module and --pkcs11-key"
  [[ -z $key ]] || refuse "give --key or --pkcs11-key, not both"
  [[ -n $cert || -n $p11_cert ]] || refuse "give --cert CHAIN.pem or --pkcs11-cert URI"
  [[ -z $cert || -z $p11_cert ]] || refuse "give --cert or --pkcs11-cert, not both"
  if [[ -z $p11_engine ]]; then
    engines=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')
    [[ -f $engines/pkcs11.so ]] ||
      refuse "no PKCS#11 engine in $engines: install libengine-pkcs11-openssl"
  fi
elif [[ -z $cert || -z $key ]]; then
  refuse "give --cert and --key, --pkcs11-module and --pkcs11-key, or --test-cert DIR"
fi
[[ -z $p11_pin_file$p11_engine$extra_certs || -n $p11_module ]] ||
  refuse "--pkcs11-pin-file, --pkcs11-engine and --extra-certs go with --pkcs11-module"

if [[ -n $ts_url && -n $no_ts ]]; then
  refuse "give --timestamp-url or --no-timestamp, not both"
elif [[ -z $ts_url && -z $no_ts ]]; then
  refuse "a release needs an RFC 3161 time stamp: give --timestamp-url URL (or --no-timestamp)"
fi
[[ -z $ts_url || $ts_url == http://* || $ts_url == https://* ]] ||
  refuse "$ts_url: the time-stamp URL must be an http:// or https:// URL"
[[ -z $ts_ca || -n $ts_url ]] || refuse "--timestamp-ca goes with --timestamp-url"

if [[ -n $test_pki ]]; then
  for url in "${service_urls[@]}" ${ts_url:+"$ts_url"}; do
    is_test_host "$(url_host "$url")" ||
      refuse "$url is not on an example or test host: a test certificate signs test builds only"
  done
fi

if [[ -z $unsigned && -z $test_pki ]]; then
  ((${#manifest_keys[@]})) ||
    refuse "a release needs the manifest's public key: --manifest-key PUB.pem (repeatable)"
  ((${#signer_cas[@]})) ||
    refuse "a release needs the package signer's CA: --signer-ca CA.pem (repeatable)"
fi
[[ -z $unsigned || (${#manifest_keys[@]} -eq 0 && ${#signer_cas[@]} -eq 0 && -z $min_sequence) ]] ||
  refuse "--manifest-key, --signer-ca and --min-sequence are built in: they do not go with --unsigned"
[[ -z $min_sequence || $min_sequence =~ ^[1-9][0-9]{0,17}$ ]] ||
  refuse "--min-sequence must be an integer of at least 1"
for file in "${manifest_keys[@]}"; do
  grep -q -- "-----BEGIN PUBLIC KEY-----" "$file" 2>/dev/null ||
    refuse "$file: not a PEM public key (--manifest-key)"
done
for file in "${signer_cas[@]}"; do
  openssl x509 -in "$file" -noout -ext basicConstraints 2>/dev/null | grep -q "CA:TRUE" ||
    refuse "$file: not a PEM CA certificate (--signer-ca)"
done

if [[ -n $unsigned ]]; then
  [[ -f $unsigned ]] || refuse "$unsigned: no such file"
  [[ -z $channel ]] || refuse "--channel is built in: it does not go with --unsigned"
  carries_service_urls "$unsigned" || exit 2
fi
for file in "$cert" "$key" "$p11_module" "$p11_engine" "$p11_pin_file" "$extra_certs" "$ca" \
  "$ts_ca"; do
  [[ -z $file || -r $file ]] || refuse "$file: cannot read it"
done

# ---- Build ----
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out_dir=${out_dir:-$build_dir/out}
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 0)}
if [[ -n $test_pki ]]; then
  [[ -f $test_pki/trusted.crt ]] ||
    bash "$source_dir/tools/pki/make-test-pki.sh" "$test_pki" >/dev/null
  cert=$test_pki/trusted.crt key=$test_pki/trusted.key ca=${ca:-$test_pki/ca.crt}
  ((${#manifest_keys[@]})) || manifest_keys=("$test_pki/manifest.pub.pem")
  ((${#signer_cas[@]})) || signer_cas=("$test_pki/codesign-ca.crt")
fi

if [[ -n $unsigned ]]; then
  exe=$unsigned
else
  # A CMake list of absolute paths.
  cmake_list() {
    local IFS=';' paths=() file
    for file in "$@"; do paths+=("$(realpath "$file")"); done
    echo "${paths[*]}"
  }
  configure=(-DLUM_MANIFEST_URL="$manifest_url" -DLUM_METRICS_URL="$metrics_url"
    -DLUM_LEGAL_BASE_URL="$legal_url" -DLUM_MANIFEST_KEYS="$(cmake_list "${manifest_keys[@]}")"
    -DLUM_PACKAGE_SIGNER_CAS="$(cmake_list "${signer_cas[@]}")")
  [[ -n $channel ]] && configure+=(-DLUM_CHANNEL="$channel")
  [[ -n $min_sequence ]] && configure+=(-DLUM_MANIFEST_MIN_SEQUENCE="$min_sequence")
  rm -rf "$build_dir"
  cmake -S "$source_dir" --preset release -B "$build_dir" "${configure[@]}" >/dev/null
  cmake --build "$build_dir" --target LumoraWebSetup >/dev/null
  exe=$build_dir/app/LumoraWebSetup.exe
  carries_service_urls "$exe" || exit 1
fi


mkdir -p "$out_dir"
signed=$out_dir/LumoraWebSetup.exe
[[ $exe -ef $out_dir/LumoraWebSetup.unsigned.exe ]] ||
  cp "$exe" "$out_dir/LumoraWebSetup.unsigned.exe"
# osslsigncode refuses to overwrite its output.
rm -f "$signed"

# ---- Sign ----
sign=(osslsigncode sign -h sha256 -time "$epoch" -in "$exe" -out "$signed")
pin_from_env=0
if [[ -n $p11_module ]]; then
  # Without -pkcs11engine osslsigncode loads OpenSSL's engine "pkcs11" by its name.
  [[ -n $p11_engine ]] && sign+=(-pkcs11engine "$p11_engine")
  sign+=(-pkcs11module "$p11_module" -key "$p11_key")
  if [[ -n $p11_cert ]]; then sign+=(-pkcs11cert "$p11_cert"); else sign+=(-certs "$cert"); fi
  [[ -n $extra_certs ]] && sign+=(-ac "$extra_certs")
  # The PIN goes through a file or a pipe: a command line is readable by every local user
  # (printf is a builtin, so no process gets it as an argument either).
  if [[ -n $p11_pin_file ]]; then
    sign+=(-readpass "$p11_pin_file")
  elif [[ -n ${LUM_PKCS11_PIN:-} ]]; then
    pin_from_env=1
  fi
else
  sign+=(-certs "$cert" -key "$key")
fi
[[ -n $ts_url ]] && sign+=(-ts "$ts_url")
if ((pin_from_env)); then
  "${sign[@]}" -readpass <(printf '%s\n' "$LUM_PKCS11_PIN") >/dev/null
else
  "${sign[@]}" >/dev/null
fi || {
  echo "build-release: signing failed" >&2
  rm -f "$signed"
  exit 1
}

# ---- Verify ----
# Without --ca, a chain that ends in its root is checked against that root: it shows at least
# that the signature, the key and the whole chain belong together.
if [[ -z $ca ]]; then
  chain=${cert:-$extra_certs}
  if [[ -n $chain ]]; then
    awk '/-----BEGIN CERTIFICATE-----/ { c = "" } { c = c $0 "\n" }
      /-----END CERTIFICATE-----/ { last = c } END { printf "%s", last }' "$chain" >"$tmp/root.pem"
    hashes=$(openssl x509 -in "$tmp/root.pem" -noout -subject_hash -issuer_hash 2>/dev/null || true)
    [[ -n $hashes && $(sed -n 1p <<<"$hashes") == $(sed -n 2p <<<"$hashes") ]] && ca=$tmp/root.pem
  fi
fi
verify=(osslsigncode verify -in "$signed")
[[ -n $ca ]] && verify+=(-CAfile "$ca")
[[ -n $ts_ca ]] && verify+=(-TSA-CAfile "$ts_ca")
report=$("${verify[@]}" 2>&1) && status=0 || status=$?
# osslsigncode reports a time stamp that does not verify, yet still exits 0 for the signature.
verified=$((status == 0))
grep -q '^Signature verification: ok' <<<"$report" || verified=0
if [[ -n $ts_url ]] && ! grep -q '^Timestamp Server Signature verification: ok' <<<"$report"; then
  verified=0
fi
if ((!verified)); then
  grep -iE 'error|fail|not available' <<<"$report" >&2 || printf '%s\n' "$report" >&2
  bundle="the system's CA bundle"
  against="its chain against ${ca:-$bundle}"
  [[ -z $ts_url ]] || against+=", its time stamp against ${ts_ca:-$bundle}"
  echo "build-release: the signed program does not verify ($against); removed it" >&2
  rm -f "$signed"
  exit 1
fi
grep -m1 -E '^[[:space:]]*Subject:' <<<"$report" | sed 's/^[[:space:]]*Subject:/signed by:/'
# osslsigncode 2.5 (Debian 12) says "The signature is timestamped:", later ones "Timestamp time:".
grep -E '^(Signature verification|Timestamp Server Signature verification):' <<<"$report"
grep -E '^[[:space:]]*Timestamp time:|^The signature is timestamped:' <<<"$report" |
  sed 's/^[[:space:]]*//' || true

python3 "$source_dir/tools/release/image_size.py" "$signed" \
  "$source_dir"/resources/{hero.png,logo.png,app.ico} || echo "note: above the size goals"
(cd "$out_dir" && sha256sum LumoraWebSetup.unsigned.exe LumoraWebSetup.exe)
