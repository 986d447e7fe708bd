# Sourced by the scripts that run Windows programs: the environment of our Wine prefixes.
# Usage: WINE_PREFIX_DIR=... source wine-env.sh; velmor_prefix_ready
export WINEARCH=win32
export WINEPREFIX="${WINE_PREFIX_DIR:?}"
export WINEDEBUG=-all
# No .NET or Gecko installers, no desktop menu entries; VELMOR_DLL_OVERRIDES adds a test's own.
# Wine reads the overrides from the Unix environment a program starts with, so a Windows program
# cannot set them for the programs it starts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${VELMOR_DLL_OVERRIDES:+;$VELMOR_DLL_OVERRIDES}"
# The ANSI code page follows the locale: zh_CN gives 936 (GBK), as on our users' machines.
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

# Creates the prefix once, under a lock, so parallel test runs share one set-up.
velmor_prefix_ready() {
  local ready="$WINEPREFIX/.velmor-ready"
  [ -f "$ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$ready" ] && exit 0
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Windows work without $DISPLAY (null driver) and are not managed by a window manager.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -k || true
    wineserver -w
    # Wine links the user's shell folders to $HOME; tests must never write there.
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
      if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
    done
    # Windows profiles come with a quick-launch folder; Wine's has none.
    local profile
    for profile in "$WINEPREFIX"/drive_c/users/*/AppData/Roaming; do
      mkdir -p "$profile/Microsoft/Internet Explorer/Quick Launch"
    done
    touch "$ready"
  ) 9>"$WINEPREFIX.lock"
}
