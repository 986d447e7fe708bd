#!/usr/bin/env bash
# The README's main command: installs what is missing, builds, and shows the launcher working end
# to end under Wine in a prefix of its own (build/demo-prefix):
#   1. publishes the sample loader library (zip with a password) with velmor-pack;
#   2. starts the reference configuration server on 127.0.0.1 (throttled, so the percentage shows);
#   3. puts a copy of velmor.exe in build/demo/run with a ".Proxy" file naming that server, and
#      runs its setup actions (shortcuts, uninstall information);
#   4. starts it: splash bar, configuration, download, unpacking, the workbench window; screenshots
#      of the splash during the download and of the workbench go to build/demo/screenshots;
#   5. starts it again: the configuration is answered 304 and the installed library is used;
#   6. prints the requests served, the files written, the exit codes, and start-up times.
# With a real $DISPLAY the windows show there; otherwise on a virtual one.
# --sign: the same with a signed configuration. A demo key (build/demo-signing-key.pem, made once
# with velmor-pack keygen) signs the publication, and the launcher is a second build of velmor.exe
# (build/demo-signed, tests off) with VELMOR_CONFIG_PUBLIC_KEY set to its public key.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}
DEMO="$BUILD_DIR/demo"
SIGNED_BUILD_DIR="$BUILD_DIR/demo-signed"
DEMO_KEY="$BUILD_DIR/demo-signing-key.pem"
signed=
case "${1:-}" in
  --sign) signed=1 ;;
  "") ;;
  *) echo "usage: demo.sh [--sign]" >&2; exit 2 ;;
esac
source "$ROOT/scripts/shell-helpers.sh"

# The demo key's public half is kept beside it: the signed build is configured with it.
build_signed_launcher() {
  if [ ! -f "$DEMO_KEY.public" ]; then
    rm -f "$DEMO_KEY"
    "$ROOT/scripts/wine-run.sh" "$BUILD_DIR/wineprefix" "$BUILD_DIR/bin/velmor-pack.exe" keygen \
      --out "$(windows_path "$DEMO_KEY")" | tr -d '\r' > "$DEMO_KEY.public"
  fi
  cmake -S "$ROOT" -B "$SIGNED_BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELMOR_BUILD_TESTS=OFF \
    -DVELMOR_CONFIG_PUBLIC_KEY="$(cat "$DEMO_KEY.public")" >/dev/null
  cmake --build "$SIGNED_BUILD_DIR" --target velmor
}

if [ -z "${VELMOR_DEMO_DISPLAY:-}" ]; then
  bash "$ROOT/scripts/build.sh"
  [ -z "$signed" ] || build_signed_launcher
  export VELMOR_DEMO_DISPLAY=1
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
  fi
fi

export WINE_PREFIX_DIR="$BUILD_DIR/demo-prefix"
source "$ROOT/scripts/wine-env.sh"
velmor_prefix_ready
run() { "$ROOT/scripts/wine-run.sh" "$WINE_PREFIX_DIR" "$@"; }

rm -rf "$DEMO"
mkdir -p "$DEMO/run/velmor files" "$DEMO/screenshots"
echo "== 1. Publishing the sample loader library${signed:+, signed}"
signing=()
[ -z "$signed" ] || signing=(--sign "$DEMO_KEY")
VELMOR_BUILD_DIR="$BUILD_DIR" bash "$ROOT/tools/config-server/publish-sample.sh" "$DEMO/publish" "${signing[@]}" \
  | tr -d '\r'

echo "== 2. Starting the configuration server"
python3 "$ROOT/tools/config-server/config_server.py" --publish "$DEMO/publish" --port 0 \
  --port-file "$DEMO/port" --log "$DEMO/requests.log" --slow-bytes-per-second 60000 >"$DEMO/server.out" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$DEMO/port" ] && break; sleep 0.1; done
port=$(cat "$DEMO/port")
echo "   http://127.0.0.1:$port/ serving $DEMO/publish"

echo "== 3. A launcher copy with its proxy file, and its setup actions"
exe="$DEMO/run/velmor.exe"
if [ -n "$signed" ]; then
  cp "$SIGNED_BUILD_DIR/bin/velmor.exe" "$exe"
  echo "   velmor.exe built with VELMOR_CONFIG_PUBLIC_KEY=$(cat "$DEMO_KEY.public")"
else
  cp "$BUILD_DIR/bin/velmor.exe" "$exe"
fi
printf '127.0.0.1\r\n%s' "$port" > "$exe.Proxy"
code=0
run "$exe" /config /DesktopShortcut_Add /StartMenuShortcut_Add /SetupInfo_Add || code=$?
echo "   velmor.exe /config ... exit code $code"

echo "== 4. First start: download, unpack, load, hand over"
export VELMOR_LOADER_AUTOCLOSE_MS=4000
run "$BUILD_DIR/bin/window-shot.exe" velmor_splash_wnd "$(windows_path "$DEMO/screenshots/splash-downloading.png")" 2500 \
  | tr -d '\r' &
splash_shot=$!
run "$BUILD_DIR/bin/window-shot.exe" velmor_main_wnd "$(windows_path "$DEMO/screenshots/workbench.png")" 1000 \
  | tr -d '\r' &
workbench_shot=$!
code=0
run "$exe" || code=$?
wait "$splash_shot" "$workbench_shot" || true
echo "   velmor.exe exit code $code"

echo "== 5. Second start: 304, the installed library"
export VELMOR_LOADER_AUTOCLOSE_MS=1
code=0
run "$exe" || code=$?
echo "   velmor.exe exit code $code"

echo "== 6. What happened"
echo "-- requests served"
sed 's/^/   /' "$DEMO/server.out"
echo "-- files in the data directory"
find "$DEMO/run/velmor files" -type f -printf '   %P (%s bytes)\n' | sort
echo "-- screenshots"
find "$DEMO/screenshots" -type f -printf '   %p\n' | sort

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN {printf "%.3f\n", e - s}'; }
# The median with its range; the two programs run in turn, so a drift of the machine moves both.
stats() { sort -n | awk '{v[NR] = $1} END {m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "%.2fs (%.2f to %.2f)", m, v[1], v[NR]}'; }
runs=${DEMO_RUNS:-7}
echo "-- start-up on the 304 path (the workbench closes at once), median of $runs runs each, in turn"
launcher_times=() trivial_times=() window_times=()
for _ in $(seq 1 "$runs"); do
  launcher_times+=("$(seconds run "$exe")")
  trivial_times+=("$(seconds run "$BUILD_DIR/bin/velmor-pack.exe" --help)")
  window_times+=("$(seconds run "$BUILD_DIR/bin/trivial_window.exe")")
done
launcher=$(printf '%s\n' "${launcher_times[@]}" | stats)
trivial=$(printf '%s\n' "${trivial_times[@]}" | stats)
window=$(printf '%s\n' "${window_times[@]}" | stats)
echo "   velmor.exe to the end of its start entry: $launcher; a trivial Windows program (velmor-pack --help): $trivial;"
echo "   a trivial window program (OLE and one popup, bench/TrivialWindow.cpp): $window"
ratio_of() { awk -v a="${1%%s*}" -v b="${2%%s*}" 'BEGIN {printf "%.2f", a / b}'; }
echo "   ratio_warm_start_to_trivial $(ratio_of "$launcher" "$trivial")"
echo "   ratio_warm_start_to_trivial_window $(ratio_of "$launcher" "$window")"
