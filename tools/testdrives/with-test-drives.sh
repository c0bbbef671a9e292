#!/usr/bin/env bash
# with-test-drives.sh [--win64] EXE [ARGS...]: ctest's emulator for the tests that need
# real small and removable drives. Runs EXE under Wine in a prefix of its own
# (build folder's wineprefix-drives) where
#   T: is a 256 KiB tmpfs, a fixed drive with little room, and
#   R: is a 256 KiB tmpfs that Wine reports as removable (its drive type
#      "floppy" in HKLM\Software\Wine\Drives, read when the wineserver starts).
# The tmpfs mounts need root; without them the tests are told by
# TG_TEST_DRIVES=none and skip. Users are serialised by a lock; the mounts
# are made for each run and removed after it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
win64=()
if [ "${1:-}" = --win64 ]; then
  shift
  win64=(--win64)
  export PATH=$here/../wine64:$PATH
fi
exe=$1
for a in "$@"; do
  # Listing the tests needs no drives.
  [ "$a" = --gtest_list_tests ] && exec "$here/../wine-run.sh" "${win64[@]}" "$@"
done

d=$(cd "$(dirname "$exe")" && pwd)
while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
prefix=$d/wineprefix-drives
drives=$d/test-drives
mkdir -p "$drives/fixed" "$drives/removable"
exec 8>"$drives.lock"
flock 8

export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
# The marker names the way the drive types were written: a prefix made by an
# older way (the plain marker) is set up again.
marker=$prefix/.tollgrove-drives-reg64
if [ ! -f "$marker" ]; then
  "$here/../wine-prefix.sh" "$prefix" || exit 1
  ln -sfn "$drives/fixed" "$prefix/dosdevices/t:"
  ln -sfn "$drives/removable" "$prefix/dosdevices/r:"
  # Wine reads drive types from the 64-bit registry view. Run by the 32-bit
  # loader in a prefix that has both, a plain 'reg add' writes the 32-bit
  # view (Wow6432Node) and R: stays fixed; /reg:64 names the 64-bit view
  # under either loader. The older 32-bit view entry goes first.
  wine reg delete 'HKLM\Software\Wine\Drives' /v r: /f /reg:32 </dev/null >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f /reg:64 </dev/null >/dev/null 2>&1
  wineserver -k
  wineserver -w
  rm -f "$prefix/.tollgrove-drives"
  touch "$marker"
fi

mounted=()
cleanup() {
  wineserver -k >/dev/null 2>&1
  for m in "${mounted[@]}"; do umount "$m" >/dev/null 2>&1; done
}
trap cleanup EXIT INT TERM
export TG_TEST_DRIVES=mounted
for m in "$drives/fixed" "$drives/removable"; do
  if mount -t tmpfs -o size=256k tmpfs "$m" >/dev/null 2>&1; then
    mounted+=("$m")
  else
    export TG_TEST_DRIVES=none
  fi
done

# Start Wine's background processes detached from ctest's output pipes.
wine cmd /c exit </dev/null >/dev/null 2>&1
wine "$@"
