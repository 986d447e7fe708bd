#!/usr/bin/env bash
# The README's demo command: installs what is missing, builds, and starts velmor.exe under Wine
# in a prefix of its own (build/demo-prefix), then shows what the start-up did.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}

bash "$ROOT/scripts/build.sh"
export WINE_PREFIX_DIR="$BUILD_DIR/demo-prefix"
source "$ROOT/scripts/wine-env.sh"
velmor_prefix_ready

documents="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
echo "== Starting velmor.exe (prefix $WINEPREFIX)"
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/scripts/wine-run.sh" "$WINE_PREFIX_DIR" "$BUILD_DIR/bin/velmor.exe" "$@"
code=$?
set -e
echo "== velmor.exe exited with code $code"
if [ -d "$documents/velmor files" ]; then
  echo "== Data directory: $documents/velmor files"
  find "$documents/velmor files" | sed "s|^$documents/||"
else
  echo "== No data directory in $documents"
fi
