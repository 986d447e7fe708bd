# Shared by the test harness scripts that start loopback servers (sourced, not run). Each server
# started in the background records its PID in "$STATE/<name>.pid"; stopping ends exactly those.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/shell-helpers.sh"

# Ends every process a *.pid file in $STATE names, and waits up to 5 s until they are gone: squid
# takes a second or two to exit, and a start right after must not meet the servers before.
stop_recorded_servers() {
  local pidfile pids=()
  for pidfile in "$STATE"/*.pid; do
    [ -f "$pidfile" ] || continue
    pids+=("$(cat "$pidfile")")
    kill "${pids[-1]}" 2>/dev/null || true
    rm -f "$pidfile"
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  for _ in $(seq 1 50); do
    kill -0 "${pids[@]}" 2>/dev/null || return 0  # true while any of them is left
    sleep 0.1
  done
}

# Waits up to 10 s for a server to write its port file.
wait_for_port_file() { # file, server name
  for _ in $(seq 1 100); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  echo "the $2 server did not start" >&2
  return 1
}
