#!/usr/bin/env bash
# with-server.sh [--script FILE.json] [--log FILE.jsonl] -- COMMAND [ARGS...]:
# runs COMMAND with tools/testserver/http_server.py listening on 127.0.0.1;
# COMMAND finds the port in TG_HTTP_PORT (and the base URL in TG_HTTP_BASE).
# The server is shut down when COMMAND ends; its exit status is COMMAND's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
opts=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do opts+=("$1"); shift; done
[ "${1:-}" = -- ] && shift
[ $# -gt 0 ] || { echo "usage: with-server.sh [server options] -- COMMAND..." >&2; exit 2; }

portfile=$(mktemp)
rm -f "$portfile"
python3 "$here/http_server.py" --port-file "$portfile" "${opts[@]}" >/dev/null &
server=$!
for _ in $(seq 1 500); do [ -s "$portfile" ] && break; sleep 0.02; done
if [ ! -s "$portfile" ]; then kill "$server" 2>/dev/null; echo "with-server.sh: server did not start" >&2; exit 1; fi
export TG_HTTP_PORT=$(cat "$portfile") TG_HTTP_BASE="http://127.0.0.1:$(cat "$portfile")"
rm -f "$portfile"
"$@"
status=$?
python3 - "$TG_HTTP_PORT" <<'PY' || kill "$server" 2>/dev/null
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(b"POST /__control/shutdown HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
s.recv(1024)
PY
wait "$server" 2>/dev/null
exit $status
