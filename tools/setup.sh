#!/usr/bin/env bash
# Turns a fresh Debian 12 machine into a Tollgrove build host. Idempotent: a
# second run only checks. Its standard output is three shell assignments:
#   TOLLGROVE_DEPS=...             the i686 target's libraries (the product)
#   TOLLGROVE_DEPS64=...           the x86-64 target's (for hosts that cannot
#                                  run 32-bit code)
#   TOLLGROVE_HOST_RUNS_32BIT=1|0  whether Wine's 32-bit loader runs here
# so that `eval "$(tools/setup.sh)"` sets all three.
#
#   TOLLGROVE_CACHE=DIR       where target libraries are built (default ~/.cache/tollgrove)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${TOLLGROVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tollgrove}
jobs=$(nproc)

log() { echo "setup: $*" >&2; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake ninja-build
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libboost-dev googletest xvfb wine wine32:i386 wine64 imagemagick x11-apps
  python3 libtorrent-rasterbar-dev dpkg-dev fonts-dejavu-core fonts-liberation2
  nginx-light opentracker aria2 python3-libtorrent
  clang libclang-rt-14-dev
  # Wine's schannel (WinINet's https) loads GnuTLS at run time; libwine
  # only recommends it, and recommends are not installed here.
  libgnutls30 libgnutls30:i386
  # The TLS tests mint their certificates with the openssl command.
  openssl
)

# Ends the nginx that the package's installation started, if it still runs.
stop_package_nginx() {
  local pid
  pid=$(cat /run/nginx.pid 2>/dev/null) || return 0
  case "$pid" in '' | *[!0-9]*) return 0 ;; esac
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = nginx ] || return 0
  as_root kill "$pid" >/dev/null 2>&1 || true
}

install_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling the i386 architecture"
    as_root dpkg --add-architecture i386
    need_update=1
  fi
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
    log "installing: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    # nginx-light's package starts a system nginx on port 80; the tests run
    # their own. Only the one this install started goes (by the process id
    # its package wrote), never another nginx of the machine.
    as_root systemctl disable --now nginx >/dev/null 2>&1 || true
    stop_package_nginx
  fi
}

# Source packages may be off; switch deb-src on for every Debian entry.
enable_sources() {
  if apt-cache showsrc libtorrent-rasterbar 2>/dev/null | grep -q '^Package:'; then return; fi
  log "enabling Debian source packages"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q 'debian' "$f" || continue
    as_root sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
  done
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb .*debian' /etc/apt/sources.list; then
    grep -E '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      while read -r line; do
        grep -qxF "$line" /etc/apt/sources.list || echo "$line" | as_root tee -a /etc/apt/sources.list >/dev/null
      done
  fi
  as_root apt-get update -q
}

# Versions of a source package, newest first (a mirror may lack the newest).
src_versions() { apt-cache showsrc "$1" | awk '/^Version:/{print $2}' | sort -rV | uniq; }

# Downloads and unpacks the newest fetchable version of source package $1
# into $2; prints the version.
fetch_source() {
  local v
  for v in $(src_versions "$1"); do
    if (cd "$2" && apt-get source -q "$1=$v" >/dev/null 2>&1); then echo "$v"; return; fi
    log "source $1=$v not fetchable, trying an older one"
  done
  log "no version of source package $1 could be fetched"; exit 1
}

# Flags every target object is built with (see cmake/*-w64-mingw32.cmake):
# stddef.h first keeps max_align_t's alignment one value across units, and
# -fno-ipa-ra keeps -O3 engine code from trusting a register across a call
# to a COMDAT copy built at -O2. They change the libraries, so they are part
# of the cache key.
target_cxx_flags="-include stddef.h -fno-ipa-ra"

