#!/usr/bin/env bash
# Copies of a small program signed with the pinned key under a certificate
# that has since expired, for the signature check's time-stamp cases:
#   unstamped.exe       no time stamp
#   stamped-inside.exe  time-stamped while the certificate was valid
#   stamped-after.exe   time-stamped now, after it expired
# A local time-stamp authority (timestamp_server.py: openssl ts on loopback)
# answers osslsigncode's RFC 3161 requests. Each stamped copy has beside it a
# ".time" file with the moment its time stamp names (seconds since 1970).
# Its own long-lived root (ts-root.der) certifies the expired signer and the
# authority, so that the chain is valid at both moments.
#   make-timestamped-samples.sh <test PKI folder> <program> <output folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$3"
pki=$(cd "$1" && pwd) program=$(realpath "$2") out=$(cd "$3" && pwd)
cd "$out"
rm -f ./*.pem ./*.der ./*.exe ./*.time ./*.srl

now=$(date -u +%s)
day=86400
at() { faketime -f "@$(date -u -d "@$1" '+%Y-%m-%d %H:%M:%S')" "${@:2}"; }
ext_file=$(mktemp "$out/ext.XXXXXX")
trap 'rm -f "$ext_file"; [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null; true' EXIT

# A root valid from 400 days ago for ten years.
openssl genrsa -out ts-root-key.pem 2048 2>/dev/null
at $((now - 400 * day)) openssl req -x509 -new -key ts-root-key.pem -sha256 -days 3650 \
  -subj "/CN=Tarnwick Test Time-Stamp Root CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" -out ts-root.pem
openssl x509 -in ts-root.pem -outform DER -out ts-root.der

# issue <name> <key file> <subject> <seconds since 1970 of the start> <days> <extensions...>
issue() {
  local name=$1 key_file=$2 subject=$3 start=$4 days=$5
  shift 5
  openssl req -new -key "$key_file" -subj "$subject" -out "$name.csr" 2>/dev/null
  printf '%s\n' "$@" > "$ext_file"
  at "$start" openssl x509 -req -in "$name.csr" -CA ts-root.pem -CAkey ts-root-key.pem -CAcreateserial \
    -sha256 -days "$days" -extfile "$ext_file" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr"
}
# The pinned key and name, valid from 200 to 170 days ago.
subject=$(openssl x509 -in "$pki/signer.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
issue expired "$pki/signer-key.pem" "$subject" $((now - 200 * day)) 30 \
  "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
openssl genrsa -out tsa-key.pem 2048 2>/dev/null
issue tsa tsa-key.pem "/CN=Tarnwick Test Time-Stamp Authority" $((now - 400 * day)) 3650 \
  "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=critical,timeStamping"
rm -f ./*.srl

coproc TSA { python3 "$here/timestamp_server.py" tsa.pem tsa-key.pem ts-root.pem; }
server_pid=$TSA_PID
read -r port <&"${TSA[0]}"

sign() {  # sign <output> [time-stamp URL path]
  local stamp=()
  [ $# -gt 1 ] && stamp=(-ts "http://127.0.0.1:$port$2")
  osslsigncode sign -certs expired.pem -key "$pki/signer-key.pem" -h sha256 -n "Tarnwick Setup" \
    "${stamp[@]}" -in "$program" -out "$1" >/dev/null
}
sign unstamped.exe
inside=$((now - 185 * day))
sign stamped-inside.exe "/at/$inside"
echo "$inside" > stamped-inside.time
sign stamped-after.exe /now
echo "$now" > stamped-after.time

# Each copy is what it says, as osslsigncode sees it: the early stamp makes
# the expired certificate valid; the late one is a good stamp that does not.
verify() { osslsigncode verify -CAfile ts-root.pem -TSA-CAfile ts-root.pem -in "$1" 2>&1 || true; }
check() {  # check <sample> <text its verification shows>
  verify "$1" | grep -q "$2" || { echo "make-timestamped-samples.sh: $1 does not show '$2'" >&2; exit 1; }
}
check stamped-inside.exe "Timestamp Server Signature verification: ok"
check stamped-inside.exe "Signature verification: ok"
check stamped-after.exe "Timestamp Server Signature verification: ok"
check stamped-after.exe "Signature verification: failed"
check unstamped.exe "Timestamp is not available"
exec {TSA[1]}>&-
wait "$server_pid" 2>/dev/null || true
server_pid=
