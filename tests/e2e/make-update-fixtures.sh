#!/usr/bin/env bash
# The installers that the update tests serve, each a way an update can come:
#   make-update-fixtures.sh <output folder> <unsigned installer> <signed installer> <test PKI folder>
set -euo pipefail
out=$1 unsigned=$2 signed=$3 pki=$4
mkdir -p "$out"
sign() {  # sign <certificate name> <output>
  rm -f "$2"
  osslsigncode sign -certs "$pki/$1.pem" -key "$pki/$1-key.pem" -h sha256 -n "Tarnwick Setup" \
    -in "$unsigned" -out "$2" >/dev/null
}
cp "$signed" "$out/signed.exe"
cp "$unsigned" "$out/unsigned.exe"
sign other "$out/other-publisher.exe"
sign rogue "$out/self-signed.exe"
# One byte of the signed program's code changed after signing.
cp "$signed" "$out/tampered.exe"
byte=$(od -An -tu1 -j 1100 -N 1 "$out/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$out/tampered.exe" bs=1 seek=1100 conv=notrunc status=none
# Exactly the largest size that is still refused.
head -c 16384 "$signed" > "$out/small.exe"
