#!/usr/bin/env bash
# Size of the shipping program and where its bytes go: relinks build/win32's program with a link
# map into build/bench/size/ (the build itself is left as it is) and prints its sections, its
# resources by type, bytes per library (our code, libstdc++, winpthreads, libgcc, mingw's CRT) and
# the largest object files. With an embedded administrative installer (RCDATA 103) the size is
# printed with and without it.
# Environment: VM_BENCH_BUILD (default: build), VM_BENCH_TOP (object files listed, default 25).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VM_BENCH_BUILD:-$here/build}
win32=$build/win32
work=$build/bench/size
[ -f "$win32/VmNetworkInstaller.exe" ] ||
  { echo "bench/size.sh: $win32/VmNetworkInstaller.exe missing; build the win32 preset first" >&2; exit 1; }
mkdir -p "$work"

# The program's own link line, with a map, its output elsewhere and no import library.
link=$(ninja -C "$win32" -t commands VmNetworkInstaller.exe | tail -n 1)
link=${link#: && }
link=${link% && :}
link=$(sed -E "s# -o VmNetworkInstaller\.exe # -o $work/VmNetworkInstaller.exe -Wl,-Map=$work/VmNetworkInstaller.map #;
               s# -Wl,--out-implib,[^ ]+##" <<<"$link")
(cd "$win32" && eval "$link")
if [ "$(stat -c %s "$work/VmNetworkInstaller.exe")" != "$(stat -c %s "$win32/VmNetworkInstaller.exe")" ]; then
  echo "bench/size.sh: the relinked program differs from $win32/VmNetworkInstaller.exe; rebuild win32" >&2
fi
echo "== shipping program size"
python3 "$here/bench/size_map.py" "$win32/VmNetworkInstaller.exe" "$work/VmNetworkInstaller.map" \
  "${VM_BENCH_TOP:-25}"
