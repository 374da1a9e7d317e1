#!/usr/bin/env bash
# Makes the test PKI into OUT_DIR (never committed):
#   ca.crt/ca.key/ca.der    root CA that the test prefix trusts
#   tls.crt/tls.key         server certificate for localhost and 127.0.0.1
#   trusted.crt/.key        code signing, subject = the trusted publisher
#   samecase.crt/.key       code signing, the trusted publisher's name in other letter case
#   other.crt/.key          code signing, another company
#   untrusted.crt/.key      code signing, the trusted publisher's name, chained to an untrusted root
#   untrusted-tls.crt/.key  server certificate for localhost and 127.0.0.1 from that untrusted root
# Each code-signing .crt file holds the leaf followed by its issuer, ready for osslsigncode -certs.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
publisher="Velmont Harbor Network Technology Co., Ltd."
days=3650


make_root() { # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days $days \
    -subj "$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

make_leaf() { # name subject issuer extensions...
  local name=$1 subject=$2 issuer=$3
  shift 3
  printf '%s\n' "$@" >"$name.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "$subject" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA "$issuer.crt" -CAkey "$issuer.key" -CAcreateserial \
    -out "$name.leaf.crt" -days $days -sha256 -extfile "$name.ext" 2>/dev/null
  cat "$name.leaf.crt" "$issuer.crt" >"$name.crt"
  rm -f "$name.csr" "$name.ext"
}

# Wine's certificate name check ignores IP entries: 127.0.0.1 also goes in as a DNS name.
tls_names="subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1"
codesign=("basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning")

make_root ca "/CN=Lumora Test Root CA/O=Lumora Test"
openssl x509 -in ca.crt -outform DER -out ca.der
make_leaf tls "/CN=localhost" ca "basicConstraints=critical,CA:FALSE" \
  "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" \
  "$tls_names"
cp tls.leaf.crt tls.crt.tmp && cat ca.crt >>tls.crt.tmp && mv tls.crt.tmp tls.crt
make_leaf trusted "/CN=$publisher/O=$publisher/C=CN" ca "${codesign[@]}"
make_leaf samecase "/CN=${publisher^^}/O=${publisher^^}/C=CN" ca "${codesign[@]}"
make_leaf other "/CN=Other Software Company Ltd./O=Other Software Company Ltd./C=CN" ca "${codesign[@]}"
make_root untrusted-root "/CN=Untrusted Test Root/O=Nobody"
make_leaf untrusted "/CN=$publisher/O=$publisher/C=CN" untrusted-root "${codesign[@]}"
make_leaf untrusted-tls "/CN=localhost" untrusted-root "basicConstraints=critical,CA:FALSE" \
  "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" \
  "$tls_names"
rm -f ./*.srl
echo "test PKI written to $out"
