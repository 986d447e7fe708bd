#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, and runs every test under Wine
# (32-bit prefix, code page 936) with a virtual X display for the window tests.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}

bash "$ROOT/scripts/build.sh"
cd "$BUILD_DIR"
# The first test creates the Wine prefix; do it here so its minute is not charged to one test.
WINE_PREFIX_DIR="$BUILD_DIR/wineprefix" bash -c 'source "$0"; velmor_prefix_ready' "$ROOT/scripts/wine-env.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --parallel "$(nproc)" "$@"
