#!/usr/bin/env bash
# Runs one Windows program in a Wine prefix and exits with its exit code.
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]   (CTest's cross-compiling emulator)
#
# Wine's helper processes inherit the standard handles and would keep CTest's pipes open long
# after the program ends, so the program's output goes to files first and is printed after.
set -u
WINE_PREFIX_DIR=$(realpath -m "$1"); shift  # Wine wants an absolute prefix
source "$(dirname "$0")/wine-env.sh"
velmor_prefix_ready

# A warm wineserver saves the start-up of Wine's services for every program; it stays a little
# while after the last client so a whole test run shares it, then ends by itself.
wineserver -p30 >/dev/null 2>&1 || true

out=$(mktemp); err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"
cat "$err" >&2
exit $rc
