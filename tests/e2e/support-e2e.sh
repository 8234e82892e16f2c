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
# The agent directory is a mount point inside the namespace: create only the parts of its
# path that are missing, and remove exactly those afterwards.
created=()
part=""
IFS=/ read -ra parts <<<"Library/Application Support/Pelk"
for name in "${parts[@]}"; do
  part="$part/$name"
  if [ ! -e "$part" ]; then
    mkdir "$part"
    created+=("$part")
  fi
done
status=0
unshare -m --propagation private /usr/bin/python3 "$here/support_e2e.py" "$build" "$out" || status=$?
for ((i = ${#created[@]} - 1; i >= 0; i--)); do rmdir "${created[$i]}" 2>/dev/null || true; done
exit "$status"
