#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root; without root
# it prints the apt line to run and fails.
set -euo pipefail

packages=(
  cmake make g++ pkg-config python3 git file
  libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  # 32-bit libcups: Wine's spooler hands documents to CUPS through it.
  wine wine32:i386 libcups2:i386
  # The 64-bit build of the same sources, for hosts whose kernel runs no
  # 32-bit code: its tests run under Wine's 64-bit loader.
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
  libcurl4-openssl-dev libcjson-dev curl
  libcups2-dev cups-daemon cups-client cups-bsd
  xvfb xdotool openbox x11-utils zenity
  clang libclang-rt-14-dev
  dpkg-dev
  locales
  # Run set: the native updater checks installer signatures with libcrypto.
  libssl-dev
  # Test set: the signed-installer tests make keys and certificates and sign installers.
  openssl osslsigncode
  # Receipt view (receipt_view/), also for make run, which draws the sample receipt:
  # FreeType, libpng and the font it draws with.
  libfreetype-dev libpng-dev fonts-wqy-zenhei
  # Receipt view tests only: zbar reads the drawn barcodes back.
  libzbar-dev zbar-tools
)
# A machine without Node.js gets Debian's, with its add-on headers.
if ! command -v node >/dev/null || [ ! -f /usr/include/node/node.h ]; then
  packages+=(nodejs npm libnode-dev)
fi

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
need_src=0
grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ || grep -qs '^deb-src' /etc/apt/sources.list || need_src=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ] && [ $need_src -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  [ $need_i386 -eq 1 ] && echo "  dpkg --add-architecture i386" >&2
  [ $need_src -eq 1 ] && echo "  (and enable a deb-src line for bookworm in /etc/apt/sources.list.d/)" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

[ $need_i386 -eq 1 ] && dpkg --add-architecture i386
if [ $need_src -eq 1 ]; then
  cat > /etc/apt/sources.list.d/debian-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
