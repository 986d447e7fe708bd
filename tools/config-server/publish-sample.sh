#!/usr/bin/env bash
# Builds a publish folder for config_server.py from the sample loader library: loader.db and the
# packed loader.dll, written by velmor-pack under Wine from a finished build.
# Usage: publish-sample.sh OUT_DIR [--pack zip|velmor] [--password P]
#                          [--sign KEY [--serial N] [--valid-days DAYS]]
#   OUT_DIR gets loader.db, its side file loader.db.release and the package named by its content,
#   loader-<16 digits of its SHA-256>.zip (or .vdb). The record's url names that file at
#   http://config.<product domain>/, which the server answers by its path.
#   --sign signs the configuration with KEY (PEM); the serial defaults to the current Unix time,
#   so a later publication never has a lower one, and it expires after DAYS (default 30).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}

[ $# -ge 1 ] || { sed -n '2,10p' "$0" >&2; exit 2; }
out=$1; shift
pack=zip
password=velmor-sample
key=
serial=$(date +%s)
valid_days=30
while [ $# -gt 0 ]; do
  case $1 in
    --pack) pack=$2; shift 2 ;;
    --password) password=$2; shift 2 ;;
    --sign) key=$2; shift 2 ;;
    --serial) serial=$2; shift 2 ;;
    --valid-days) valid_days=$2; shift 2 ;;
    *) echo "publish-sample: unknown switch $1" >&2; exit 2 ;;
  esac
done
case $pack in
  zip | velmor) ;;
  *) echo "publish-sample: --pack must be zip or velmor" >&2; exit 2 ;;
esac

library="$BUILD_DIR/bin/loader/loader.dll"
[ -f "$library" ] || { echo "publish-sample: build first (no $library)" >&2; exit 1; }
domain=$(sed -n 's/^VELMOR_PRODUCT_DOMAIN:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
mkdir -p "$out"

source "$ROOT/scripts/shell-helpers.sh"
signing=()
[ -z "$key" ] || signing=(--sign "$(windows_path "$key")" --serial "$serial" --valid-days "$valid_days")

"$ROOT/scripts/wine-run.sh" "$BUILD_DIR/wineprefix" "$BUILD_DIR/bin/velmor-pack.exe" config \
  --file "$(windows_path "$library")" --url "http://config.${domain:-velmor.example}/" \
  --pack "$pack" --password "$password" --desc "sample loader" --out "$(windows_path "$out/loader.db")" "${signing[@]}"
