#!/usr/bin/env bash
# Makes the certificates that the update tests need, in a new build folder:
# a test root CA, a server certificate for localhost, the code-signing
# certificate that the test build pins, one of another publisher from the same
# CA, and a self-signed one that copies the pinned name. No private key of
# these ever leaves the build folder.
#   make-test-pki.sh <output folder> <pinned signer common name>
set -euo pipefail
out=$1 signer=$2
mkdir -p "$out"
cd "$out"
rm -f ./*.pem ./*.der ./*.srl

key() { openssl genrsa -out "$1" 2048 2>/dev/null; }
ext() { printf '%s\n' "$@" > "$ext_file"; }
ext_file=$(mktemp "$out/ext.XXXXXX")
trap 'rm -f "$ext_file"' EXIT

key ca-key.pem
openssl req -x509 -new -key ca-key.pem -sha256 -days 30 -subj "/CN=Tarnwick Test Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" -out ca.pem
openssl x509 -in ca.pem -outform DER -out ca.der

# issue <name> <subject CN> <extensions...>: a certificate of the test CA.
issue() {
  local name=$1 cn=$2
  shift 2
  key "$name-key.pem"
  openssl req -new -key "$name-key.pem" -subj "/CN=$cn" -out "$name.csr" 2>/dev/null
  ext "$@"
  openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial -sha256 -days 30 \
    -extfile "$ext_file" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr"
}

issue server localhost "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost"
issue signer "$signer" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
issue other "Another Publisher" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning"

# The pinned name, but trusted by nobody.
key rogue-key.pem
openssl req -x509 -new -key rogue-key.pem -sha256 -days 30 -subj "/CN=$signer" \
  -addext "basicConstraints=CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" -out rogue.pem
rm -f ca.srl