# Whether this kernel executes 32-bit x86 programs at all (some hosts of our
# kind cannot: every i386 ELF fails with "Exec format error").
host_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The Boost headers for the cross build: a folder holding only "boost", so
# the cross build never sees the rest of /usr/include. It is the system's
# headers, linked file by file, with one file changed: the thread of Asio's
# select reactor, which the engine's UDP socket starts beside the completion
# port, calls run(true, ops) on a parameter that is now "long usec", so it
# polls select() with a 1 us time-out for as long as the session lives (a
# wineserver round trip each under Wine). Asio 1.26 (Boost 1.81) changed
# that call to run(-1, ops), a wait that the reactor's interrupter ends; the
# same one-line change is made here. Boost 1.81 itself is not taken: the
# x86-64 engine built with it crashed now and then in torrent_info's copy.
# The folder is named by the Boost version and the change, which the
# libraries' cache key takes too.
boost_fix=asio-reactor-wait
boost_headers() {
  local ver; ver=$(sed -n 's/^#define BOOST_LIB_VERSION "\(.*\)"$/\1/p' /usr/include/boost/version.hpp)
  [ -n "$ver" ] || { log "no boost headers in /usr/include/boost"; exit 1; }
  local d=$cache/boost$ver-$boost_fix-include
  if [ ! -f "$d/.done" ]; then
    local rel=asio/detail/impl/select_reactor.ipp
    rm -rf "$d"; mkdir -p "$d"
    cp -rs /usr/include/boost "$d/boost"
    rm "$d/boost/$rel"
    sed 's/^\(    run(\)true\(, ops);\)$/\1-1\2/' "/usr/include/boost/$rel" >"$d/boost/$rel"
    grep -q '^    run(-1, ops);$' "$d/boost/$rel" || { log "boost $ver: the select reactor's wait could not be changed"; exit 1; }
    touch "$d/.done"
  fi
  echo "$d"
}

# OpenSSL's Configure options for TRIPLE. They change the libraries, so they
# are part of the cache key.
# Both keep OpenSSL's assembly (SHA-1 among it, with SHA-NI, SSSE3 and AVX
# paths chosen at run time); for the 32-bit one build_openssl first undoes
# the Debian patch that breaks it for PE/COFF.
openssl_options() {
  case $1 in
    x86_64-*) echo "mingw64 no-shared no-tests" ;;
    *) echo "mingw no-shared no-tests" ;;
  esac
}

# Debian's pic.patch rewrites the 32-bit x86 assembly generators for ELF
# only (a ".hidden" directive, GOT and PLT relocations), which the PE/COFF
# assembler rejects. Reversing it gives back upstream's generators, which
# already handle COFF; no other Debian patch touches those files.
undo_elf_pic_patch() {
  local p=debian/patches/pic.patch
  [ -f "$p" ] || return 0
  patch -R -p1 -s --dry-run <"$p" >/dev/null || { log "cannot reverse Debian's $p"; return 1; }
  patch -R -p1 -s <"$p"
}

# build_openssl PREFIX TRIPLE SRCDIR VERSION: OpenSSL for TRIPLE (i686- or
# x86_64-w64-mingw32) from the unpacked source in SRCDIR.
build_openssl() {
  local prefix=$1 triple=$2 work=$3 ver=$4
  [ -f "$prefix/.openssl-done" ] && return
  log "building OpenSSL $ver for $triple"
  local s; s=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n1)
  # shellcheck disable=SC2046 # the options are words
  (cd "$s" &&
    undo_elf_pic_patch &&
    ./Configure $(openssl_options "$triple") --cross-compile-prefix="$triple-" \
      --prefix="$prefix" --libdir=lib >/dev/null &&
    make -j"$jobs" build_libs >"$work/build.log" 2>&1 &&
    make install_dev >/dev/null 2>&1) || { tail -50 "$work/build.log" >&2; exit 1; }
  echo "$ver" >"$prefix/.openssl-done"
}

