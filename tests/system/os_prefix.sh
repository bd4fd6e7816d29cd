#!/usr/bin/env bash
# os_prefix.sh PREFIX EDITION [WSCAPI|-] [MSI]: a Wine prefix reporting one edition (win7 without
# service pack, win10, server: Server 2019), made once and reused, WSCAPI its Security Center, MSI
# installed. os_prefix.sh PREFIX --stop [MSI]: removes the package again and stops the prefix.
# Windows 10 is winecfg's version setting. The others are the version values Windows keeps in the
# registry, which Wine reads when the setting is absent: winecfg has no Windows 7 without service
# pack, and Wine 8.0's table swaps "win7" and "win2008r2" (win7 reports a server).
set -euo pipefail
prefix=$1 edition=$2 wscapi=${3:--} msi=${4:--}
run() { "$(dirname "$0")/../../scripts/wine-run.sh" "$prefix" "$@"; }
if [ "$edition" = --stop ]; then
  [ "${3:--}" = - ] || run msiexec /x "$3" /qn </dev/null >/dev/null 2>&1 || true
  run --stop
  exit
fi
run --start
reg() { run reg "$@" /f >/dev/null; }
registry_version() { # major minor build service-pack product-type
  run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1 || true
  local nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  reg add "$nt" /v CurrentVersion /d "$1.$2"
  reg add "$nt" /v CurrentMajorVersionNumber /t REG_DWORD /d "$1"
  reg add "$nt" /v CurrentMinorVersionNumber /t REG_DWORD /d "$2"
  reg add "$nt" /v CurrentBuildNumber /d "$3"
  reg add "$nt" /v CSDVersion /d "$([ "$4" = 0 ] || echo "Service Pack $4")"
  reg add 'HKLM\System\CurrentControlSet\Control\Windows' /v CSDVersion /t REG_DWORD /d $(($4 * 256))
  reg add 'HKLM\System\CurrentControlSet\Control\ProductOptions' /v ProductType /d "$5"
}
case $edition in
  win7) registry_version 6 1 7600 0 WinNT ;;
  win10) reg add 'HKCU\Software\Wine' /v Version /d win10 ;;
  server) registry_version 10 0 17763 0 ServerNT ;;
esac
[ "$wscapi" = - ] || cp "$wscapi" "$prefix/drive_c/windows/system32/wscapi.dll"
# The agent the package starts must not hold the test runner's output open.
[ "$msi" = - ] || run msiexec /i "$msi" /qn </dev/null >/dev/null 2>&1
