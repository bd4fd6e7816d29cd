#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARGS...]   run a Windows program in the build tree's Wine prefix
# wine-run.sh PREFIX --start             bring the prefix up (created on first use)
# wine-run.sh PREFIX --stop              stop that prefix's wineserver
# The prefix is created on first use (once, under a lock) and reused; the user's own prefix is
# never touched. The wineserver is kept alive between programs, which makes a start take tens of
# milliseconds instead of a second.
set -euo pipefail
prefix=$1; shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

if [ "${1:-}" = "--start" ]; then
  # Brings a (new) prefix up before a test run: the first start of a prefix can fail while Wine
  # finishes setting it up, so it is tried a few times.
  for attempt in 1 2 3; do
    "$0" "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1 && exit 0
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    sleep 2
  done
  echo "wine-run.sh: cannot start programs in $prefix" >&2
  exit 1
fi

if [ "${1:-}" = "--stop" ]; then
  [ -d "$prefix" ] && wineserver -k >/dev/null 2>&1 || true
  exit 0
fi

if [ ! -f "$prefix/.vm-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.vm-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.vm-ready"
  fi
  exec 9>&-
fi

# Wine's background processes (services, explorer) inherit the output of the program that starts
# them; started from a test, they would hold the test runner's pipe open until they exit. So the
# prefix's server and services are started detached from our output first, when not running.
services_running() {
  local pid
  for pid in $(pgrep -f 'services\.exe' 2>/dev/null); do
    { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && return 0
  done
  return 1
}
if ! services_running; then
  wineserver -p 60 </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
