#!/usr/bin/env bash
# The README's picture of the splash bar: builds, then runs the splash test that captures the bar
# from the screen of a virtual X display and saves the capture as docs/splash.png.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}
OUTPUT="$ROOT/docs/splash.png"

bash "$ROOT/scripts/build.sh"
mkdir -p "$(dirname "$OUTPUT")"
rm -f "$OUTPUT"
# The Windows program sees the build machine's root as drive Z:.
export VELMOR_SPLASH_SCREENSHOT="Z:${OUTPUT//\//\\}"
xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/scripts/wine-run.sh" "$BUILD_DIR/wineprefix" \
  "$BUILD_DIR/bin/ui_tests.exe" --gtest_filter=SplashWindow.ShowsChineseStatusTextWithAPercentage
[ -s "$OUTPUT" ] || { echo "splash-screenshot: no picture was written" >&2; exit 1; }
echo "wrote $OUTPUT"
