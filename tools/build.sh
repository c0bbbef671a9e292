#!/usr/bin/env bash
# build.sh [PRESET]...: set-up (tools/setup.sh, unless its assignments are
# already in the environment), then configure and build the named presets
# (native and windows by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -z "${TOLLGROVE_DEPS:-}" ] || [ -z "${TOLLGROVE_DEPS64:-}" ]; then
  assignments=$("$root/tools/setup.sh") || { echo "build: set-up failed (tools/setup.sh, messages above)" >&2; exit 1; }
  eval "$assignments"
fi
export TOLLGROVE_DEPS TOLLGROVE_DEPS64
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
for p in "${presets[@]}"; do
  echo "build: configuring and building $p" >&2
  log=$root/build-$p.configure.log
  cmake --preset "$p" >"$log" 2>&1 || { cat "$log" >&2; echo "build: configuring $p failed" >&2; exit 1; }
  rm -f "$log"
  cmake --build --preset "$p" || { echo "build: building $p failed (compiler messages above)" >&2; exit 1; }
done
