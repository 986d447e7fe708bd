#!/usr/bin/env bash
# The README's demo command: installs what is missing, builds, and shows what velmor.exe does
# today, under Wine in a prefix of its own (build/demo-prefix): the setup actions (shortcuts and
# uninstall information), then a normal start with the first-run question already settled.
# With a real $DISPLAY the windows show there; otherwise on a virtual one.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}

bash "$ROOT/scripts/build.sh"
export WINE_PREFIX_DIR="$BUILD_DIR/demo-prefix"
source "$ROOT/scripts/wine-env.sh"
velmor_prefix_ready

profile="$WINEPREFIX/drive_c/users/$(id -un)"
display=(xvfb-run -a -s "-screen 0 1280x1024x24")
[ -n "${DISPLAY:-}" ] && display=()
velmor() {
  echo "== velmor.exe $*"
  local code=0
  "${display[@]}" "$ROOT/scripts/wine-run.sh" "$WINE_PREFIX_DIR" "$BUILD_DIR/bin/velmor.exe" "$@" || code=$?
  echo "   exit code $code"
}

velmor /config /DesktopShortcut_Add /StartMenuShortcut_Add /SetupInfo_Add
echo "== Shortcuts"
find "$profile/Desktop" "$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" -name '*.lnk' \
  | sed "s|^$profile/||"
echo "== Uninstall information"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Velmor' 2>/dev/null \
  | iconv -f gbk -t utf-8 -c | tr -d '\r' | sed '/^$/d'

# The /config start created setup.ini, so this start asks nothing.
velmor
echo "== Data directory"
find "$profile/Documents/velmor files" | sed "s|^$profile/||"
