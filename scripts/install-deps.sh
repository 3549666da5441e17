#!/usr/bin/env bash
# Installs on Debian 12, as root, what building and running natively needs
# (`make run`); with --test also what `make test` adds. Without root it prints
# the commands to run and fails.
#   scripts/install-deps.sh [--test]
# ORVANE_APT_DIR (default /etc/apt) names the apt configuration whose source
# entries get deb-src; only tests of this script point it at a copy.
#
# A mirror in the middle of a sync must not stop a user who did nothing wrong:
# `apt-get update` is tried again, and when the 32-bit packages (only the
# win32 suites need them) still cannot be installed consistently, everything
# else is installed, the reason is printed and the script succeeds; the test
# run then reports the win32 suites as skipped. Any other package that cannot
# be installed stops it with the package's name and apt's own message. Nothing
# is installed before apt has agreed to install it all, and apt's preferences
# and pins are left as they are.
set -euo pipefail

# Building and running natively: the launcher, the updater, the add-on and
# the stand-in client, and the stand-in services of `make run`.
run_packages=(
  cmake
  make
  g++
  pkg-config
  python3
  libcurl4-openssl-dev
  libcjson-dev
  libcups2-dev
  # The native updater checks installer signatures with libcrypto.
  libssl-dev
  # The receipt view, which make run draws the sample receipt with: FreeType,
  # libpng and the font it draws with.
  libfreetype-dev
  libpng-dev
  fonts-wqy-zenhei
  # The receipt designer's loopback server (orvane_receipt_view --serve).
  libcpp-httplib-dev
)

# What `make test` adds. One concern a line, so parallel additions merge.
test_packages=(
  git
  file
  libgtest-dev
  libbenchmark-dev
  # The 32-bit Windows build and Wine to run it.
  g++-mingw-w64-i686-posix
  mingw-w64-i686-dev
  wine
  wine32:i386
  # 32-bit libcups: Wine's spooler hands documents to CUPS through it.
  libcups2:i386
  # The 64-bit build of the same sources, for hosts whose kernel runs no
  # 32-bit code: its tests run under Wine's 64-bit loader.
  g++-mingw-w64-x86-64-posix
  mingw-w64-x86-64-dev
  wine64
  # The download benchmark compares against the command-line client.
  curl
  # A private print scheduler for the printer suites.
  cups-daemon
  cups-client
  cups-bsd
  # A private display for the prompt cases.
  xvfb
  xdotool
  openbox
  x11-utils
  zenity
  # The receipt fuzzer.
  clang
  libclang-rt-14-dev
  # `apt-get source` of curl and cJSON for the Windows builds.
  dpkg-dev
  locales
  # The signed-installer tests make keys and certificates and sign installers.
  openssl
  osslsigncode
  # zbar reads the drawn receipts' barcodes back.
  libzbar-dev
  zbar-tools
  # The receipt designer's page is tested in a real browser.
  chromium
)

apt_dir=${ORVANE_APT_DIR:-/etc/apt}

# Adds deb-src to the machine's own Debian entries, whatever their mirror: the
# Types of each deb822 stanza of this release, and a deb-src copy of each
# one-line `deb` entry of it. Other entries (other vendors) stay as they are.
enable_deb_src() {
  local dir=$1 codename=$2 file
  for file in "$dir"/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v release="$codename" '
      function flush(   i, ours, src) {
        ours = 0; src = 0
        for (i = 1; i <= n; i++) {
          if (tolower(lines[i]) ~ /^suites:/ && (" " lines[i] " ") ~ (" " release "([- ][^ ]*)? ")) ours = 1
          if (tolower(lines[i]) ~ /^types:/ && lines[i] ~ /[ \t]deb-src([ \t]|$)/) src = 1
          if (tolower(lines[i]) ~ /^enabled:[ \t]*no/) ours = 0
        }
        for (i = 1; i <= n; i++) {
          if (ours && !src && tolower(lines[i]) ~ /^types:/) lines[i] = lines[i] " deb-src"
          print lines[i]
        }
        n = 0
      }
      /^[ \t]*$/ { flush(); print; next }
      { lines[++n] = $0 }
      END { flush() }
    ' "$file" >"$file.new"
    if cmp -s "$file" "$file.new"; then rm -f "$file.new"; else cat "$file.new" >"$file" && rm -f "$file.new"; fi
  done
  file="$dir/sources.list"
  if [ -f "$file" ]; then
    awk -v release="$codename" '
      { print }
      $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
        suite = $(i + 1)
        if (suite == release || index(suite, release "-") == 1) { line = $0; sub(/^deb/, "deb-src", line); want[line] = 1 }
      }
      $1 == "deb-src" { have[$0] = 1 }
      END { for (line in want) if (!(line in have)) print line }
    ' "$file" >"$file.new"
    if cmp -s "$file" "$file.new"; then rm -f "$file.new"; else cat "$file.new" >"$file" && rm -f "$file.new"; fi
  fi
}

