#!/bin/bash
# Usage: make_material.sh <folder> [test...]: fresh material, then the test. A DSA key with a
# 160-bit q (as CNG takes it), a certificate to pin, and lists signed with the key.
set -euo pipefail
# One run at a time: this shell holds the lock through the test, so no other run rewrites the
# material while a test reads it. The test does not inherit it: Wine's server and services, which
# a test may start and which outlive it, would hold it for good.
mkdir -p "$1" && exec 9>"$1.lock" && flock 9 && pushd "$1" >/dev/null
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 \
  -pkeyopt dsa_paramgen_q_bits:160 -out params.pem 2>/dev/null
openssl genpkey -paramfile params.pem -out key.pem
openssl pkey -in key.pem -pubout -outform DER -out key.der
base64 -w0 key.der >key.b64
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout cert.key \
  -subj /CN=pinned -days 1 -outform DER -out cert.der 2>/dev/null
cert=$(base64 -w0 cert.der)
# list <name> <expiry> [<expiry written instead>]; the last certificate line is not Base64.
list() {
  printf '%s\r\n%s\r\n!' "$2" "$cert" | openssl dgst -sha1 -sign key.pem -out "$1.sig"
  printf '%s\r\n%s\r\n!\r\n%s' "${3:-$2}" "$cert" "$(base64 -w0 "$1.sig")" >"$1.txt"
}
list signed 4102444800000 && list expired 1000 && list tampered 4102444800000 4102444800001
cp signed.txt crlf.txt && printf '\r\n' >>crlf.txt
printf '1\r\n%s' "$(base64 -w0 signed.sig)" >short.txt
# Inside tests/download/servers.py: lists pinning its TLS server, as it is and one byte off.
if [[ -n ${VMDL_SERVER_CERT:-} ]]; then
  server=${VMDL_SERVER_CERT#Z:} && server=${server//\\//}
  python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[len(d) // 2] ^= 1
open(sys.argv[2], "wb").write(d)' "$server" server-changed.der
  cert=$(base64 -w0 "$server") && list server 4102444800000
  cert=$(base64 -w0 server-changed.der) && list server-changed 4102444800000
fi
popd >/dev/null && shift && "$@" 9>&-
