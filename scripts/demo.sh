#!/usr/bin/env bash
# Runs the installer (test build) under Wine in the demo's own prefix and shows what it did.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$here/build/demo/wineprefix"
run() { "$here/scripts/wine-run.sh" "$prefix" "$@"; }

exe="$here/build/win64/VmNetworkInstaller.exe"
winexe="Z:${exe//\//\\}"
echo "== Running $exe under Wine (prefix $prefix) as a standard user would start it"
# Wine gives every process an administrator token; a user starts the installer without one.
run "$here/build/win64/tools/RunAsStandardUser.exe" "$winexe"
code=$?
run --stop
log=$(find "$prefix/drive_c/users" -path '*Velmora/Log/Tolvi/stub.log' 2>/dev/null | head -n 1)
echo "== Exit code: $code"
if [ -n "$log" ]; then
  echo "== Log file: $log"
  echo "== Its last run:"
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | awk '/LOGGING STARTED/{buf=""} {buf=buf $0 "\n"} END{printf "%s", buf}'
else
  echo "== No log file was written"
fi
