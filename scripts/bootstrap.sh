#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (as root)
# and unpacks the sources of the libraries we build for MinGW ourselves.
# Idempotent: a second run only checks and returns.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEPS="$ROOT/.deps"
STAMP="$DEPS/bootstrap.stamp"
# Bump when the list of packages or sources below changes.
BOOTSTRAP_VERSION=8

ZLIB_SOURCE_VERSION=1:1.2.13.dfsg-1

PACKAGES=(
  ca-certificates dpkg-dev locales
  cmake ninja-build make python3
  # The benchmarks' references: curl for downloads (zcat and md5sum come with the base system),
  # wrk for the load on the configuration servers.
  curl wrk
  # The signing tests' independent party: keys and signatures made and checked by openssl.
  openssl
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-i686-dev libz-mingw-w64-dev libstb-dev googletest
  wine wine32:i386 xvfb xauth x11-utils
  # A CJK font: Wine draws the splash bar's Chinese status text (DEFAULT_GUI_FONT) with it.
  fonts-wqy-microhei
)
# Emulates 32-bit x86 where the machine cannot run it natively (scripts/ensure-i386.sh). The
# backported qemu is required: 7.2 tracks guest pages one by one, and Wine's large address
# reservations then cost about 50 s of CPU per process start; 10.x takes about 0.5 s.
BACKPORTED_PACKAGES=(qemu-user-static)
# Servers the tests start on loopback themselves; their packages must not start system services.
SERVER_PACKAGES=(nginx)

log() { printf '[bootstrap] %s\n' "$*"; }

if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$BOOTSTRAP_VERSION" ] \
   && command -v i686-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null && command -v nginx >/dev/null \
   && command -v wrk >/dev/null && command -v openssl >/dev/null \
   && [ -d "$DEPS/src/zlib" ] && [ -d "$DEPS/src/jsoncpp" ]; then
  exec bash "$ROOT/scripts/ensure-i386.sh"
fi

if [ "$(id -u)" != 0 ]; then
  echo "bootstrap: run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture"
  dpkg --add-architecture i386
fi

SRC_LIST=/etc/apt/sources.list.d/velmor-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  log "adding Debian source entries"
  cat > "$SRC_LIST" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

BACKPORTS_LIST=/etc/apt/sources.list.d/velmor-backports.sources
if [ ! -f "$BACKPORTS_LIST" ]; then
  log "adding bookworm-backports"
  cat > "$BACKPORTS_LIST" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

log "installing packages"
apt-get update -q
# 32-bit programs must run before the i386 packages' own install scripts do.
apt-get install -y -q --no-install-recommends -t bookworm-backports "${BACKPORTED_PACKAGES[@]}"
apt-get install -y -q --no-install-recommends libc6:i386
bash "$ROOT/scripts/ensure-i386.sh"
apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
install_without_services() {
  local policy=/usr/sbin/policy-rc.d created=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod +x "$policy" && created=1
  fi
  apt-get install -y -q --no-install-recommends "$@" || { [ -n "$created" ] && rm -f "$policy"; return 1; }
  [ -n "$created" ] && rm -f "$policy"
  return 0
}
install_without_services "${SERVER_PACKAGES[@]}"

# Wine needs the Chinese locale to create files with Chinese names.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  log "generating zh_CN.UTF-8"
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

mkdir -p "$DEPS/src"
fetch_source() { # name, package[=version], target folder
  local name=$1 request=$2 target=$3
  [ -d "$target" ] && return 0
  log "unpacking the source of $name"
  local tmp
  tmp=$(mktemp -d "$DEPS/src/tmp.XXXXXX")
  (cd "$tmp" && apt-get source -q --download-only "$request" && dpkg-source -x ./*.dsc unpacked >/dev/null)
  mv "$tmp/unpacked" "$target"
  rm -rf "$tmp"
}
fetch_source zlib "zlib=$ZLIB_SOURCE_VERSION" "$DEPS/src/zlib"
fetch_source jsoncpp "libjsoncpp-dev" "$DEPS/src/jsoncpp"

echo "$BOOTSTRAP_VERSION" > "$STAMP"
log "done"
