# shellcheck shell=bash disable=SC2034
# Sourced by the benchmarks: start_bench_nginx WORK SIZE_MIB serves a file
# of SIZE_MIB random MiB as WORK/www/game.bin from nginx on 127.0.0.1 (its
# files under WORK) and sets `url` to it and `nginx_pid` to stop it.
start_bench_nginx() {
  local work=$1 size_mib=$2 port
  mkdir -p "$work/www" "$work/tmp"
  head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/www/game.bin"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 512; }
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
}
