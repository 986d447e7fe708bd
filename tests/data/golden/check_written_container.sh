#!/usr/bin/env bash
# Writes a container with velmor-pack and checks it with the independent Python reading.
# Usage: check_written_container.sh WINE_RUN PREFIX VELMOR_PACK CONTAINER_PY
set -euo pipefail
wine_run=$1 prefix=$2 pack=$3 checker=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 70000 /dev/urandom > "$work/loader.dll"
printf '[{"hello":"\\u4e16\\u754c"}]\n' > "$work/data.txt"
windows() { echo "Z:${1//\//\\}"; }
password=5c0e9d27a4f1b83e6d92c7a0b4e5f816
"$wine_run" "$prefix" "$pack" pack --out "$(windows "$work/out.db")" "$(windows "$work/loader.dll")" "$(windows "$work/data.txt")"
python3 "$checker" check "$work/out.db" "$password" \
  "loader.dll=$(md5sum < "$work/loader.dll" | cut -d' ' -f1)" "data.txt=$(md5sum < "$work/data.txt" | cut -d' ' -f1)"
"$wine_run" "$prefix" "$pack" pack --password "" --out "$(windows "$work/plain.zip")" "$(windows "$work/loader.dll")"
python3 "$checker" check "$work/plain.zip" "" "loader.dll=$(md5sum < "$work/loader.dll" | cut -d' ' -f1)"
