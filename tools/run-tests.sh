#!/usr/bin/env bash
# The README's test command: sets up a fresh machine, builds both presets and
# runs both test suites (native, then Windows under Wine on an Xvfb display).
# Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/build.sh" native fuzz windows || exit 1

# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
trap stop_wine_session EXIT INT TERM
start_wine_session "$root/build/windows/wineprefix" || exit 1

status=0
echo "== native tests"
ctest --preset native || status=1
echo "== fuzz harnesses (${TOLLGROVE_FUZZ_SECONDS:-30} s each)"
ctest --preset fuzz --no-tests=ignore || status=1
echo "== Windows tests (Wine)"
ctest --preset windows || status=1
exit $status
