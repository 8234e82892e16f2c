#!/usr/bin/env bash
# Remote support end to end (see support_e2e.py). Needs root for the private mount namespace.
# Usage: tests/e2e/support-e2e.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! command -v Xvfb >/dev/null; then
  echo "needs root, unshare and Xvfb; skipped"
  exit 77
fi
exec /usr/bin/python3 "$here/support_e2e.py" "$build" "${2:-$build/e2e-support}"
