#!/usr/bin/env bash
# Makes a signed release of the bootstrapper from a clean build folder:
#
#   tools/release/build-release.sh --manifest-url URL --metrics-url URL --legal-base-url URL \
#       (--cert CHAIN.pem --key KEY.pem | --test-cert DIR) [--channel ID] [--timestamp-url URL] \
#       [--build-dir DIR] [--out DIR]
#
# --cert/--key sign with the release certificate (the PEM chain, leaf first, and its key);
# --test-cert signs with the code-signing certificate of a throwaway test PKI made into DIR (made
# there unless DIR already holds one). The signing time is SOURCE_DATE_EPOCH, by default the time
# of the last commit, so the same sources, key and certificate give the same bytes. A time stamp
# from --timestamp-url is what a real release wants; it makes each signature unique.
# Output: OUT/LumoraWebSetup.exe (signed) and OUT/LumoraWebSetup.unsigned.exe; default OUT is
# BUILD_DIR/out, default BUILD_DIR is build-release.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
manifest_url="" metrics_url="" legal_url="" channel="" cert="" key="" test_pki="" ts_url=""
build_dir=build-release out_dir=""
while (($#)); do
  case $1 in
    --manifest-url) manifest_url=$2 ;;
    --metrics-url) metrics_url=$2 ;;
    --legal-base-url) legal_url=$2 ;;
    --channel) channel=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --test-cert) test_pki=$2 ;;
    --timestamp-url) ts_url=$2 ;;
    --build-dir) build_dir=$2 ;;
    --out) out_dir=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [[ -z $manifest_url || -z $metrics_url || -z $legal_url ]]; then
  echo "--manifest-url, --metrics-url and --legal-base-url are required" >&2
  exit 2
fi
if [[ -n $test_pki ]]; then
  [[ -f $test_pki/trusted.crt ]] || bash "$source_dir/tools/pki/make-test-pki.sh" "$test_pki" >/dev/null
  cert=$test_pki/trusted.crt key=$test_pki/trusted.key
fi
if [[ -z $cert || -z $key ]]; then
  echo "give --cert and --key, or --test-cert DIR" >&2
  exit 2
fi
out_dir=${out_dir:-$build_dir/out}
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 0)}

configure=(-DLUM_MANIFEST_URL="$manifest_url" -DLUM_METRICS_URL="$metrics_url"
  -DLUM_LEGAL_BASE_URL="$legal_url")
[[ -n $channel ]] && configure+=(-DLUM_CHANNEL="$channel")
rm -rf "$build_dir"
cmake -S "$source_dir" --preset release -B "$build_dir" "${configure[@]}" >/dev/null
cmake --build "$build_dir" --target LumoraWebSetup >/dev/null

mkdir -p "$out_dir"
exe=$build_dir/app/LumoraWebSetup.exe
cp "$exe" "$out_dir/LumoraWebSetup.unsigned.exe"
rm -f "$out_dir/LumoraWebSetup.exe"
sign=(osslsigncode sign -certs "$cert" -key "$key" -h sha256 -time "$epoch"
  -in "$exe" -out "$out_dir/LumoraWebSetup.exe")
[[ -n $ts_url ]] && sign+=(-ts "$ts_url")
"${sign[@]}" >/dev/null

python3 "$source_dir/tools/release/image_size.py" "$out_dir/LumoraWebSetup.exe" \
  "$source_dir"/resources/{hero.png,logo.png,app.ico} || echo "note: above the size goals"
osslsigncode verify -in "$out_dir/LumoraWebSetup.exe" >/dev/null 2>&1 ||
  osslsigncode verify -in "$out_dir/LumoraWebSetup.exe" -CAfile "$cert" | grep -i -m1 'signature verification' || true
(cd "$out_dir" && sha256sum LumoraWebSetup.unsigned.exe LumoraWebSetup.exe)
