#!/usr/bin/env bash
# The README's test command: sets up a fresh machine, builds every preset and
# runs the suites in this order, so that each result stands even when a later
# step cannot start:
#   native   the portable core on Linux with ASan/UBSan
#   fuzz     the libFuzzer harnesses
#   image    checks of the shipped i686 program that need no Wine (where the
#            i686 suite does not run)
#   windows  every Windows test program under Wine on an Xvfb display: the
#            i686 build where this host runs 32-bit code, else the x86-64
#            build under 64-bit Wine (TOLLGROVE_WIN64=1 forces that one)
# Prints one line per suite at the end. A suite that could not run counts
# as failed. Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

summary=()
failed=0
passed=0
record() { # record SUITE OUTCOME
  summary+=("$(printf '%-8s %s' "$1" "$2")")
  case "$2" in passed*) passed=$((passed + 1)) ;; *) failed=$((failed + 1)) ;; esac
}
finish() {
  echo "== summary"
  local line
  for line in "${summary[@]}"; do echo "$line"; done
  echo "suites: $passed passed, $failed failed"
  [ "$failed" = 0 ]
  exit
}

assignments=$("$root/tools/setup.sh") || { echo "run-tests: set-up failed (tools/setup.sh, messages above)"; record setup "FAILED"; finish; }
eval "$assignments"
export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
# shellcheck source=tools/windows-build.sh
. "$root/tools/windows-build.sh"
choose_windows_build
if [ "$TG_WIN_PRESET" = windows64 ]; then
  echo "run-tests: the Windows suite runs from the x86-64 build under 64-bit Wine ($TG_WIN_WHY)"
else
  echo "run-tests: the Windows suite runs from the i686 build under Wine"
fi

# run_suite NAME PRESETS... -- COMMAND...: builds the presets, then runs COMMAND.
run_suite() {
  local name=$1; shift
  local presets=()
  while [ "$1" != -- ]; do presets+=("$1"); shift; done
  shift
  if ! "$root/tools/build.sh" "${presets[@]}"; then
    record "$name" "FAILED: could not build ${presets[*]}"
    return
  fi
  echo "== $name"
  if "$@"; then record "$name" "passed"; else record "$name" "FAILED (ctest output above)"; fi
}

run_suite native native -- ctest --preset native
run_suite fuzz fuzz -- ctest --preset fuzz --no-tests=ignore
# Both Windows builds are built on every host, so that a change that breaks
# either fails everywhere.
if [ "$TG_WIN_PRESET" = windows64 ]; then
  run_suite image windows -- ctest --test-dir build/windows/tests/foundation/image --output-on-failure
  if ! "$root/tools/build.sh" windows64; then
    record windows "FAILED: could not build windows64"
    finish
  fi
else
  if ! "$root/tools/build.sh" windows windows64; then
    record windows "FAILED: could not build windows and windows64"
    finish
  fi
fi

# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
trap stop_wine_session EXIT
trap 'exit 130' INT TERM
echo "== windows ($TG_WIN_PRESET)"
if ! start_wine_session "$root/build/$TG_WIN_PRESET/wineprefix"; then
  record windows "FAILED: could not run (the Wine session did not start; messages above)"
  finish
fi
if ctest --preset "$TG_WIN_PRESET"; then
  record windows "passed ($TG_WIN_PRESET)"
else
  record windows "FAILED ($TG_WIN_PRESET; ctest output above)"
fi
finish
