#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine and unpacks the sources
# of the libraries we build for MinGW ourselves.
# Idempotent: on a machine that has everything it only checks, as any user and with no network;
# root is needed only when something must be installed (through sudo where there is one).
#   bootstrap.sh           checks, installs what is missing, unpacks the sources into .deps/
#   bootstrap.sh --system  the root part alone: packages, locale, source packages into the cache
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEPS_SRC="$ROOT/.deps/src"
# Downloaded source packages are kept for the whole machine, so that a fresh clone unpacks them
# without the mirror.
SOURCE_CACHE=${VELMOR_SOURCE_CACHE:-/var/cache/velmor/sources}

# Unpacked into .deps/src/NAME from Debian's source package REQUEST (package[=version]).
SOURCE_NAMES=(zlib jsoncpp)
SOURCE_REQUESTS=(zlib=1:1.2.13.dfsg-1 libjsoncpp-dev)

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
  # Wine's SChannel is built on GnuTLS, which is only a Recommends of Wine: without it there is
  # no TLS at all.
  libgnutls30:i386
  # A CJK font: Wine draws the splash bar's Chinese status text (DEFAULT_GUI_FONT) with it.
  fonts-wqy-microhei
)
# Emulates 32-bit x86 where the machine cannot run it natively (scripts/ensure-i386.sh). The
# backported qemu is required: 7.2 tracks guest pages one by one, and Wine's large address
# reservations then cost about 50 s of CPU per process start; 10.x takes about 0.5 s.
BACKPORTED_PACKAGES=(qemu-user-static)
QEMU_MIN_VERSION=1:8
# Servers the tests start on loopback themselves; their packages must not start system services.
# The deployment's nginx needs the headers-more module (see tools/config-server/nginx-site.sh);
# squid is the office proxy, and winbind brings the ntlm_auth that Wine's NTLM runs.
SERVER_PACKAGES=(nginx libnginx-mod-http-headers-more-filter squid winbind)
LOCALE=zh_CN.UTF-8

log() { printf '[bootstrap] %s\n' "$*"; }

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing_packages() {
  local package
  for package in "${PACKAGES[@]}" "${BACKPORTED_PACKAGES[@]}" "${SERVER_PACKAGES[@]}"; do
    installed "$package" || echo "$package"
  done
  local qemu
  qemu=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  if [ -n "$qemu" ] && dpkg --compare-versions "$qemu" lt "$QEMU_MIN_VERSION"; then
    echo "qemu-user-static (backported, $qemu is too old)"
  fi
}

# Wine needs the Chinese locale to create files with Chinese names.
locale_missing() {
  ! locale -a 2>/dev/null | grep -qix "${LOCALE/UTF-8/utf8}"
}

source_cache_dir() { # request
  local request=$1
  printf '%s/%s' "$SOURCE_CACHE" "${request//[=:]/_}"
}

source_available() { # index
  [ -d "$DEPS_SRC/${SOURCE_NAMES[$1]}" ] && return 0
  compgen -G "$(source_cache_dir "${SOURCE_REQUESTS[$1]}")/*.dsc" >/dev/null
}

missing_sources() {
  local i
  for i in "${!SOURCE_NAMES[@]}"; do
    source_available "$i" || echo "${SOURCE_NAMES[$i]}"
  done
}

# --- The root part ---------------------------------------------------------------------------

SERVICE_POLICY=/usr/sbin/policy-rc.d
created_service_policy=
system_cleanup() {
  apt_unpin
  if [ -n "$created_service_policy" ]; then rm -f "$SERVICE_POLICY"; fi
}

configure_apt() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "adding Debian source entries"
    cat > /etc/apt/sources.list.d/velmor-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  local backports=/etc/apt/sources.list.d/velmor-backports.sources
  if [ ! -f "$backports" ]; then
    log "adding bookworm-backports"
    cat > "$backports" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
}

