#!/usr/bin/env bash
# Runs a Windows test program under Wine in the build folder's own prefix
# (ctest's emulator). The build folder is the nearest parent with a CMakeCache.txt.
set -euo pipefail
exe=$1
if [ -z "${WINEPREFIX:-}" ]; then
  d=$(cd "$(dirname "$exe")" && pwd)
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  export WINEPREFIX=$d/wineprefix
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
[ -f "$WINEPREFIX/.tollgrove-ready" ] || "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"
exec wine "$@"
