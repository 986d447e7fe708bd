#!/usr/bin/env bash
# Trusts a TLS test root in a Wine prefix: runs trust_root.exe there, in a process of its own,
# before the programs that must trust it start (a process reads the Root store once).
# Source it and call trust_test_root, or run it with the same arguments:
#   trust.sh PREFIX_DIR TRUST_ROOT_EXE CERT_FILE   (CERT_FILE: DER or PEM, a Unix path)
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/shell-helpers.sh"
VELMOR_WINE_RUN=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../scripts" && pwd)/wine-run.sh

trust_test_root() { # prefix dir, trust_root.exe, certificate file
  bash "$VELMOR_WINE_RUN" "$1" "$2" "$(windows_path "$3")"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  trust_test_root "$@"
fi