has_deb_src() {
  local dir=$1
  grep -Eqs '^[Tt]ypes:.*[[:space:]]deb-src([[:space:]]|$)' "$dir"/sources.list.d/*.sources ||
    grep -qs '^deb-src[[:space:]]' "$dir/sources.list" "$dir"/sources.list.d/*.list
}

# Only this script's tests call it with --enable-deb-src DIR CODENAME.
if [ "${1:-}" = "--enable-deb-src" ]; then
  enable_deb_src "$2" "$3"
  exit 0
fi

packages=("${run_packages[@]}")
want_test=0
if [ "${1:-}" = "--test" ]; then
  want_test=1
  packages+=("${test_packages[@]}")
fi
# A machine without Node.js gets Debian's, with its add-on headers.
if ! command -v node >/dev/null || [ ! -f /usr/include/node/node.h ]; then
  packages+=(nodejs npm libnode-dev)
fi

need_i386=0
need_src=0
if [ $want_test -eq 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
  has_deb_src "$apt_dir" || need_src=1
fi

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
  [ $need_src -eq 1 ] && echo "  (and add deb-src to the Types of the Debian entries in $apt_dir/sources.list.d/)" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

[ $need_i386 -eq 1 ] && dpkg --add-architecture i386
if [ $need_src -eq 1 ]; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  enable_deb_src "$apt_dir" "$codename"
  has_deb_src "$apt_dir" || { echo "No Debian source entry of $codename in $apt_dir to add deb-src to." >&2; exit 1; }
fi

# Tries `apt-get update` again after a growing pause; after the last try apt
# goes on with the lists it has (those that did download are current).
apt_update() {
  local try pause=5 tries=4
  for ((try = 1; try <= tries; try++)); do
    apt-get update -q && return 0
    [ $try -eq $tries ] && break
    echo "install-deps: apt-get update failed (try $try of $tries); trying again in $pause s" >&2
    sleep "$pause"
    pause=$((pause * 2))
  done
  echo "install-deps: apt-get update failed $tries times; going on with the package lists apt has" >&2
}

# True when apt would install the packages without removing any; apt's
# answer is left in $apt_says.
apt_agrees() {
  local status=0
  apt_says=$(apt-get install -s -q --no-install-recommends "$@" 2>&1) || status=$?
  [ $status -eq 0 ] && ! grep -q '^Remv ' <<<"$apt_says"
}

# Installs what apt agreed to. Should dpkg fail part-way, what it unpacked is
# configured before the script stops, so apt is never left half-done.
apt_install() {
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"; then
    echo "install-deps: apt-get install failed (its message is above); configuring what it unpacked" >&2
    DEBIAN_FRONTEND=noninteractive dpkg --configure -a || true
    return 1
  fi
}

# Every package but the 32-bit ones must install; otherwise the script stops
# and names the ones apt refuses, with apt's message.
install_or_stop() {
  [ $# -eq 0 ] && return 0
  if ! apt_agrees "$@"; then
    local p named=0 together=$apt_says
    for p in "$@"; do
      apt_agrees "$p" && continue
      named=1
      echo "install-deps: cannot install $p; apt says:" >&2
      sed 's/^/  /' <<<"$apt_says" >&2
    done
    if [ $named -eq 0 ]; then
      echo "install-deps: cannot install these packages together: $*; apt says:" >&2
      sed 's/^/  /' <<<"$together" >&2
    fi
    exit 1
  fi
  apt_install "$@" || exit 1
}

wanted_i386=()
others=()
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]]; then wanted_i386+=("$p"); else others+=("$p"); fi
done

apt_update
install_or_stop "${others[@]}"
# The 32-bit packages serve the win32 suites only: when apt cannot install
# them consistently (for example while the i386 lists lag behind the amd64
# ones), the rest of the machine is ready and the test run skips those suites.
if [ ${#wanted_i386[@]} -gt 0 ]; then
  if apt_agrees "${wanted_i386[@]}"; then
    apt_install "${wanted_i386[@]}" && exit 0
    apt_says="apt-get install failed; its message is above"
  fi
  echo "install-deps: 32-bit packages not installed: ${wanted_i386[*]}; apt says:" >&2
  sed 's/^/  /' <<<"$apt_says" | tail -n 30 >&2
  echo "install-deps: everything else is installed; the win32 suites will be reported as skipped" >&2
fi
