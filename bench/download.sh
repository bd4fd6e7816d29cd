#!/usr/bin/env bash
# The download engine (test build, under Wine) against curl: both fetch the same 256 MiB file
# from the same nginx on 127.0.0.1, alternating, several rounds. Prints MB/s of both, the ratio
# engine/curl and the engine's peak memory for a small and the large file. A bare synchronous
# WinHTTP loop runs in the same rounds: under Wine it, not the engine, sets the ceiling (Wine's
# WinHTTP receives 8 KiB per socket read, each a round trip to the wineserver).
# Environment: VM_BENCH_BUILD (default: build), VM_BENCH_ROUNDS (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VM_BENCH_BUILD:-$here/build}
win64=$build/win64
work=$build/bench/download
for needed in "$win64/tools/OrlDownloadTool.exe" "$win64/tools/WinHttpFetch.exe" "$win64/tools/TrustTestRoot.exe"; do
  [ -f "$needed" ] || { echo "bench/download.sh: $needed missing; build the win64 preset first" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "bench/download.sh: curl missing" >&2; exit 1; }

mkdir -p "$work/docroot"
# The files stay between runs (outside git, under the build folder).
make_file() { # name MiB
  local file=$work/docroot/$1
  if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != $(($2 * 1048576)) ]; then
    head -c $(($2 * 1048576)) /dev/urandom > "$file.tmp" && mv "$file.tmp" "$file"
  fi
}
make_file large.bin 256
make_file small.bin 16

trap 'bash "$here/scripts/wine-run.sh" "$win64/wineprefix" --stop' EXIT
python3 "$here/tests/download/servers.py" --work "$work/servers" --docroot "$work/docroot" \
  --prefix "$win64/wineprefix" --wine-run "$here/scripts/wine-run.sh" \
  --trust-tool "$win64/tools/TrustTestRoot.exe" -- \
  python3 "$here/bench/download_rounds.py" --rounds "${VM_BENCH_ROUNDS:-3}" \
    --tool "$win64/tools/OrlDownloadTool.exe" --winhttp-fetch "$win64/tools/WinHttpFetch.exe" \
    --prefix "$win64/wineprefix" \
    --wine-run "$here/scripts/wine-run.sh" --out "$work/out"
