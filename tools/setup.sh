#!/usr/bin/env bash
# Turns a fresh Debian 12 machine into a Tollgrove build host. Idempotent: a
# second run only checks. Prints the dependency prefix on its last line.
#
#   tools/setup.sh            packages + target libraries
#   TOLLGROVE_CACHE=DIR       where target libraries are built (default ~/.cache/tollgrove)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${TOLLGROVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tollgrove}
jobs=$(nproc)

log() { echo "setup: $*" >&2; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake ninja-build
  libboost-dev googletest xvfb wine wine32:i386 imagemagick x11-apps
  python3 libtorrent-rasterbar-dev dpkg-dev fonts-dejavu-core
  nginx-light opentracker aria2 python3-libtorrent
  clang libclang-rt-14-dev
)

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
    # nginx-light's package starts a system nginx on port 80; the tests run their own.
    as_root systemctl disable --now nginx >/dev/null 2>&1 || true
    as_root pkill -x nginx >/dev/null 2>&1 || true
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

cc=i686-w64-mingw32-g++-posix
compiler_version=$($cc -dumpfullversion 2>/dev/null || echo none)

# A folder holding only a link to the system's boost headers, so the cross
# build never sees the rest of /usr/include.
boost_link_dir() {
  local d=$cache/boost-include
  if [ ! -e "$d/boost" ]; then mkdir -p "$d"; ln -sfn /usr/include/boost "$d/boost"; fi
  echo "$d"
}

build_openssl() {
  local prefix=$1
  [ -f "$prefix/.openssl-done" ] && return
  local work; work=$(mktemp -d "$cache/openssl-src.XXXX")
  local ver; ver=$(fetch_source openssl "$work")
  log "building OpenSSL $ver for i686-w64-mingw32"
  local s; s=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n1)
  # no-asm: Debian's source makes the x86 assembly position-independent for
  # ELF (GOT relocations), which the PE/COFF assembler cannot represent.
  (cd "$s" &&
    ./Configure mingw no-shared no-tests no-asm --cross-compile-prefix=i686-w64-mingw32- \
      --prefix="$prefix" --libdir=lib >/dev/null &&
    make -j"$jobs" build_libs >"$work/build.log" 2>&1 &&
    make install_dev >/dev/null 2>&1) || { tail -50 "$work/build.log" >&2; exit 1; }
  rm -rf "$work"
  echo "$ver" >"$prefix/.openssl-done"
}

build_libtorrent() {
  local prefix=$1 boostdir=$2
  [ -f "$prefix/.libtorrent-done" ] && return
  local work; work=$(mktemp -d "$cache/lt-src.XXXX")
  local ver; ver=$(fetch_source libtorrent-rasterbar "$work")
  case "$ver" in 2.0.8*) ;; *) log "expected libtorrent-rasterbar 2.0.8, got $ver"; exit 1 ;; esac
  log "building libtorrent-rasterbar $ver for i686-w64-mingw32"
  local s; s=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libtorrent-rasterbar-*' | head -n1)
  cmake -S "$s" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -Dstatic_runtime=ON -DCMAKE_CXX_STANDARD=17 \
    -DCMAKE_CXX_FLAGS="-include stddef.h" -Dbuild_tests=OFF -Dbuild_examples=OFF -Dbuild_tools=OFF -Dpython-bindings=OFF \
    -DBoost_INCLUDE_DIR="$boostdir" -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_INCLUDE_DIR="$prefix/include" \
    -DLIB_EAY="$prefix/lib/libcrypto.a" -DSSL_EAY="$prefix/lib/libssl.a" \
    -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/i686-w64-mingw32" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
  cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
  cmake --install "$work/build" >/dev/null
  rm -rf "$work"
  echo "$ver" >"$prefix/.libtorrent-done"
}

main() {
  install_packages
  enable_sources
  mkdir -p "$cache"
  # Keyed by the archive's newest versions of both source packages and by the
  # compiler; the revisions actually fetched are recorded inside.
  local lt_ver ssl_ver
  lt_ver=$(src_versions libtorrent-rasterbar | head -n1)
  ssl_ver=$(src_versions openssl | head -n1)
  local prefix=$cache/deps-lt$lt_ver-ssl$ssl_ver-gcc$compiler_version
  prefix=${prefix//[:~+]/_}
  local boostdir; boostdir=$(boost_link_dir)
  build_openssl "$prefix"
  build_libtorrent "$prefix" "$boostdir"
  log "dependencies ready in $prefix"
  echo "$prefix"
}

main "$@"
