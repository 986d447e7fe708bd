#!/usr/bin/env bash
# Starts or stops the configuration servers the launcher's end-to-end tests talk to, on loopback:
# "normal" answers everything, "failing" drops its first four requests (a network that comes back),
# "broken" drops every request (a network that stays down). They serve STATE_DIR/publish, which
# the tests fill.
# The deployment's servers serve the site folder STATE_DIR/site that publish.sh keeps: "nginx"
# (the generated nginx site) and "site" (the reference server), each also throttled to
# SLOW_BYTES_PER_SECOND for packages ("nginx-slow", "site-slow"). The nginx pid files for
# publish.sh's reload are STATE_DIR/<name>/site.pid.
# The https launcher's: "nginx-https" serves its own site folder STATE_DIR/site-https over TLS
# with this run's certificates (STATE_DIR/tls, for localhost and config.DOMAIN), which
# "https-proxy" reaches for CONNECT config.DOMAIN:443; the proxy logs one line per CONNECT.
# Every server logs each request as one JSON line to STATE_DIR/<name>.log.
#   servers.sh start STATE_DIR DOMAIN   writes STATE_DIR/<name>.port and STATE_DIR/<name>.log
#   servers.sh stop STATE_DIR    ends what start started, by its PIDs
set -euo pipefail
ACTION=$1
STATE=$2
DOMAIN=${3:-}  # the product domain: start only
source "$(dirname "$0")/../../server-processes.sh"
TLS=$(cd "$(dirname "$0")/../../net/tls" && pwd)
TOOLS=$(cd "$(dirname "$0")/../../../tools/config-server" && pwd)
SERVER=$TOOLS/config_server.py
# The sample package (about 280 KB) then takes about three seconds.
SLOW_BYTES_PER_SECOND=100000

start_server() { # name, extra switches...
  local name=$1
  shift
  python3 "$SERVER" --port 0 --port-file "$STATE/$name.port" \
    --log "$STATE/$name.log" "$@" >"$STATE/$name.out" 2>&1 &
  echo $! > "$STATE/$name.pid"
  wait_for_port_file "$STATE/$name.port" "$name"
}

start_nginx() { # name, site folder, extra switches of nginx-site.sh...
  local name=$1 site=$2 port
  shift 2
  port=$(free_port)
  bash "$TOOLS/nginx-site.sh" "$site" "$port" "$STATE/$name/site.conf" "$@"
  ln -s "$name/site.logs/access.log" "$STATE/$name.log"
  nginx -c "$STATE/$name/site.conf" >"$STATE/$name.out" 2>&1 &
  echo $! > "$STATE/$name.pid"
  # nginx writes its own pid file once it listens.
  for _ in $(seq 1 100); do
    [ -s "$STATE/$name/site.pid" ] && { echo "$port" > "$STATE/$name.port"; return 0; }
    sleep 0.1
  done
  echo "the $name server did not start" >&2
  return 1
}

case $ACTION in
  start)
    [ -n "$DOMAIN" ] || { echo "usage: servers.sh start STATE_DIR DOMAIN" >&2; exit 2; }
    [ -d "$STATE" ] && stop_recorded_servers
    rm -rf "$STATE"
    mkdir -p "$STATE/publish" "$STATE/site"
    command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
    start_server normal --publish "$STATE/publish"
    start_server failing --publish "$STATE/publish" --fail-first 4
    start_server broken --publish "$STATE/publish" --fail-first 1000000000
    start_server site --site "$STATE/site"
    start_server site-slow --site "$STATE/site" --slow-bytes-per-second "$SLOW_BYTES_PER_SECOND"
    start_nginx nginx "$STATE/site"
    start_nginx nginx-slow "$STATE/site" --limit-rate "$SLOW_BYTES_PER_SECOND"
    bash "$TLS/make-certs.sh" "$STATE/tls" "config.$DOMAIN"
    start_nginx nginx-https "$STATE/site-https" --tls "$STATE/tls/good.pem" "$STATE/tls/good.key"
    python3 "$TLS/connect_proxy.py" "$STATE/https-proxy.port" --log "$STATE/https-proxy.log" \
      --map "config.$DOMAIN:443=127.0.0.1:$(cat "$STATE/nginx-https.port")" >"$STATE/https-proxy.out" 2>&1 &
    echo $! > "$STATE/https-proxy.pid"
    wait_for_port_file "$STATE/https-proxy.port" https-proxy
    ;;
  stop)
    stop_recorded_servers
    ;;
  *)
    echo "usage: servers.sh start STATE_DIR DOMAIN | stop STATE_DIR" >&2
    exit 2
    ;;
esac
