#!/usr/bin/env bash
# Installs every tool and library the build and the tests need, from Debian only.
# Quick when everything is already there; safe to run again.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/.cache"

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine wine64 xvfb xdotool x11-utils imagemagick
  nginx openssl osslsigncode wixl
  curl
  googletest libgtest-dev libgmock-dev libtinyxml2-dev
  dpkg-dev python3 bsdextrautils util-linux
  fonts-dejavu-core fonts-noto-cjk
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_source=0
ls "$cache"/tinyxml2-*/tinyxml2.cpp >/dev/null 2>&1 || need_source=1

if [ ${#missing[@]} -eq 0 ] && [ $need_source -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]:-none}) and not root; run: sudo $0" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
have_src=0
grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ && have_src=1
if [ $have_src -eq 0 ]; then
  # The tinyxml2 source package comes from Debian's own source index.
  cat > /etc/apt/sources.list.d/vm-installer-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ $need_source -eq 1 ]; then
  mkdir -p "$cache"
  # Fetched as root into our own folder; apt's sandbox user could not write there.
  (cd "$cache" && apt-get source -qq -o APT::Sandbox::User=root tinyxml2 >/dev/null)
  ls "$cache"/tinyxml2-*/tinyxml2.cpp >/dev/null
fi
echo "setup: done"