# build_libtorrent PREFIX BOOSTDIR TRIPLE SRCDIR VERSION: libtorrent-rasterbar
# 2.0.8 for TRIPLE from the unpacked source in SRCDIR.
build_libtorrent() {
  local prefix=$1 boostdir=$2 triple=$3 work=$4 ver=$5
  [ -f "$prefix/.libtorrent-done" ] && return
  case "$ver" in 2.0.8*) ;; *) log "expected libtorrent-rasterbar 2.0.8, got $ver"; exit 1 ;; esac
  log "building libtorrent-rasterbar $ver for $triple"
  local s; s=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libtorrent-rasterbar-*' | head -n1)
  cmake -S "$s" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/$triple.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -Dstatic_runtime=ON -DCMAKE_CXX_STANDARD=17 \
    -DCMAKE_CXX_FLAGS="$target_cxx_flags" -Dbuild_tests=OFF -Dbuild_examples=OFF -Dbuild_tools=OFF -Dpython-bindings=OFF \
    -DBoost_INCLUDE_DIR="$boostdir" -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_INCLUDE_DIR="$prefix/include" \
    -DLIB_EAY="$prefix/lib/libcrypto.a" -DSSL_EAY="$prefix/lib/libssl.a" \
    -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$triple" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
  cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
  cmake --install "$work/build" >/dev/null
  echo "$ver" >"$prefix/.libtorrent-done"
}

# deps_for TRIPLE: builds (or finds) TRIPLE's libraries; prints their prefix.
# The prefix is named by the source versions actually built (a mirror may
# serve an older one than the archive lists), the compiler, the flags and
# OpenSSL's options. A small file named by the newest listed versions
# remembers which prefix they resolved to, so a second run fetches nothing.
deps_for() {
  local triple=$1
  local cc_ver; cc_ver=$("$triple-g++-posix" -dumpfullversion) || { log "no $triple compiler"; exit 1; }
  local flags_key
  flags_key=$(printf '%s|%s' "$target_cxx_flags" "$(openssl_options "$triple")" | md5sum | cut -c1-8)
  local suffix=${boostdir##*/}; suffix=${suffix%-include}-gcc$cc_ver-f$flags_key
  local resolved=$cache/resolved-${triple%%-*}-lt$lt_ver-ssl$ssl_ver-$suffix
  resolved=${resolved//[:~+]/_}
  local prefix
  if [ -f "$resolved" ]; then
    prefix=$(cat "$resolved")
    if [ -f "$prefix/.openssl-done" ] && [ -f "$prefix/.libtorrent-done" ] && [ -e "$prefix/boost-include/boost/version.hpp" ]; then
      log "$triple libraries ready in $prefix"
      echo "$prefix"
      return
    fi
  fi
  local work; work=$(mktemp -d "$cache/src.XXXX")
  mkdir -p "$work/openssl" "$work/libtorrent"
  local ssl_built lt_built
  ssl_built=$(fetch_source openssl "$work/openssl")
  lt_built=$(fetch_source libtorrent-rasterbar "$work/libtorrent")
  prefix=$cache/deps-${triple%%-*}-lt$lt_built-ssl$ssl_built-$suffix
  prefix=${prefix//[:~+]/_}
  build_openssl "$prefix" "$triple" "$work/openssl" "$ssl_built"
  build_libtorrent "$prefix" "$boostdir" "$triple" "$work/libtorrent" "$lt_built"
  # The headers the libraries were built with, for the build of our code
  # (cmake/TollgroveWindows.cmake).
  ln -sfn "$boostdir" "$prefix/boost-include"
  rm -rf "$work"
  echo "$prefix" >"$resolved"
  log "$triple libraries ready in $prefix"
  echo "$prefix"
}

main() {
  # Only the assignments go to standard output; every tool's chatter (apt's
  # included) goes to standard error.
  exec 3>&1 1>&2
  install_packages
  enable_sources
  mkdir -p "$cache"
  local runs32=0
  if host_runs_32bit; then
    runs32=1
    log "host: runs 32-bit code; the Windows suite runs from the i686 build under Wine"
  else
    log "host: cannot run 32-bit code (Wine's 32-bit loader fails); the Windows suite runs from the x86-64 build under 64-bit Wine"
  fi
  lt_ver=$(src_versions libtorrent-rasterbar | head -n1)
  ssl_ver=$(src_versions openssl | head -n1)
  boostdir=$(boost_headers)
  local deps deps64
  deps=$(deps_for i686-w64-mingw32)
  deps64=$(deps_for x86_64-w64-mingw32)
  echo "TOLLGROVE_DEPS=$deps" >&3
  echo "TOLLGROVE_DEPS64=$deps64" >&3
  echo "TOLLGROVE_HOST_RUNS_32BIT=$runs32" >&3
}

main "$@"
