#!/usr/bin/env bash
# The receiving side of one Direct-HTTP connection, natively and under Wine,
# against nginx on 127.0.0.1: MiB/s, CPU seconds per GiB and reads per MiB
# for each way of reading (bench/web_read_bench.cpp says which).
#   bench/web_read_bench.sh [SIZE_MIB] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mib=${1:-256}
runs=${2:-5}
assignments=$("$root/tools/setup.sh") || exit 1
eval "$assignments"
export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
# shellcheck source=tools/windows-build.sh
. "$root/tools/windows-build.sh"
choose_windows_build
cmake --preset "$TG_WIN_PRESET" >/dev/null
cmake --build --preset "$TG_WIN_PRESET" --target web_read_bench >/dev/null
# The native one optimised and without sanitizers, apart from the test builds.
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/bench" --target web_read_bench >/dev/null

work=$(mktemp -d)
nginx_pid=
# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
cleanup() { stop_wine_session; [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# shellcheck source=bench/bench_nginx.sh
. "$root/bench/bench_nginx.sh"
start_bench_nginx "$work" "$size_mib"
size=$((size_mib * 1024 * 1024))

echo "== native"
"$root/build/bench/bench/web_read_bench" "$url" "$size" "$size_mib" "$runs"
start_wine_session "$root/build/bench/wineprefix" || exit 1
echo "== under Wine ($TG_WIN_PRESET build)"
wine "$root/build/$TG_WIN_PRESET/bench/web_read_bench.exe" "$url" "$size" "$size_mib" "$runs"
