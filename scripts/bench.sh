#!/usr/bin/env bash
# Benchmarks (figures, never pass/fail): MD5 throughput of our code under Wine against md5sum on
# the same 256 MiB file.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}
SIZE_MIB=${MD5_BENCH_MIB:-256}

bash "$ROOT/scripts/build.sh"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom > "$data/sample.bin"
cat "$data/sample.bin" > /dev/null  # both runs read from the page cache

start=$(date +%s.%N)
reference=$(md5sum "$data/sample.bin" | cut -d' ' -f1)
end=$(date +%s.%N)
md5sum_rate=$(awk -v mib="$SIZE_MIB" -v s="$start" -v e="$end" 'BEGIN {print mib / (e - s)}')

ours=$("$ROOT/scripts/wine-run.sh" "$BUILD_DIR/wineprefix" "$BUILD_DIR/bin/md5_bench.exe" 'Z:'"${data//\//\\}"'\sample.bin' | tr -d '\r')
echo "$ours"
digest=$(echo "$ours" | awk '/^digest/ {print $2}')
rate=$(echo "$ours" | awk '/^hash_mb_per_s/ {print $2}')
[ "$digest" = "$reference" ] || { echo "digest mismatch: md5sum $reference, ours $digest" >&2; exit 1; }
printf 'md5sum_mb_per_s %.1f\n' "$md5sum_rate"
awk -v ours="$rate" -v ref="$md5sum_rate" 'BEGIN {printf "ratio_ours_to_md5sum %.2f\n", ours / ref}'
