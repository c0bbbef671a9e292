#!/usr/bin/env bash
# The README's test command: sets up a fresh machine, builds both presets and
# runs both test suites (native, then Windows under Wine on an Xvfb display).
# Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/build.sh" native fuzz windows || exit 1

pids=()
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  for p in "${pids[@]}"; do kill "$p" >/dev/null 2>&1; done
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . "$root/tools/xvfb.sh"
  start_xvfb || exit 1
  pids+=("$XVFB_PID")
fi

export WINEPREFIX=$root/build/windows/wineprefix
"$root/tools/wine-prefix.sh" "$WINEPREFIX" || exit 1
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
# One persistent wineserver for the whole run: each test process starts in
# milliseconds instead of half a second.
wineserver -p
# Wine's background processes (services, explorer) start with the first
# program and keep the fds they inherit: start them here, detached from
# ctest's output pipes, or ctest waits on those pipes until its time-out.
wine cmd /c exit </dev/null >/dev/null 2>&1

status=0
echo "== native tests"
ctest --preset native || status=1
echo "== fuzz harnesses (${TOLLGROVE_FUZZ_SECONDS:-30} s each)"
ctest --preset fuzz --no-tests=ignore || status=1
echo "== Windows tests (Wine)"
ctest --preset windows || status=1
exit $status
