#!/usr/bin/env bash
# Runs the installer (test build) under Wine in the demo's own prefix and shows what it does:
# its embedded settings, then a silent run as a standard user, with the exit code and its log.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$here/build/demo/wineprefix"
run() { "$here/scripts/wine-run.sh" "$prefix" "$@"; }

exe="$here/build/win64/VmNetworkInstaller.exe"
winexe="Z:${exe//\//\\}"

run --start || exit 1
echo "== The demo operator's embedded settings (--show-settings)"
# A pseudo-terminal: the program writes to the console it was started from.
script -qec "stty cols 4000 2>/dev/null; $here/scripts/wine-run.sh $prefix $exe --show-settings --silent" /dev/null |
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | tr -d '\r'

echo
echo "== Running $exe --silent under Wine as a standard user would start it"
# Wine gives every process an administrator token; a user starts the installer without one.
run "$here/build/win64/tools/RunAsStandardUser.exe" "$winexe" --silent
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
