#!/usr/bin/env bash
# Load figures of the configuration servers for a crowd of launchers (figures, never pass/fail),
# measured with wrk on loopback: the generated nginx site (one worker process) and the reference
# server, side by side, serving the same published site.
#   conditional GETs of loader.db that end in 304, and full 200 answers: requests per second, p99;
#   starts per second one nginx core absorbs: a start is one conditional GET of loader.db on a
#   connection of its own (the launcher opens one per start), so it is the 304 rate with
#   "Connection: close", divided by the share of one core the nginx worker used meanwhile.
# Usage: config-server-bench.sh   (BENCH_SECONDS, BENCH_CONNECTIONS to change the runs)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOLS=$ROOT/tools/config-server
source "$ROOT/scripts/shell-helpers.sh"
SECONDS_PER_FIGURE=${BENCH_SECONDS:-3}
CONNECTIONS=${BENCH_CONNECTIONS:-50}
command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
command -v wrk >/dev/null || { echo "config-server-bench: wrk is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
chmod 755 "$work"  # nginx started as root serves from workers running as nobody
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for_port() { # port
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  echo "config-server-bench: nothing listens on $1" >&2
  exit 1
}

# A site with a configuration and a package of the sample's sizes.
mkdir -p "$work/staging" "$work/site"
head -c 400 /dev/urandom > "$work/staging/loader.db"
head -c 280000 /dev/urandom > "$work/staging/loader.zip"
bash "$TOOLS/publish.sh" "$work/staging" "$work/site" >/dev/null
tag="\"$(md5sum "$work/staging/loader.db" | cut -d' ' -f1 | tr a-f A-F)\""

nginx_port=$(free_port)
bash "$TOOLS/nginx-site.sh" "$work/site" "$nginx_port" "$work/nginx/site.conf"
nginx -c "$work/nginx/site.conf" 2>"$work/nginx.err" &
pids+=($!)
python_port=$(free_port)
python3 "$TOOLS/config_server.py" --site "$work/site" --port "$python_port" >/dev/null 2>&1 &
pids+=($!)
wait_for_port "$nginx_port"
wait_for_port "$python_port"

for port in "$nginx_port" "$python_port"; do
  status=$(curl -s -o /dev/null -w '%{http_code}' -H "If-None-Match: $tag" "http://127.0.0.1:$port/loader.db")
  [ "$status" = 304 ] || { echo "config-server-bench: port $port answered $status, not 304" >&2; exit 1; }
done

# CPU seconds (user + system) of a process so far.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat"; }

# One wrk run: "rps p99 errors" (p99 in milliseconds; errors are socket errors and non-2xx/3xx).
measure() { # port, extra wrk arguments...
  local port=$1 out
  shift
  out=$(wrk -t2 -c"$CONNECTIONS" -d"${SECONDS_PER_FIGURE}s" --latency "$@" "http://127.0.0.1:$port/loader.db")
  echo "$out" | awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
    /^ +99%/ { p99 = ms($2) }
    /^Requests\/sec:/ { rps = $2 }
    /Socket errors:/ { for (i = 4; i <= NF; i += 2) errors += $i }
    /Non-2xx or 3xx responses:/ { errors += $NF }
    END { printf "%.0f %.2f %d\n", rps, p99, errors }'
}

row() { # label, port, wrk arguments...
  local label=$1 port=$2 figures
  shift 2
  figures=$(measure "$port" "$@")
  read -r rps p99 errors <<<"$figures"
  printf '%-34s %10s %10s %8s\n' "$label" "$rps" "$p99" "$errors"
}

echo "== configuration server load: wrk, $CONNECTIONS connections, ${SECONDS_PER_FIGURE}s per figure, $(nproc) cores"
printf '%-34s %10s %10s %8s\n' "" "req/s" "p99_ms" "errors"
row "nginx 304 (If-None-Match)" "$nginx_port" -H "If-None-Match: $tag"
row "python 304 (If-None-Match)" "$python_port" -H "If-None-Match: $tag"
row "nginx 200 (full loader.db)" "$nginx_port"
row "python 200 (full loader.db)" "$python_port"

# Starts: a connection per conditional GET, and the CPU the single nginx worker spent on them.
worker=$(ps -o pid= --ppid "${pids[0]}" | head -n 1 | tr -d ' ')
cpu_before=$(cpu_seconds "$worker")
started=$(date +%s.%N)
figures=$(measure "$nginx_port" -H "If-None-Match: $tag" -H "Connection: close")
ended=$(date +%s.%N)
cpu_after=$(cpu_seconds "$worker")
read -r starts p99 errors <<<"$figures"
share=$(awk -v a="$cpu_before" -v b="$cpu_after" -v s="$started" -v e="$ended" 'BEGIN {printf "%.2f", (b - a) / (e - s)}')
printf '%-34s %10s %10s %8s\n' "nginx 304, a connection per start" "$starts" "$p99" "$errors"
echo "nginx_worker_core_share $share"
echo "starts_per_second_per_nginx_core $(awk -v r="$starts" -v c="$share" 'BEGIN {printf "%.0f", (c > 0 ? r / c : 0)}')"
