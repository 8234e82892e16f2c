#!/usr/bin/env bash
# Remote support end to end (see support_e2e.py). Needs root for the private mount namespace.
# Usage: tests/e2e/support-e2e.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
out="${2:-$build/e2e-support}"
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! command -v Xvfb >/dev/null; then
  echo "needs root, unshare and Xvfb; skipped"
  exit 77
fi
# The agent directory is a mount point inside the namespace.
source "$here/../../scripts/mount-points.sh"
make_mount_point "/Library/Application Support/Pelk"
status=0
unshare -m --propagation private /usr/bin/python3 "$here/support_e2e.py" "$build" "$out" || status=$?
remove_mount_points
exit "$status"
