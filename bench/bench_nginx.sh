# shellcheck shell=bash disable=SC2034
# Sourced by the benchmarks (with `root` set): start_bench_nginx WORK
# SIZE_MIB serves a file of SIZE_MIB random MiB as WORK/www/game.bin from
# the publisher's nginx on 127.0.0.1, without an access log, and sets `url`
# to it and `nginx_pid` to stop it (its keeper, which ends nginx with it).
start_bench_nginx() {
  local work=$1 size_mib=$2
  mkdir -p "$work/www"
  head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/www/game.bin"
  python3 "$root/tools/publisher/services.py" nginx "$work/www" "$work/nginx.port" --no-access-log &
  nginx_pid=$!
  for _ in $(seq 200); do [ -s "$work/nginx.port" ] && break; sleep 0.1; done
  [ -s "$work/nginx.port" ] || { echo "nginx did not start" >&2; return 1; }
  url="http://127.0.0.1:$(cat "$work/nginx.port")/game.bin"
}
