#!/bin/bash
# Usage: make_signed.sh <folder> <program> <wine-run.sh> <prefix> [test...]: copies of <program>
# signed by osslsigncode under fresh openssl certificates, then the test, with "root" trusted in
# the prefix for its duration (Wine reads the Root store once per process, so before the test).
set -euo pipefail
# One run at a time: the lock is held through the test.
mkdir -p "$1" && exec 9>"$1.lock" && flock 9 && cd "$1"
program=$2 && shift 2
for ca in root stranger; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -subj "/CN=Velmora Test $ca" -days 2 \
    -addext basicConstraints=critical,CA:true -out $ca.pem 2>/dev/null
done
# sign <name> <common name> [<root>]
sign() {
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$2" 2>/dev/null |
    openssl x509 -req -CA "${3:-root}.pem" -CAkey "${3:-root}.key" -CAcreateserial -days 1 -out "$1.pem" \
      -extfile <(printf 'keyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n') 2>/dev/null
  cat "${3:-root}.pem" >>"$1.pem" && rm -f "$1.exe"
  osslsigncode sign -certs "$1.pem" -key "$1.key" -h sha256 -in "$program" -out "$1.exe" >/dev/null
}
sign maker "Velmora Corporation" && sign other "Other Corporation" && sign case "Velmora corporation"
sign blank "Velmora Corporation " && sign untrusted "Velmora Corporation" stranger
cp maker.exe tampered.exe && python3 -c 'f = open("tampered.exe", "r+b"); f.seek(4096); b = f.read(1)[0]
f.seek(4096); f.write(bytes([b ^ 1]))'
cp "$program" unsigned.exe
# The Root store's registry form: the certificate as property 32 (encoding 1, length, bytes).
der=$(openssl x509 -in root.pem -outform DER | xxd -p | tr -d '\n')
key='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\'$(openssl x509 -in root.pem \
  -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
length=$(printf '%08x' $((${#der} / 2)) | sed -E 's/(..)(..)(..)(..)/\4\3\2\1/')
"$1" "$2" reg add "$key" /v Blob /t REG_BINARY /d "2000000001000000$length$der" /f >/dev/null
rc=0 && "$@" || rc=$?
"$1" "$2" reg delete "$key" /f >/dev/null 2>&1 || true
exit $rc
