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
# The office proxy (squid.sh, one squid with three ports): "squid" is open, "squid-basic" asks for
# Basic credentials (agent, agent-password), "squid-ntlm" for NTLM (any user). Each caches in memory
# as the headers allow, sends plain http for any host to "nginx" and CONNECT to "https-proxy".
# "pac" serves STATE_DIR/pac/proxy.pac: config.DOMAIN through "squid", every other host direct.
# Every server logs each request as one JSON line to STATE_DIR/<name>.log (https-proxy: a text
# line; the squid ports: their own JSON fields, see squid.sh).
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
E2E=$(cd "$(dirname "$0")" && pwd)
SQUID_PORTS=(squid squid-basic squid-ntlm)
declare -A squid_port
# The sample package (about 280 KB) then takes about three seconds.
SLOW_BYTES_PER_SECOND=100000

# Starts in the background what writes its port file once it listens; wait_for_ports waits.
start_server() { # name, extra switches...
  local name=$1
  shift
  python3 "$SERVER" --port 0 --port-file "$STATE/$name.port" \
    --log "$STATE/$name.log" "$@" >"$STATE/$name.out" 2>&1 &
  echo $! > "$STATE/$name.pid"
}

wait_for_ports() { # names...
  local name
  for name in "$@"; do
    wait_for_port_file "$STATE/$name.port" "$name"
  done
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

# config.DOMAIN through the open proxy port; loopback and everything else direct.
write_pac() { # squid port
  mkdir -p "$STATE/pac"
  cat > "$STATE/pac/proxy.pac" <<PAC
function FindProxyForURL(url, host) {
  if (host == "config.$DOMAIN")
    return "PROXY 127.0.0.1:$1";
  return "DIRECT";
}
PAC
}

start_squid() {
  local name
  bash "$E2E/squid.sh" "$STATE/squid" "$(cat "$STATE/nginx.port")" "$(cat "$STATE/https-proxy.port")" \
    "${squid_port[squid]}" "${squid_port[squid-basic]}" "${squid_port[squid-ntlm]}"
  for name in "${SQUID_PORTS[@]}"; do
    ln -s "squid/$name.log" "$STATE/$name.log"
  done
  command -v squid >/dev/null || PATH=$PATH:/usr/sbin
  squid -N -f "$STATE/squid/squid.conf" >"$STATE/squid.out" 2>&1 &
  echo $! > "$STATE/squid.pid"
}

# squid says in its cache.log when each port accepts; then its port file is written.
wait_for_squid() {
  local name pending
  for _ in $(seq 1 100); do
    pending=0
    for name in "${SQUID_PORTS[@]}"; do
      [ -s "$STATE/$name.port" ] && continue
      if grep -q "Accepting HTTP Socket connections .*local=127.0.0.1:${squid_port[$name]} " \
        "$STATE/squid/cache.log" 2>/dev/null; then
        echo "${squid_port[$name]}" > "$STATE/$name.port"
      else
        pending=1
      fi
    done
    [ "$pending" = 0 ] && return 0
    kill -0 "$(cat "$STATE/squid.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "squid did not start; see $STATE/squid/cache.log" >&2
  return 1
}

case $ACTION in
  start)
    [ -n "$DOMAIN" ] || { echo "usage: servers.sh start STATE_DIR DOMAIN" >&2; exit 2; }
    [ -d "$STATE" ] && stop_recorded_servers
    rm -rf "$STATE"
    mkdir -p "$STATE/publish" "$STATE/site"
    command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
    # Everything that does not need another server's port starts at once, and the waits come
    # last: on a slow machine each Python start-up alone takes a good part of a second.
    bash "$TLS/make-certs.sh" "$STATE/tls" "config.$DOMAIN" &
    certs=$!
    start_server normal --publish "$STATE/publish"
    start_server failing --publish "$STATE/publish" --fail-first 4
    start_server broken --publish "$STATE/publish" --fail-first 1000000000
    start_server site --site "$STATE/site"
    start_server site-slow --site "$STATE/site" --slow-bytes-per-second "$SLOW_BYTES_PER_SECOND"
    mapfile -t ports < <(free_port "${#SQUID_PORTS[@]}")
    for i in "${!SQUID_PORTS[@]}"; do
      squid_port[${SQUID_PORTS[$i]}]=${ports[$i]}
    done
    write_pac "${squid_port[squid]}"
    python3 "$E2E/pac_server.py" "$STATE/pac" --port-file "$STATE/pac.port" --log "$STATE/pac.log" \
      >"$STATE/pac.out" 2>&1 &
    echo $! > "$STATE/pac.pid"
    start_nginx nginx "$STATE/site"
    start_nginx nginx-slow "$STATE/site" --limit-rate "$SLOW_BYTES_PER_SECOND"
    wait "$certs"
    start_nginx nginx-https "$STATE/site-https" --tls "$STATE/tls/good.pem" "$STATE/tls/good.key"
    python3 "$TLS/connect_proxy.py" "$STATE/https-proxy.port" --log "$STATE/https-proxy.log" \
      --map "config.$DOMAIN:443=127.0.0.1:$(cat "$STATE/nginx-https.port")" >"$STATE/https-proxy.out" 2>&1 &
    echo $! > "$STATE/https-proxy.pid"
    wait_for_ports https-proxy
    start_squid
    wait_for_ports normal failing broken site site-slow pac
    wait_for_squid
    ;;
  stop)
    stop_recorded_servers
    ;;
  *)
    echo "usage: servers.sh start STATE_DIR DOMAIN | stop STATE_DIR" >&2
    exit 2
    ;;
esac
