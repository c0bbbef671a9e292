#!/usr/bin/env bash
# The whole program against aria2c on one generated game (1 GiB unless a
# size in MiB is given), all on 127.0.0.1: HTTP only with 1 and 4
# connections, aria2c -x1 and -x4, the swarm only, hybrid; and the same
# Direct-HTTP code built natively, for what Wine costs. Prints the figures.
#   bench/whole_program_bench.sh [SIZE_MIB]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
assignments=$("$root/tools/setup.sh") || exit 1
eval "$assignments"
export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
# shellcheck source=tools/windows-build.sh
. "$root/tools/windows-build.sh"
choose_windows_build
[ "$TG_WIN_PRESET" = windows ] || echo "bench: the Windows figures are of the x86-64 build under 64-bit Wine ($TG_WIN_WHY)"
"$root/tools/build.sh" "$TG_WIN_PRESET" || exit 1
win=$root/build/$TG_WIN_PRESET
# The native engine, optimised and without sanitizers, apart from the test builds.
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null &&
  cmake --build "$root/build/bench" --target direct_http_bench >/dev/null || exit 1

# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
trap stop_wine_session EXIT
trap 'exit 130' INT TERM
start_wine_session "$root/build/bench/wineprefix" || exit 1

# The test build: the same program, its network kept on 127.0.0.1 and its
# connection rule's period settable.
/usr/bin/python3 "$root/bench/whole_program_bench.py" --size-mib "${1:-1024}" \
  --exe "$win/bin/tollgrove-test.exe" \
  --probe "$win/tests/e2e/tg-probe.exe" \
  --native-bench "$root/build/bench/bench/direct_http_bench" \
  --wine-bench "$win/bench/direct_http_bench.exe"
