#!/usr/bin/env bash
# Installs what is missing (first run), then configures and builds everything into build/.
# In CI (CI=true) warnings in our own code are errors.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMOR_BUILD_DIR:-"$ROOT/build"}
if [ "${CI:-}" = true ]; then WERROR=ON; else WERROR=OFF; fi

bash "$ROOT/scripts/bootstrap.sh"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DVELMOR_WARNINGS_AS_ERRORS="$WERROR"
elif ! grep -qx "VELMOR_WARNINGS_AS_ERRORS:BOOL=$WERROR" "$BUILD_DIR/CMakeCache.txt"; then
  cmake -B "$BUILD_DIR" -DVELMOR_WARNINGS_AS_ERRORS="$WERROR"
fi
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
