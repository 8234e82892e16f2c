#!/bin/sh
# Runs mutter_frame_bench in a headless Mutter 43 with a 2560x1440 virtual monitor, on a private
# session bus and runtime directory with PipeWire and WirePlumber started first.
#   bench/run-mutter-frame-bench.sh BUILD_DIR SCREEN.png
set -eu
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SCREEN.png" >&2; exit 2; }
if [ -z "${PELK_BENCH_BUS:-}" ]; then
  PELK_BENCH_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
bench=$(realpath "$1")/bench/mutter_frame_bench
png=$(realpath "$2")
run=$(mktemp -d)
export XDG_RUNTIME_DIR="$run"
unset DISPLAY WAYLAND_DISPLAY
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$run"' EXIT
pipewire >/dev/null 2>&1 &
while [ ! -e "$run/pipewire-0" ]; do sleep 0.1; done
wireplumber >/dev/null 2>&1 &
# Mutter runs the bench on its Xwayland; $PPID in that shell is Mutter.
mutter --headless --wayland --wayland-display pelk-bench --virtual-monitor 2560x1440 -- sh -c \
  "PELK_MUTTER_PID=\$PPID '$bench' '$png' >'$run/result' 2>&1; echo \$? >'$run/status'" >"$run/mutter.log" 2>&1 &
while [ ! -e "$run/status" ]; do sleep 0.5; done
cat "$run/result"
exit "$(cat "$run/status")"
