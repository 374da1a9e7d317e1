#!/usr/bin/env bash
# Checks of tools/release/build-release.sh, with real osslsigncode, a real SoftHSM2 token and a
# real `openssl ts` time-stamp authority on 127.0.0.1:
#
#   tests/release/signing-test.sh CASE WORK_DIR
#
#   build      a clean release build signed with a test certificate; leaves WORK_DIR/out and
#              WORK_DIR/pki, which the other cases re-sign (--unsigned) instead of building again
#   pkcs11     signing through a PKCS#11 token, certificate from a file or from the token
#   timestamp  an RFC 3161 time stamp from a local authority, and one that does not verify
#   verify     a signature that does not verify fails the release
#   refuse     what is refused before anything is built (needs no build)
set -euo pipefail
case_name=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
release=$source_dir/tools/release/build-release.sh
pki=$work/pki
unsigned=$work/out/LumoraWebSetup.unsigned.exe
urls=(--manifest-url https://update.example.com/storage/manifest.json
  --metrics-url https://metrics.example.com/metrics/report/
  --legal-base-url https://www.example.com)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs build-release.sh on the already built program into DIR; its output goes to DIR.log.
sign_into() { # DIR ARGS...
  local dir=$1
  shift
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  bash "$release" "${urls[@]}" --unsigned "$unsigned" --out "$dir" "$@" >"$dir.log" 2>&1
}

expect_signed() { # WHAT DIR ARGS...
  local what=$1 dir=$2
  shift 2
  if sign_into "$dir" "$@" && [[ -f $dir/LumoraWebSetup.exe ]]; then
    echo "ok: $what"
  else
    fail "$what"
    cat "$dir.log" >&2
  fi
}

# The release fails (exit 1), says why, and leaves no signed program behind.
expect_failed() { # WHAT PATTERN DIR ARGS...
  local what=$1 pattern=$2 dir=$3 status=0
  shift 3
  sign_into "$dir" "$@" || status=$?
  if ((status == 1)) && grep -q -- "$pattern" "$dir.log" && [[ ! -e $dir/LumoraWebSetup.exe ]]; then
    echo "ok: $what"
  else
    fail "$what (exit $status, wanted 1 and '$pattern')"
    cat "$dir.log" >&2
  fi
}

# Refused (exit 2) with PATTERN in the message. A program that is not the build stands in, so
# that even a check that lets through neither builds nor signs (nor asks a time-stamp authority
# anywhere); what it would write goes under $none, which a refusal leaves unmade.
expect_refused() { # WHAT PATTERN ARGS...
  local what=$1 pattern=$2 status=0
  shift 2
  bash "$release" --unsigned "$work/not-the-build.exe" --out "$none/out" "$@" \
    >"$work/refused.log" 2>&1 || status=$?
  if ((status == 2)) && grep -q -- "$pattern" "$work/refused.log"; then
    echo "ok: refused $what"
  else
    fail "not refused: $what (exit $status, wanted 2 and '$pattern')"
    cat "$work/refused.log" >&2
  fi
}

case $case_name in
build)
  rm -rf "$work"/{build,out,pki}
  bash "$release" "${urls[@]}" --test-cert "$pki" --no-timestamp \
    --build-dir "$work/build" --out "$work/out"
  ;;

pkcs11)
  module=""
  for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*-linux-gnu/softhsm/libsofthsm2.so; do
    [[ -f $candidate ]] && module=$candidate && break
  done
  [[ -n $module ]] || { echo "SoftHSM2 is not installed (tools/setup.sh)" >&2; exit 1; }
  token=$work/pkcs11
  rm -rf "$token"
  mkdir -p "$token/objects"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$token/objects" >"$token/softhsm2.conf"
  export SOFTHSM2_CONF=$token/softhsm2.conf
  pin=31415926
  printf '%s\n' "$pin" >"$token/pin"
  softhsm2-util --init-token --free --label lum-release --so-pin 27182818 --pin "$pin" >/dev/null
  openssl pkcs8 -topk8 -nocrypt -in "$pki/trusted.key" -out "$token/key.p8"
  softhsm2-util --import "$token/key.p8" --token lum-release --label codesign --id 01 \
    --pin "$pin" >/dev/null
  rm "$token/key.p8"
  GNUTLS_PIN=$pin p11tool --provider "$module" --login --write --label codesign --id 01 \
    --load-certificate "$pki/trusted.leaf.crt" "pkcs11:token=lum-release" >/dev/null
  key_uri="pkcs11:token=lum-release;object=codesign;type=private"
  cert_uri="pkcs11:token=lum-release;object=codesign;type=cert"

  expect_signed "token key, certificate chain from a file, PIN from a file" "$token/chain" \
    --pkcs11-module "$module" --pkcs11-key "$key_uri" --cert "$pki/trusted.crt" \
    --pkcs11-pin-file "$token/pin" --ca "$pki/ca.crt" --no-timestamp
  # The token holds the leaf only; its issuing CA comes with --extra-certs.
  LUM_PKCS11_PIN=$pin expect_signed "token key and certificate, PIN from the environment" \
    "$token/in-token" --pkcs11-module "$module" --pkcs11-key "$key_uri" --pkcs11-cert "$cert_uri" \
    --extra-certs "$pki/codesign-ca.crt" --ca "$pki/ca.crt" --no-timestamp
  printf '00000000\n' >"$token/wrong-pin"
  expect_failed "a wrong PIN" "signing failed" "$token/wrong-pin-out" \
    --pkcs11-module "$module" --pkcs11-key "$key_uri" --cert "$pki/trusted.crt" \
    --pkcs11-pin-file "$token/wrong-pin" --ca "$pki/ca.crt" --no-timestamp
  ;;

