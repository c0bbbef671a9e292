#!/usr/bin/env bash
# The README's demo command: builds the program, brings up a local publisher
# on 127.0.0.1 (generated game, nginx file server, .torrent, reports, update
# server, opentracker, a seeding peer) and runs the program under Wine, on
# the user's display when there is one, else on Xvfb, printing progress and
# saving screenshots under build/demo/screenshots.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
assignments=$("$root/tools/setup.sh") || { echo "demo: set-up failed (tools/setup.sh, messages above)" >&2; exit 1; }
eval "$assignments"
export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
# shellcheck source=tools/windows-build.sh
. "$root/tools/windows-build.sh"
choose_windows_build
if [ "$TG_WIN_PRESET" = windows64 ]; then
  echo "demo: running the x86-64 build of the program under 64-bit Wine ($TG_WIN_WHY); the shipped program is the i686 build"
fi
"$root/tools/build.sh" "$TG_WIN_PRESET" || exit 1
bin=$root/build/$TG_WIN_PRESET

demo=$root/build/demo
mkdir -p "$demo"
# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
trap stop_wine_session EXIT
trap 'exit 130' INT TERM
start_wine_session "$demo/wineprefix" || exit 1
# No window manager runs on a private display: let Wine draw the window
# frames (caption, icon) itself there; a real display's manager draws them.
if [ -n "${TG_PRIVATE_DISPLAY:-}" ]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
else
  wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1
fi

# The test build of the program: the same code, with its network kept on
# 127.0.0.1 and the update host pointed at the local publisher.
/usr/bin/python3 "$root/tools/demo.py" --work "$demo" \
  --exe "$bin/bin/tollgrove-test.exe" \
  --probe "$bin/tests/e2e/tg-probe.exe" "$@"
