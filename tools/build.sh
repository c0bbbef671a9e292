#!/usr/bin/env bash
# build.sh [native|windows]...: set-up (tools/setup.sh), configure and build
# the named presets (both by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
TOLLGROVE_DEPS=$("$root/tools/setup.sh" | tail -n1)
export TOLLGROVE_DEPS
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
for p in "${presets[@]}"; do
  echo "build: configuring and building $p" >&2
  cmake --preset "$p" >"build-$p.configure.log" 2>&1 || { cat "build-$p.configure.log" >&2; exit 1; }
  rm -f "build-$p.configure.log"
  cmake --build --preset "$p"
done
