#!/usr/bin/env bash
# The installers that the update tests serve, each a way an update can come.
# The tests announce version 1.2.2.5:
#   make-update-fixtures.sh <output folder> <unsigned installer of 1.2.2.5>
#                           <unsigned installer of 1.2.2.3> <test PKI folder>
set -euo pipefail
out=$1 newer=$2 older=$3 pki=$4
mkdir -p "$out"
sign() {  # sign <certificate name> <unsigned installer> <output>
  rm -f "$3"
  osslsigncode sign -certs "$pki/$1.pem" -key "$pki/$1-key.pem" -h sha256 -n "Tarnwick Setup" \
    -in "$2" -out "$3" >/dev/null
}
sign signer "$newer" "$out/signed.exe"
cp "$newer" "$out/unsigned.exe"
for signer in other same-name other-root user-root server-only revoked; do
  sign "$signer" "$newer" "$out/$signer.exe"
done
sign rogue "$newer" "$out/self-signed.exe"
# A genuine installer of an older release.
sign signer "$older" "$out/older.exe"
# One byte of the signed program's code changed after signing.
cp "$out/signed.exe" "$out/tampered.exe"
byte=$(od -An -tu1 -j 1100 -N 1 "$out/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$out/tampered.exe" bs=1 seek=1100 conv=notrunc status=none
# Exactly the largest size that is still refused.
head -c 16384 "$out/signed.exe" > "$out/small.exe"
