#!/usr/bin/env bash
# Makes the test PKI into OUT_DIR (never committed):
#   make-test-pki.sh OUT_DIR [CRL_PORT]
#   ca.crt/ca.key/ca.der    root CA that the test prefix trusts
#   tls.crt/tls.key         server certificate for localhost and 127.0.0.1
#   codesign-ca.crt/.key    code-signing CA under that root: the one package signer CA the test
#                           builds pin (LUM_PACKAGE_SIGNER_CAS)
#   trusted.crt/.key        code signing, subject = the trusted publisher
#   samecase.crt/.key       code signing, the trusted publisher's name in other letter case
#   other.crt/.key          code signing, another company
#   revoked.crt/.key        code signing, the trusted publisher's name, revoked by its CA
#   revocation-offline.crt/.key  the same name, its revocation list on a port nobody serves
#   untrusted.crt/.key      code signing, the trusted publisher's name, chained to an untrusted root
#   untrusted-tls.crt/.key  server certificate for localhost and 127.0.0.1 from that untrusted root
#   revoked-tls.crt/.key    server certificate for localhost from the test root, revoked
#   rogue-root.crt/.der     a second root, as a TLS-intercepting proxy's that a machine trusts
#   rogue.crt/.key          code signing from that root in the trusted publisher's exact name
#   crl/root.crl, crl/codesign.crl  the revocation lists (DER) of the two CAs, served over plain
#                           HTTP on 127.0.0.1:CRL_PORT under /crl/
#   manifest.key/.pub.pem   manifest signing key (P-256) and its public key
#   manifest-next.key/.pub.pem      the next key of a rotation
#   manifest-unlisted.key/.pub.pem  a key no build lists
# With CRL_PORT the code-signing CA and the certificates it issues name their CA's revocation
# list there; without it they name none (osslsigncode verify fails on a list it cannot fetch, and
# the release tooling's own PKI has nobody serving them). Each code-signing .crt file holds the
# leaf followed by its issuer, ready for osslsigncode -certs.
set -euo pipefail
out=$1
crl_port=${2:-}
mkdir -p "$out"
cd "$out"
publisher="Velmont Harbor Network Technology Co., Ltd."
days=3650
crl_base="http://127.0.0.1:$crl_port/crl"

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

# The revocation list crl/LIST.crl of a CA, listing the leaf certificates given.
make_crl() { # list ca revoked-leaf...
  local list=$1 ca=$2 db
  shift 2
  db=$(mktemp -d)
  : >"$db/index.txt"
  echo 01 >"$db/crlnumber"
  printf '%s\n' "[ca]" "default_ca=test" "[test]" "database=$db/index.txt" \
    "crlnumber=$db/crlnumber" "default_md=sha256" "default_crl_days=$days" >"$db/ca.cnf"
  for leaf in "$@"; do
    openssl ca -config "$db/ca.cnf" -keyfile "$ca.key" -cert "$ca.crt" -revoke "$leaf.leaf.crt" 2>/dev/null
  done
  openssl ca -config "$db/ca.cnf" -keyfile "$ca.key" -cert "$ca.crt" -gencrl -out "$db/crl.pem" 2>/dev/null
  mkdir -p crl
  openssl crl -in "$db/crl.pem" -outform DER -out "crl/$list.crl"
  rm -rf "$db"
}

make_ec_key() { # name
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
  openssl pkey -in "$1.key" -pubout -out "$1.pub.pem"
}

# Wine's certificate name check ignores IP entries: 127.0.0.1 also goes in as a DNS name.
tls_names="subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1"
codesign=("basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning")
listed=("${codesign[@]}")
ca_listed=()
if [[ -n $crl_port ]]; then
  listed+=("crlDistributionPoints=URI:$crl_base/codesign.crl")
  ca_listed=("crlDistributionPoints=URI:$crl_base/root.crl")
fi

make_root ca "/CN=Lumora Test Root CA/O=Lumora Test"
openssl x509 -in ca.crt -outform DER -out ca.der
# The server certificates name their CA's list too: the client checks them for revocation.
for name in tls revoked-tls; do
  make_leaf $name "/CN=localhost" ca "basicConstraints=critical,CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" \
    "$tls_names" "${ca_listed[@]}"
  cp $name.leaf.crt $name.crt.tmp && cat ca.crt >>$name.crt.tmp && mv $name.crt.tmp $name.crt
done
make_leaf codesign-ca "/CN=Lumora Test Code Signing CA/O=Lumora Test" ca \
  "basicConstraints=critical,CA:TRUE,pathlen:0" "keyUsage=critical,keyCertSign,cRLSign" \
  "${ca_listed[@]}"
cp codesign-ca.leaf.crt codesign-ca.crt
make_leaf trusted "/CN=$publisher/O=$publisher/C=CN" codesign-ca "${listed[@]}"
make_leaf samecase "/CN=${publisher^^}/O=${publisher^^}/C=CN" codesign-ca "${listed[@]}"
make_leaf other "/CN=Other Software Company Ltd./O=Other Software Company Ltd./C=CN" codesign-ca "${listed[@]}"
make_leaf revoked "/CN=$publisher/O=$publisher/C=CN" codesign-ca "${listed[@]}"
# Port 1 of the loopback: nothing listens there, the list cannot be fetched.
make_leaf revocation-offline "/CN=$publisher/O=$publisher/C=CN" codesign-ca "${codesign[@]}" \
  "crlDistributionPoints=URI:http://127.0.0.1:1/crl/codesign.crl"
make_crl root ca revoked-tls
make_crl codesign codesign-ca revoked
make_root untrusted-root "/CN=Untrusted Test Root/O=Nobody"
make_leaf untrusted "/CN=$publisher/O=$publisher/C=CN" untrusted-root "${codesign[@]}"
make_leaf untrusted-tls "/CN=localhost" untrusted-root "basicConstraints=critical,CA:FALSE" \
  "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" \
  "$tls_names"
make_root rogue-root "/CN=Corporate Inspection Root/O=Some Proxy Vendor"
openssl x509 -in rogue-root.crt -outform DER -out rogue-root.der
make_leaf rogue "/CN=$publisher/O=$publisher/C=CN" rogue-root "${codesign[@]}"
make_ec_key manifest
make_ec_key manifest-next
make_ec_key manifest-unlisted
rm -f ./*.srl
echo "test PKI written to $out"
