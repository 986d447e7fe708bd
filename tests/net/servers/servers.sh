#!/usr/bin/env bash
# Starts or stops the loopback peers of the HTTP client tests: our Python test server and an
# nginx serving files (plain, and gzip-compressed text that it sends chunked).
#   servers.sh start STATE_DIR   writes STATE_DIR/servers.txt ("test <port>" and "nginx <port>")
#   servers.sh stop STATE_DIR    ends the processes that start recorded, by their PIDs
set -euo pipefail
ACTION=$1
STATE=$2
source "$(dirname "$0")/../../server-processes.sh"
HERE=$(cd "$(dirname "$0")" && pwd)

wait_for_port() { # port
  for _ in $(seq 1 100); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 1)" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "servers.sh: nothing listens on port $1" >&2
  return 1
}

start_test_server() {
  rm -f "$STATE/test.port"
  python3 "$HERE/http_test_server.py" "$STATE/test.port" >"$STATE/test-server.log" 2>&1 &
  echo $! > "$STATE/test-server.pid"
  wait_for_port_file "$STATE/test.port" test
}

make_site() {
  local www=$STATE/www
  mkdir -p "$www"
  # Incompressible bytes served as they are, and text that nginx compresses.
  head -c 3000000 /dev/urandom > "$www/random.bin"
  python3 -c 'import sys
line = b"Velmor test text, line %06d: the quick brown fox jumps over the lazy dog.\n"
sys.stdout.buffer.write(b"".join(line % i for i in range(40000)))' > "$www/text.txt"
}

start_nginx() {
  local port root
  port=$(free_port)
  root=$STATE/nginx
  mkdir -p "$root/logs" "$root/temp"
  cat > "$root/nginx.conf" <<CONF
daemon off;
worker_processes 1;
user root;
pid $root/nginx.pid.internal;
error_log $root/logs/error.log;
events { worker_connections 64; }
http {
  access_log $root/logs/access.log;
  client_body_temp_path $root/temp/body;
  proxy_temp_path $root/temp/proxy;
  fastcgi_temp_path $root/temp/fastcgi;
  uwsgi_temp_path $root/temp/uwsgi;
  scgi_temp_path $root/temp/scgi;
  types { text/plain txt; application/octet-stream bin; }
  gzip on;
  gzip_types text/plain;
  server {
    listen 127.0.0.1:$port;
    root $STATE/www;
  }
}
CONF
  nginx -p "$root" -c "$root/nginx.conf" >"$root/logs/stdout.log" 2>&1 &
  echo $! > "$STATE/nginx.pid"
  wait_for_port "$port"
  echo "$port" > "$STATE/nginx.port"
}

case $ACTION in
  start)
    [ -d "$STATE" ] && stop_recorded_servers
    rm -rf "$STATE"
    mkdir -p "$STATE"
    command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
    make_site
    start_test_server
    start_nginx
    printf 'test %s\nnginx %s\n' "$(cat "$STATE/test.port")" "$(cat "$STATE/nginx.port")" > "$STATE/servers.txt"
    ;;
  stop)
    stop_recorded_servers
    ;;
  *)
    echo "usage: servers.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
