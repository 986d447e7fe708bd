#!/usr/bin/env bash
# Benchmarks (figures, never pass/fail), each against a reference tool in the same run:
#   MD5 of a 256 MiB file against md5sum;
#   64 MiB downloads from loopback servers against curl and WinINet, chunked against plain,
#   https (TLS 1.2, AES-GCM) against curl, WinINet and our own http, gzip inflation against zcat,
#   and the peak memory of a download, over http and over https;
#   the configuration servers under a crowd of launchers (scripts/config-server-bench.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}
MD5_MIB=${MD5_BENCH_MIB:-256}
HTTP_MIB=${HTTP_BENCH_MIB:-64}

bash "$ROOT/scripts/build.sh"
data=$(mktemp -d)
servers="$data/servers"
trap 'bash "$ROOT/tests/net/servers/servers.sh" stop "$servers" 2>/dev/null || true; rm -rf "$data"' EXIT

source "$ROOT/scripts/shell-helpers.sh"
run_bench() { "$ROOT/scripts/wine-run.sh" "$BUILD_DIR/wineprefix" "$@" | tr -d '\r'; }
field() { awk -v key="$1" '$1 == key {print $2}'; }
elapsed() { # command...: wall seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", e - s}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# Times vary by up to 1.7 times between runs here: each is a median of RUNS runs, and the runs of
# the things compared alternate, so a drift of the machine moves them all alike.
RUNS=${BENCH_RUNS:-5}
declare -A STATS
stats() { # numbers, one per line: "median min max"
  sort -n | awk '{v[NR] = $1} END {m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f", m, v[1], v[NR]}'
}
alternate() { # measurement functions, each printing seconds: STATS[name] for each
  local i name
  declare -A runs
  for ((i = 0; i < RUNS; i++)); do
    for name in "$@"; do runs[$name]+="$("$name") "; done
  done
  for name in "$@"; do STATS[$name]=$(tr ' ' '\n' <<< "${runs[$name]}" | grep . | stats); done
}
median() { cut -d' ' -f1 <<< "${STATS[$1]}"; }
show() { # label, measurement
  read -r m lo hi <<< "${STATS[$2]}"
  printf '%-38s %ss median of %d (%s to %s)\n' "$1:" "$m" "$RUNS" "$lo" "$hi"
}
report() { # figure, label, our measurement, then each peer's measurement and name
  local figure=$1 label=$2 ours=$3
  shift 3
  show "$label, ours" "$ours"
  while [ $# -gt 1 ]; do
    show "$label, $2" "$1"
    echo "ratio_${figure}_ours_to_$2 $(ratio "$(median "$1")" "$(median "$ours")")"
    shift 2
  done
}

echo "== MD5, $MD5_MIB MiB"
head -c "$((MD5_MIB * 1024 * 1024))" /dev/urandom > "$data/sample.bin"
cat "$data/sample.bin" > /dev/null  # both runs read from the page cache
md5sum_seconds=$(elapsed md5sum "$data/sample.bin")
reference=$(md5sum "$data/sample.bin" | cut -d' ' -f1)
ours=$(run_bench "$BUILD_DIR/bin/md5_bench.exe" "$(windows_path "$data/sample.bin")")
echo "$ours"
[ "$(echo "$ours" | field digest)" = "$reference" ] || { echo "MD5 digest mismatch" >&2; exit 1; }
md5sum_rate=$(awk -v mib="$MD5_MIB" -v s="$md5sum_seconds" 'BEGIN {print mib / s}')
printf 'md5sum_mb_per_s %.1f\n' "$md5sum_rate"
echo "ratio_ours_to_md5sum $(ratio "$(echo "$ours" | field hash_mb_per_s)" "$md5sum_rate")"
rm -f "$data/sample.bin"

echo "== HTTP, $HTTP_MIB MiB"
bytes=$((HTTP_MIB * 1024 * 1024))
bash "$ROOT/tests/net/servers/servers.sh" start "$servers"
# This run's test root, trusted in the bench's prefix before any bench program starts.
source "$ROOT/tests/net/tls/trust.sh"
trust_test_root "$BUILD_DIR/wineprefix" "$BUILD_DIR/bin/trust_root.exe" "$servers/tls/root.der" >/dev/null
www="$servers/www"
head -c "$bytes" /dev/urandom > "$www/plain.bin"
nginx_url="http://127.0.0.1:$(cat "$servers/nginx.port")"
test_url="http://127.0.0.1:$(cat "$servers/test.port")"

download() { # url, expected md5[, url downloaded first]: our seconds and peak memory
  local out
  out=$(run_bench "$BUILD_DIR/bin/http_bench.exe" get "$1" ${3:+"$3"})
  [ "$(echo "$out" | field digest)" = "$2" ] || { echo "download of $1 differs" >&2; exit 1; }
  echo "$out"
}
ours_seconds() { download "$@" | field seconds; }
peer_seconds() { # program, url, expected md5
  local out
  out=$(run_bench "$BUILD_DIR/bin/$1.exe" get "$2")
  [ "$(echo "$out" | field digest)" = "$3" ] || { echo "$1's download of $2 differs" >&2; exit 1; }
  echo "$out" | field seconds
}
curl_seconds() { curl -s -o /dev/null -w '%{time_total}' "$1"; }
# curl keeping the body, as our client must: written to a file in the page cache.
curl_stored_seconds() { curl -s -o "$data/curl.out" -w '%{time_total}' "$1"; rm -f "$data/curl.out"; }

plain_md5=$(md5sum "$www/plain.bin" | cut -d' ' -f1)
curl_seconds "$nginx_url/plain.bin" >/dev/null  # warm the page cache
# Each time below is the median of $RUNS runs of ours and of the peers in turn, with its range.
ours_plain() { ours_seconds "$nginx_url/plain.bin" "$plain_md5"; }
wininet_plain() { peer_seconds wininet_bench "$nginx_url/plain.bin" "$plain_md5"; }
winhttp_plain() { peer_seconds winhttp_bench "$nginx_url/plain.bin" "$plain_md5"; }
curl_plain() { curl_seconds "$nginx_url/plain.bin"; }
curl_stored_plain() { curl_stored_seconds "$nginx_url/plain.bin"; }
alternate ours_plain wininet_plain winhttp_plain curl_plain curl_stored_plain
report throughput "nginx plain" ours_plain wininet_plain wininet winhttp_plain winhttp curl_plain curl \
  curl_stored_plain curl_storing
ours_plain_run=$(download "$nginx_url/plain.bin" "$plain_md5")
echo "nginx plain, ours: $(echo "$ours_plain_run" | field receive_seconds)s of $(echo "$ours_plain_run" | field seconds)s" \
  "receiving the response, the rest taking the body out of it"
# What a download made the process commit and touch at its worst, beyond what it had before, per
# byte of body: name prefix, http_bench's output.
memory_over_file_size() {
  local out=$2
  echo "${1}peak_memory_over_file_size $(awk -v p="$(echo "$out" | field peak_private_bytes)" \
    -v b="$(echo "$out" | field private_bytes_before)" -v n="$bytes" 'BEGIN {printf "%.2f", (p - b) / n}')"
  echo "${1}peak_resident_over_file_size $(awk -v p="$(echo "$out" | field peak_working_set)" \
    -v b="$(echo "$out" | field working_set_before)" -v n="$bytes" 'BEGIN {printf "%.2f", (p - b) / n}')"
}
memory_over_file_size "" "$ours_plain_run"

# The same file over https from nginx-tls12 (TLS 1.2 only, ECDHE AES-128-GCM), at localhost, the
# name the run's certificate carries; every client checks it against the run's root.
https_base="https://localhost:$(awk '$1 == "nginx-tls12" {print $2}' "$servers/servers.txt")"
https_url="$https_base/plain.bin"
curl_https_check=$(curl -s --cacert "$servers/tls/root.pem" "$https_url" | md5sum | cut -d' ' -f1)
[ "$curl_https_check" = "$plain_md5" ] || { echo "curl https download differs" >&2; exit 1; }
ours_https() { ours_seconds "$https_url" "$plain_md5"; }
wininet_https() { peer_seconds wininet_bench "$https_url" "$plain_md5"; }
winhttp_https() { peer_seconds winhttp_bench "$https_url" "$plain_md5"; }
curl_https() { curl -s --cacert "$servers/tls/root.pem" -o "$data/curl.out" -w '%{time_total}' "$https_url"; }
alternate ours_https wininet_https winhttp_https curl_https
rm -f "$data/curl.out"
report https_throughput "nginx https" ours_https wininet_https wininet winhttp_https winhttp curl_https curl_storing
echo "ratio_throughput_ours_https_to_ours_http $(ratio "$(median ours_plain)" "$(median ours_https)")"
memory_over_file_size https_ "$(download "$https_url" "$plain_md5")"
# The same download after one of a single byte in the same process: what a first handshake costs
# whatever the size (Wine loads its TLS stack, crypt32 reads the Root store), and what the body
# then adds to the memory.
printf x > "$www/one-byte.txt"
ours_https_warm=$(download "$https_url" "$plain_md5" "$https_base/one-byte.txt")
echo "nginx https: ours $(echo "$ours_https_warm" | field seconds)s after a first download of one byte" \
  "($(echo "$ours_https_warm" | field first_seconds)s)"
echo "ratio_throughput_ours_https_after_first_download_to_ours_http" \
  "$(ratio "$(median ours_plain)" "$(echo "$ours_https_warm" | field seconds)")"
memory_over_file_size https_after_first_download_ "$ours_https_warm"

pattern_md5=$(python3 -c "
import hashlib, sys
sys.path.insert(0, '$ROOT/tests/net/servers')
import http_test_server
print(hashlib.md5(http_test_server.pattern($bytes)).hexdigest())")
# The server builds each body once; the first requests only warm it.
curl_seconds "$test_url/bytes?n=$bytes" >/dev/null
curl_seconds "$test_url/chunked?n=$bytes&chunk=8192" >/dev/null
ours_length() { ours_seconds "$test_url/bytes?n=$bytes" "$pattern_md5"; }
ours_chunked() { ours_seconds "$test_url/chunked?n=$bytes&chunk=8192" "$pattern_md5"; }
curl_length() { curl_seconds "$test_url/bytes?n=$bytes"; }
curl_chunked() { curl_seconds "$test_url/chunked?n=$bytes&chunk=8192"; }
alternate ours_length ours_chunked curl_length curl_chunked
show "test server plain, ours" ours_length
show "test server chunked (8 KiB), ours" ours_chunked
show "test server plain, curl" curl_length
show "test server chunked (8 KiB), curl" curl_chunked
echo "ratio_chunked_to_plain_time $(ratio "$(median ours_chunked)" "$(median ours_length)")"
echo "ratio_chunked_to_plain_time_curl $(ratio "$(median curl_chunked)" "$(median curl_length)")"
memory_over_file_size chunked_ "$(download "$test_url/chunked?n=$bytes&chunk=8192" "$pattern_md5")"

python3 -c "
import sys
line = b'Velmor benchmark text, a line of compressible words and numbers %08d.\n'
out = bytearray()
i = 0
while len(out) < $bytes:
    out += line % i
    i += 1
sys.stdout.buffer.write(bytes(out[:$bytes]))" > "$data/text.txt"
gzip -c "$data/text.txt" > "$data/text.gz"
text_md5=$(md5sum "$data/text.txt" | cut -d' ' -f1)
zcat_seconds=$(elapsed zcat "$data/text.gz")
inflated=$(run_bench "$BUILD_DIR/bin/http_bench.exe" inflate "$(windows_path "$data/text.gz")")
[ "$(echo "$inflated" | field digest)" = "$text_md5" ] || { echo "inflation differs" >&2; exit 1; }
ours_inflate=$(echo "$inflated" | field seconds)
echo "gzip ($(stat -c %s "$data/text.gz") bytes): zcat ${zcat_seconds}s, ours ${ours_inflate}s"
echo "ratio_inflate_speed_ours_to_zcat $(ratio "$zcat_seconds" "$ours_inflate")"

bash "$ROOT/scripts/config-server-bench.sh"
