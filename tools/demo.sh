#!/usr/bin/env bash
# The README's demo command: builds the program and runs tollgrove.exe under
# Wine from a demo folder, on the user's display when there is one, else on
# Xvfb, saving screenshots under build/demo/screenshots.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/build.sh" windows || exit 1

demo=$root/build/demo
shots=$demo/screenshots
mkdir -p "$demo/app" "$shots"
cp "$root/build/windows/bin/tollgrove.exe" "$demo/app/"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" >/dev/null 2>&1; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT INT TERM

own_display=
if [ -z "${DISPLAY:-}" ]; then
  . "$root/tools/xvfb.sh"
  start_xvfb || exit 1
  pids+=("$XVFB_PID")
  own_display=1
fi

export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
"$root/tools/wine-prefix.sh" "$WINEPREFIX" || exit 1
# No window manager runs on a private display: let Wine draw the window
# frames (caption, icon) itself there; a real display's manager draws them.
if [ -n "$own_display" ]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
else
  wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1
fi

echo "demo: starting tollgrove.exe on display $DISPLAY"
(cd "$demo/app" && wine tollgrove.exe) &
app=$!
pids+=("$app")

shot() { import -window root "$shots/$1.png" 2>/dev/null && echo "demo: screenshot $shots/$1.png"; }
sleep 4
shot window
if [ -n "$own_display" ]; then
  # Nobody can close the window on a private display: end it after the shot.
  sleep 1
  wineserver -k >/dev/null 2>&1
fi
wait "$app" 2>/dev/null
echo "demo: tollgrove.exe ended; screenshots in $shots"
