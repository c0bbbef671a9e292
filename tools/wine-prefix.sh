#!/usr/bin/env bash
# wine-prefix.sh PREFIX: makes PREFIX a test prefix once (a second call only
# checks): no Mono/Gecko prompts, shell folders kept inside the prefix,
# fonts with Vietnamese glyphs. The prefix's architecture is that of the
# "wine" first on PATH (tools/wine64/ for the x86-64 build).
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree=;mshtml="
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.tollgrove-ready" ] && exit 0

log=$prefix.init.log
if ! wineboot --init >"$log" 2>&1 || ! wineserver -w; then
  echo "wine-prefix: 'wineboot --init' failed for $prefix (wine is $(command -v wine))." >&2
  echo "wine-prefix: its output is in $log; the last lines:" >&2
  tail -n 5 "$log" >&2
  echo "wine-prefix: see more with: WINEPREFIX=$prefix WINEDEBUG=err+all wineboot --init" >&2
  exit 1
fi

# A fresh prefix links Desktop, Documents, Downloads (and the like) to the
# host's home: tests would write shortcuts there.
users=$prefix/drive_c/users
for home in "$users"/*; do
  [ -d "$home" ] || continue
  for f in Desktop Documents Downloads Music Pictures Videos Templates; do
    if [ -L "$home/$f" ]; then rm -f "$home/$f"; fi
    mkdir -p "$home/$f"
  done
done

# Windows' dialog fonts are not here: Liberation Sans has Arial's metrics and
# Vietnamese glyphs, so labels take the room they take on Windows.
reg=$(mktemp --suffix=.reg)
{
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for f in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "MS Sans Serif" "Segoe UI" "Arial" "Microsoft Sans Serif"; do
    printf '"%s"="Liberation Sans"\r\n' "$f"
  done
  printf '\r\n'
} >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w
rm -f "$reg"
touch "$prefix/.tollgrove-ready"
