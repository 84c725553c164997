#!/usr/bin/env bash
# Makes the certificates that the update tests need, in a new build folder:
# a test root CA, a server certificate for localhost, the code-signing
# certificate whose key the test build pins, and the signers an update must
# refuse:
#   other       another publisher's key and name, from the same CA
#   same-name   the pinned name with a second key, from the same CA
#   other-root  the pinned name with a second key, from a second root that
#               the machine trusts as well
#   user-root   the pinned key and name, from a root that only the user's own
#               (CurrentUser) store trusts
#   server-only the pinned key and name, for server authentication only
#   no-usage    the pinned key and name, without any extended key usage
#   rogue       the pinned name, self-signed, trusted by nobody
#   revoked     the pinned key and name, from the CA, which then revokes it
# With a CRL URL, the genuine signer and the revoked one name it as their
# CRL distribution point, and ca.crl (DER) is the CA's list, naming the
# revoked signer; the tests serve it there.
# No private key of these ever leaves the build folder.
#   make-test-pki.sh <output folder> <pinned signer common name> [<CRL URL>]
set -euo pipefail
out=$1 signer=$2 crl_url=${3:-}
mkdir -p "$out"
cd "$out"
rm -f ./*.pem ./*.der ./*.srl ./*.sha256 ./*.crl
rm -rf ca-database

key() { openssl genrsa -out "$1" 2048 2>/dev/null; }
ext() { printf '%s\n' "$@" > "$ext_file"; }
ext_file=$(mktemp "$out/ext.XXXXXX")
trap 'rm -f "$ext_file"' EXIT

# root <name> <subject CN>: a self-signed CA, also in DER for the tests' stores.
root() {
  key "$1-key.pem"
  openssl req -x509 -new -key "$1-key.pem" -sha256 -days 30 -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" -out "$1.pem"
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}
root ca "Tarnwick Test Root CA"
root ca2 "Tarnwick Test Second Root CA"
root user-ca "Tarnwick Test User Root CA"

# issue <name> <CA> <key file or "new"> <subject CN> <extensions...>
issue() {
  local name=$1 ca=$2 key_file=$3 cn=$4
  shift 4
  if [ "$key_file" = new ]; then key "$name-key.pem"; else cp "$key_file" "$name-key.pem"; fi
  openssl req -new -key "$name-key.pem" -subj "/CN=$cn" -out "$name.csr" 2>/dev/null
  ext "$@"
  openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca-key.pem" -CAcreateserial -sha256 -days 30 \
    -extfile "$ext_file" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr"
}
code_signing=("basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning")
listed_signing=("${code_signing[@]}")
if [ -n "$crl_url" ]; then listed_signing+=("crlDistributionPoints=URI:$crl_url"); fi

issue server ca new localhost "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost"
issue signer ca new "$signer" "${listed_signing[@]}"
issue other ca new "Another Publisher" "${code_signing[@]}"
issue same-name ca new "$signer" "${code_signing[@]}"
issue other-root ca2 new "$signer" "${code_signing[@]}"
issue user-root user-ca signer-key.pem "$signer" "${code_signing[@]}"
issue server-only ca signer-key.pem "$signer" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=serverAuth"
issue no-usage ca signer-key.pem "$signer" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature"

issue revoked ca signer-key.pem "$signer" "${listed_signing[@]}"

# The CA revokes that one and publishes its list.
mkdir ca-database
touch ca-database/index.txt
echo 01 > ca-database/crlnumber
printf '%s\n' "[ ca ]" "default_ca = test_ca" "[ test_ca ]" "database = ca-database/index.txt" \
  "crlnumber = ca-database/crlnumber" "certificate = ca.pem" "private_key = ca-key.pem" "default_md = sha256" \
  "default_crl_days = 30" > ca-database/ca.cnf
openssl ca -config ca-database/ca.cnf -revoke revoked.pem -crl_reason keyCompromise 2>/dev/null
openssl ca -config ca-database/ca.cnf -gencrl -out ca-crl.pem 2>/dev/null
openssl crl -in ca-crl.pem -outform DER -out ca.crl
rm -rf ca-database ca-crl.pem

# The pinned name, but trusted by nobody.
key rogue-key.pem
openssl req -x509 -new -key rogue-key.pem -sha256 -days 30 -subj "/CN=$signer" \
  -addext "basicConstraints=CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" -out rogue.pem
rm -f ./*.srl

# The SHA-256 of the signer's public key (its DER SubjectPublicKeyInfo), as the build pins it.
openssl x509 -in signer.pem -pubkey -noout | openssl pkey -pubin -outform DER | openssl dgst -sha256 -r \
  | cut -d' ' -f1 > signer-key.sha256
