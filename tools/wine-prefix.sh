#!/usr/bin/env bash
# wine-prefix.sh PREFIX: makes PREFIX a test prefix once (a second call only
# checks): no Mono/Gecko prompts, shell folders kept inside the prefix,
# fonts with Vietnamese glyphs.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree=;mshtml="
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.tollgrove-ready" ] && exit 0

wineboot --init >/dev/null 2>&1
wineserver -w

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

reg=$(mktemp --suffix=.reg)
{
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for f in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "MS Sans Serif" "Segoe UI" "Arial" "Microsoft Sans Serif"; do
    printf '"%s"="DejaVu Sans"\r\n' "$f"
  done
  printf '\r\n'
} >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w
rm -f "$reg"
touch "$prefix/.tollgrove-ready"
