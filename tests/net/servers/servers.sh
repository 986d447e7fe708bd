#!/usr/bin/env bash
# Starts or stops the loopback peers of the HTTP client tests: our Python test server and an
# nginx serving files (plain, and gzip-compressed text that it sends chunked), each also over TLS
# with this run's certificates (STATE_DIR/tls, tests/net/tls/make-certs.sh), and the TLS peers and
# CONNECT proxies of tests/net/tls (see its README).
#   servers.sh start STATE_DIR   writes STATE_DIR/servers.txt, one "<name> <port>" line a server
#   servers.sh stop STATE_DIR    ends the processes that start recorded, by their PIDs
set -euo pipefail
ACTION=$1
STATE=$2
source "$(dirname "$0")/../../server-processes.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
TLS=$(cd "$HERE/../tls" && pwd)

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
  python3 "$HERE/http_test_server.py" "$STATE/test.port" --tls "$STATE/tls" "$STATE/tls.ports" \
    >"$STATE/test-server.log" 2>&1 &
  echo $! > "$STATE/test-server.pid"
  wait_for_port_file "$STATE/test.port" test
}

start_tls_peers() { # port of the TLS server the relays relay to
  python3 "$TLS/tls_peers.py" "$1" "$STATE/tls-peers.ports" >"$STATE/tls-peers.log" 2>&1 &
  echo $! > "$STATE/tls-peers.pid"
  wait_for_port_file "$STATE/tls-peers.ports" "TLS peers"
}

start_proxies() { # proxy-ok, proxy-407 and proxy-502, started side by side
  local answer
  for answer in ok 407 502; do
    python3 "$TLS/connect_proxy.py" "$STATE/proxy-$answer.port" --log "$STATE/proxy-$answer.log" \
      --answer "$answer" >"$STATE/proxy-$answer.out" 2>&1 &
    echo $! > "$STATE/proxy-$answer.pid"
  done
  for answer in ok 407 502; do wait_for_port_file "$STATE/proxy-$answer.port" "proxy-$answer"; done
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

# The site is also served over TLS 1.2 only (AES-GCM) and over TLS 1.0/1.1 only; OpenSSL 3 allows
# the old versions only at security level 0.
start_nginx() {
  local port tls12 tls10 root
  port=$(free_port)
  tls12=$(free_port)
  tls10=$(free_port)
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
  ssl_certificate $STATE/tls/good.pem;
  ssl_certificate_key $STATE/tls/good.key;
  server {
    listen 127.0.0.1:$port;
    root $STATE/www;
  }
  server {
    listen 127.0.0.1:$tls12 ssl;
    ssl_protocols TLSv1.2;
    ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256;
    root $STATE/www;
  }
  server {
    listen 127.0.0.1:$tls10 ssl;
    ssl_protocols TLSv1 TLSv1.1;
    ssl_ciphers DEFAULT:@SECLEVEL=0;
    root $STATE/www;
  }
}
CONF
  nginx -p "$root" -c "$root/nginx.conf" >"$root/logs/stdout.log" 2>&1 &
  echo $! > "$STATE/nginx.pid"
  wait_for_port "$port"
  echo "$port" > "$STATE/nginx.port"
  printf 'nginx-tls12 %s\nnginx-tls10 %s\n' "$tls12" "$tls10" > "$STATE/nginx-tls.ports"
}

case $ACTION in
  start)
    [ -d "$STATE" ] && stop_recorded_servers
    rm -rf "$STATE"
    mkdir -p "$STATE"
    command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
    make_site
    bash "$TLS/make-certs.sh" "$STATE/tls"
    start_test_server
    start_nginx
    start_tls_peers "$(awk '$1 == "tls-good" { print $2 }' "$STATE/tls.ports")"
    start_proxies
    {
      printf 'test %s\nnginx %s\n' "$(cat "$STATE/test.port")" "$(cat "$STATE/nginx.port")"
      cat "$STATE/tls.ports" "$STATE/tls-peers.ports" "$STATE/nginx-tls.ports"
      for proxy in proxy-ok proxy-407 proxy-502; do echo "$proxy $(cat "$STATE/$proxy.port")"; done
    } > "$STATE/servers.txt"
    ;;
  stop)
    stop_recorded_servers
    ;;
  *)
    echo "usage: servers.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
