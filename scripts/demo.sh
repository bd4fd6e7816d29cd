#!/usr/bin/env bash
# Runs the installer (test build) under Wine in the demo's own prefix and shows what it did.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$here/build/demo/wineprefix"
run() { "$here/scripts/wine-run.sh" "$prefix" "$@"; }

exe="$here/build/win64/VmNetworkInstaller.exe"
echo "== Running $exe under Wine (prefix $prefix)"
run "$exe"
code=$?
run --stop
log=$(find "$prefix/drive_c" -path '*Velmora/Log/Tolvi/stub.log' 2>/dev/null | head -n 1)
echo "== Exit code: $code"
if [ -n "$log" ]; then
  echo "== Log file: $log"
  echo "== Its last run:"
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | awk '/LOGGING STARTED/{buf=""} {buf=buf $0 "\n"} END{printf "%s", buf}'
else
  echo "== No log file was written"
fi
