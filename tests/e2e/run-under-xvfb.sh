#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display with a window manager, in a private mount namespace
# where the agent's directory is an empty temporary one, and cleans everything up.
#   run-under-xvfb.sh [--screens N] command args...
# The command sees DISPLAY, PELK_E2E_AGENT_DIR (the agent directory as the app reads it).
set -euo pipefail

agent_dir="/Library/Application Support/Pelk"

if [ "${PELK_E2E_IN_NAMESPACE:-}" != 1 ]; then
  # Re-enter in a private mount namespace so the real agent directory is never touched.
  # A mount point must exist: create only the missing parts of the path, and remove exactly
  # those afterwards (ctest runs these tests one at a time through a resource lock).
  source "$(dirname "$0")/../../scripts/mount-points.sh"
  make_mount_point "$agent_dir"
  status=0
  env PELK_E2E_IN_NAMESPACE=1 unshare --mount --propagation private "$0" "$@" || status=$?
  remove_mount_points
  exit "$status"
fi

screens=1
if [ "${1:-}" = "--screens" ]; then
  screens=$2
  shift 2
fi

work=$(mktemp -d /tmp/pelk-e2e.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  umount "$agent_dir" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/agent"
mount --bind "$work/agent" "$agent_dir"

# Two screens side by side as two Xinerama heads of one display when asked.
screen_args=(-screen 0 1280x800x24)
if [ "$screens" = 2 ]; then
  screen_args=(-screen 0 1280x800x24 -screen 1 1024x768x24 +xinerama)
fi
Xvfb -displayfd 5 -nolisten tcp "${screen_args[@]}" 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

openbox >"$work/wm.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done

export PELK_E2E_AGENT_DIR="$agent_dir"
export QT_QPA_PLATFORM=xcb
"$@"
