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

mkdir -p "$work/www" "$work/tmp"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/www/game.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  keepalive_requests 1000000;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
url="http://127.0.0.1:$port/game.bin"
size=$((size_mib * 1024 * 1024))

echo "== native"
"$root/build/bench/bench/web_read_bench" "$url" "$size" "$size_mib" "$runs"
start_wine_session "$root/build/bench/wineprefix" || exit 1
echo "== under Wine ($TG_WIN_PRESET build)"
wine "$root/build/$TG_WIN_PRESET/bench/web_read_bench.exe" "$url" "$size" "$size_mib" "$runs"
