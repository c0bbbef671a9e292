#!/usr/bin/env bash
# wine-run.sh [--win64] EXE [ARGS...]: runs a Windows test program under Wine
# in the build folder's own prefix (ctest's emulator). The build folder is
# the nearest parent with a CMakeCache.txt. --win64: the x86-64 build, run by
# Wine's 64-bit loader.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --win64 ]; then
  shift
  export PATH=$here/wine64:$PATH
fi
exe=$1
if [ -z "${WINEPREFIX:-}" ]; then
  d=$(cd "$(dirname "$exe")" && pwd)
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  export WINEPREFIX=$d/wineprefix
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
[ -f "$WINEPREFIX/.tollgrove-ready" ] || "$here/wine-prefix.sh" "$WINEPREFIX"
exec wine "$@"