timestamp)
  tsa=$work/tsa
  rm -rf "$tsa"
  mkdir -p "$tsa"
  (
    cd "$tsa"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa-ca.key -out tsa-ca.crt -days 30 \
      -subj "/CN=Lumora Test TSA Root" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=Lumora Test TSA" \
      2>/dev/null
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=critical,timeStamping" >tsa.ext
    openssl x509 -req -in tsa.csr -CA tsa-ca.crt -CAkey tsa-ca.key -CAcreateserial -days 30 \
      -sha256 -extfile tsa.ext -out tsa.crt 2>/dev/null
  )
  python3 "$source_dir/tests/release/tsa_server.py" "$tsa" "$tsa/port" &
  tsa_pid=$!
  trap 'kill "$tsa_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do
    [[ -s $tsa/port ]] && break
    kill -0 "$tsa_pid" 2>/dev/null || { echo "the time-stamp authority did not start" >&2; exit 1; }
    sleep 0.1
  done
  ts_url=http://127.0.0.1:$(cat "$tsa/port")/
  file_signer=(--cert "$pki/trusted.crt" --key "$pki/trusted.key" --ca "$pki/ca.crt")

  expect_signed "time-stamped by the local authority" "$tsa/stamped" \
    "${file_signer[@]}" --timestamp-url "$ts_url" --timestamp-ca "$tsa/tsa-ca.crt"
  if [[ -f $tsa/stamped/LumoraWebSetup.exe ]]; then
    report=$(osslsigncode verify -in "$tsa/stamped/LumoraWebSetup.exe" -CAfile "$pki/ca.crt" \
      -TSA-CAfile "$tsa/tsa-ca.crt" 2>&1 || true)
    # "Timestamp time:" from osslsigncode 2.9, "The signature is timestamped:" from 2.5.
    stamped='Timestamp time:|The signature is timestamped:'
    grep -q '^Timestamp Server Signature verification: ok' <<<"$report" &&
      grep -qE "$stamped" <<<"$report" && echo "ok: the time stamp verifies against its root" ||
      fail "no time stamp that verifies: $report"
    grep -qE "$stamped" "$tsa/stamped.log" || fail "the release does not report its time stamp"
  fi
  # osslsigncode itself still exits 0 here: the time stamp fails, the signature does not.
  expect_failed "a time stamp that does not chain to --timestamp-ca" "does not verify" \
    "$tsa/wrong-root" "${file_signer[@]}" --timestamp-url "$ts_url" --timestamp-ca "$pki/ca.crt"
  ;;

verify)
  expect_failed "a certificate from another root than --ca" "does not verify" \
    "$work/verify/other-root" --cert "$pki/untrusted.crt" --key "$pki/untrusted.key" \
    --ca "$pki/ca.crt" --no-timestamp
  # A chain without its root proves nothing by itself: with no --ca it is checked against the
  # system's roots, which do not know the test root.
  expect_failed "a chain without its root, and no --ca" "does not verify" "$work/verify/leaf-only" \
    --cert "$pki/trusted.leaf.crt" --key "$pki/trusted.key" --no-timestamp
  ;;

refuse)
  real=(--manifest-url https://update.lumora.cn/storage/manifest.json
    --metrics-url https://metrics.lumora.cn/metrics/report/ --legal-base-url https://www.lumora.cn)
  # Paths that exist nowhere: each refusal must come before any file is read or made.
  none=$work/refuse-none
  rm -rf "$none"
  printf 'MZ' >"$work/not-the-build.exe"
  key_file=(--cert "$none/chain.pem" --key "$none/key.pem")
  expect_refused "real URLs without a time stamp" "time stamp" "${real[@]}" "${key_file[@]}"
  expect_refused "real URLs with the test certificate" "not on an example or test host" \
    "${real[@]}" --test-cert "$none/pki" --no-timestamp
  expect_refused "a real time-stamp authority with the test certificate" \
    "http://timestamp.lumora.cn is not on an example" \
    "${urls[@]}" --test-cert "$none/pki" --timestamp-url http://timestamp.lumora.cn
  for host in example.com.lumora.cn notexample.com update.example.com@lumora.cn lumora.test.cn; do
    expect_refused "the test certificate for $host" "not on an example or test host" \
      "${urls[@]:2}" --manifest-url "https://$host/storage/manifest.json" \
      --test-cert "$none/pki" --no-timestamp
  done
  expect_refused "a loopback service URL" "real service URLs" \
    "${urls[@]:0:4}" --legal-base-url https://127.0.0.1:8643 "${key_file[@]}" --no-timestamp
  expect_refused "both --timestamp-url and --no-timestamp" "not both" \
    "${real[@]}" "${key_file[@]}" --timestamp-url http://timestamp.lumora.cn --no-timestamp
  # Reserved names in any letter case pass the host check and get as far as the program, which
  # does not carry them.
  expect_refused "a program that does not carry the URLs" "does not carry" \
    --manifest-url https://cdn.lumora.test/storage/manifest.json \
    --metrics-url https://metrics.lumora.invalid/metrics/report/ \
    --legal-base-url https://WWW.Example.COM. --timestamp-url http://tsa.lumora.example/ \
    --test-cert "$none/pki"
  [[ ! -e $none ]] || fail "a refused release made $none"
  ;;

*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
exit $((failures > 0))
