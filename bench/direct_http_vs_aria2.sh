#!/usr/bin/env bash
# HTTP-only download throughput and CPU seconds per GiB: Tollgrove's
# Direct-HTTP sources against aria2c, the same number of connections to the
# same nginx on 127.0.0.1, in one run. Prints both and their ratios.
#   bench/direct_http_vs_aria2.sh [SIZE_MIB] [CONNECTIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mib=${1:-1024}
conns=${2:-4}
work=$(mktemp -d)
nginx_pid=
cleanup() { [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# An optimised build without sanitizers, apart from the test builds.
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/bench" --target direct_http_bench >/dev/null

# shellcheck source=bench/bench_nginx.sh
. "$root/bench/bench_nginx.sh"
start_bench_nginx "$work" "$size_mib"
mkdir -p "$work/tg" "$work/aria"

read -r tg_all tg_wall tg_cpu < <("$root/build/bench/bench/direct_http_bench" "$work/www/game.bin" "$url" "$conns" "$work/tg")
cmp -s "$work/www/game.bin" "$work/tg/game.bin" || { echo "Tollgrove copy differs" >&2; exit 1; }

read -r ar_wall ar_cpu < <(/usr/bin/time -f "%e %U %S" aria2c -q -x "$conns" -s "$conns" -k 1M \
  --file-allocation=none --allow-overwrite=true -d "$work/aria" "$url" 2>&1 >/dev/null | awk '{print $1, $2 + $3}')
cmp -s "$work/www/game.bin" "$work/aria/game.bin" || { echo "aria2c copy differs" >&2; exit 1; }

python3 - "$size_mib" "$conns" "$tg_wall" "$tg_cpu" "$ar_wall" "$ar_cpu" "$tg_all" <<'PY'
import sys
mib, conns, tw, tc, aw, ac, tall = int(sys.argv[1]), int(sys.argv[2]), *map(float, sys.argv[3:])
gib = mib / 1024
print(f"{mib} MiB over {conns} connections to nginx on 127.0.0.1")
print(f"{'':10}{'MiB/s':>10}{'CPU s/GiB':>12}")
print(f"{'Tollgrove':10}{mib / tw:10.1f}{tc / gib:12.2f}")
print(f"{'aria2c':10}{mib / aw:10.1f}{ac / gib:12.2f}")
print(f"(Tollgrove from its first payload byte; {tall:.2f} s in all, its sources connecting at the next tick)")
print(f"ratio Tollgrove/aria2c: throughput {(mib / tw) / (mib / aw):.2f}, CPU per GiB {(tc / gib) / (ac / gib):.2f}")
PY