install_packages() {
  # 32-bit programs must run before the i386 packages' own install scripts do.
  apt_install -t bookworm-backports "${BACKPORTED_PACKAGES[@]}"
  apt_install libc6:i386
  bash "$ROOT/scripts/ensure-i386.sh"
  apt_install "${PACKAGES[@]}"
  if [ ! -e "$SERVICE_POLICY" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$SERVICE_POLICY" && chmod +x "$SERVICE_POLICY"
    created_service_policy=1
  fi
  apt_install "${SERVER_PACKAGES[@]}"
}

generate_locale() {
  log "generating $LOCALE"
  sed -i "s/^# *\($LOCALE UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$LOCALE UTF-8" /etc/locale.gen || echo "$LOCALE UTF-8" >> /etc/locale.gen
  locale-gen
}

download_sources() {
  local i dir tmp
  for i in "${!SOURCE_NAMES[@]}"; do
    source_available "$i" && continue
    dir=$(source_cache_dir "${SOURCE_REQUESTS[$i]}")
    log "downloading the source of ${SOURCE_NAMES[$i]}"
    mkdir -p "$SOURCE_CACHE"
    tmp=$(mktemp -d "$SOURCE_CACHE/tmp.XXXXXX")
    # apt downloads as its own user where it may write.
    chown _apt "$tmp" 2>/dev/null || true
    (cd "$tmp" && apt-get source -q --download-only "${SOURCE_REQUESTS[$i]}")
    chmod -R a+rX "$tmp"
    mv "$tmp" "$dir"
  done
}

system_part() {
  if [ "$(id -u)" != 0 ]; then
    echo "bootstrap: --system installs Debian packages: run it as root" >&2
    exit 1
  fi
  source "$ROOT/scripts/apt-index.sh"
  trap system_cleanup EXIT
  trap 'exit 130' INT TERM HUP
  apt_unpin # a pin left by a run that was killed
  export DEBIAN_FRONTEND=noninteractive
  configure_apt
  log "updating the package indexes"
  apt_update_or_pin
  install_packages
  if locale_missing; then generate_locale; fi
  download_sources
}

# --- As the calling user ---------------------------------------------------------------------

unpack_sources() {
  local i target tmp
  mkdir -p "$DEPS_SRC"
  for i in "${!SOURCE_NAMES[@]}"; do
    target="$DEPS_SRC/${SOURCE_NAMES[$i]}"
    [ -d "$target" ] && continue
    log "unpacking the source of ${SOURCE_NAMES[$i]}"
    tmp=$(mktemp -d "$DEPS_SRC/tmp.XXXXXX")
    # apt checked these files against the signed index when it downloaded them into the cache;
    # dpkg-source's own signature check would only warn that it has no Debian keyring.
    dpkg-source --no-check -x "$(source_cache_dir "${SOURCE_REQUESTS[$i]}")"/*.dsc "$tmp/unpacked" >/dev/null
    mv "$tmp/unpacked" "$target"
    rm -rf "$tmp"
  done
}

run_system_part() {
  if [ "$(id -u)" = 0 ]; then
    system_part
  elif command -v sudo >/dev/null; then
    log "root is needed to install them: asking sudo"
    sudo -- bash "$ROOT/scripts/bootstrap.sh" --system
  else
    echo "bootstrap: run this as root once: it installs Debian packages" >&2
    exit 1
  fi
}

main() {
  local missing
  missing=$(missing_packages; missing_sources; if locale_missing; then echo "locale $LOCALE"; fi)
  if [ -n "$missing" ]; then
    log "missing: $(printf "%s" "$missing" | tr "\n" " ")"
    run_system_part
  fi
  unpack_sources
  exec bash "$ROOT/scripts/ensure-i386.sh"
}

case "${1:-}" in
  --system) system_part ;;
  "") main ;;
  *) echo "usage: bootstrap.sh [--system]" >&2; exit 2 ;;
esac
