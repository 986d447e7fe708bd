#!/usr/bin/env bash
# Starts or stops the configuration servers the launcher's end-to-end tests talk to, on loopback:
# "normal" answers everything, "failing" drops its first four requests (a network that comes back),
# "broken" drops every request (a network that stays down).
# Both serve STATE_DIR/publish, which the tests fill, and log every request as JSON lines.
#   servers.sh start STATE_DIR   writes STATE_DIR/<name>.port and STATE_DIR/<name>.log
#   servers.sh stop STATE_DIR    ends what start started, by its PIDs
set -euo pipefail
ACTION=$1
STATE=$2
source "$(dirname "$0")/../../server-processes.sh"
SERVER=$(cd "$(dirname "$0")/../../../tools/config-server" && pwd)/config_server.py

start_server() { # name, extra switches...
  local name=$1
  shift
  python3 "$SERVER" --publish "$STATE/publish" --port 0 --port-file "$STATE/$name.port" \
    --log "$STATE/$name.log" "$@" >"$STATE/$name.out" 2>&1 &
  echo $! > "$STATE/$name.pid"
  wait_for_port_file "$STATE/$name.port" "$name"
}

case $ACTION in
  start)
    [ -d "$STATE" ] && stop_recorded_servers
    rm -rf "$STATE"
    mkdir -p "$STATE/publish"
    start_server normal
    start_server failing --fail-first 4
    start_server broken --fail-first 1000000000
    ;;
  stop)
    stop_recorded_servers
    ;;
  *)
    echo "usage: servers.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
