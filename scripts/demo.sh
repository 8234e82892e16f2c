#!/usr/bin/env bash
# Builds Pelk Agent and runs it against the agent simulator, so a person can watch it work.
#
#   scripts/demo.sh [--skip-build] [--xvfb] [--duration SECONDS]
#
# The application reads the agent's files from "/Library/Application Support/Pelk" and runs
# the device helper from /usr/local/libexec. The demo never touches the real ones: the
# simulator and the application run in a private mount namespace where temporary
# directories are bind-mounted over both paths. Mount points that do not exist on this
# machine are created for the run and removed again on exit (nothing else is created).
#
#   --skip-build        use what build-demo/ already holds
#   --xvfb              run on a private virtual display even when $DISPLAY is set
#   --duration SECONDS  stop by itself after that long (default: run until Ctrl-C)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-demo"
agent_dir="/Library/Application Support/Pelk"
libexec_dir="/usr/local/libexec"
demo_pin="123456"

skip_build=0
force_xvfb=0
duration=""
while [ $# -gt 0 ]; do
  case "$1" in
    --skip-build) skip_build=1 ;;
    --xvfb) force_xvfb=1 ;;
    --duration) duration="${2:?--duration needs a number of seconds}"; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { printf '\033[1m[demo]\033[0m %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  say "The demo needs root: it bind-mounts a temporary agent directory over"
  say "\"$agent_dir\" inside a private mount namespace, so the real"
  say "one (if any) is never touched and nothing is left behind."
  if command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
    say "Re-running through sudo..."
    # Root needs the user's X cookie to open windows on the user's display.
    if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
      export XAUTHORITY="$HOME/.Xauthority"
    fi
    exec sudo --preserve-env=DISPLAY,XAUTHORITY "$0" "$@"
  fi
  say "Run it as root, or with: sudo scripts/demo.sh"
  exit 1
fi

if [ "$skip_build" -eq 0 ]; then
  say "Installing build dependencies (apt-get; quiet when already there)..."
  "$root/scripts/install-deps.sh"
  say "Configuring and building (Release) in build-demo/..."
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELK_BUILD_TESTS=OFF >/dev/null
  ninja -C "$build" -j "${PELK_JOBS:-$(nproc)}" pelk-agent agent-sim fake-device-helper
fi
app="$build/src/pelk-agent"
sim="$build/tools/agent-sim/agent-sim"
helper="$build/tools/agent-sim/fake-device-helper"
for f in "$app" "$sim" "$helper"; do
  [ -x "$f" ] || { say "missing $f: run without --skip-build"; exit 1; }
done

tmp="$(mktemp -d /tmp/pelk-demo.XXXXXX)"
source "$root/scripts/mount-points.sh"
xvfb_pid=""
shot_pid=""
ns_pid=""

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e # every step below must run, whatever the one before it returned
  [ -n "$ns_pid" ] && kill -TERM "$ns_pid" 2>/dev/null && wait "$ns_pid" 2>/dev/null
  if [ -n "$shot_pid" ]; then
    pkill -P "$shot_pid" 2>/dev/null # its sleep
    kill "$shot_pid" 2>/dev/null && wait "$shot_pid" 2>/dev/null
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  local had_mount_points=${#created_mount_points[@]}
  remove_mount_points
  rm -rf "$tmp"
  say "Stopped. Removed the temporary files$([ "$had_mount_points" -gt 0 ] && echo " and the mount points created for the run")."
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

make_mount_point "$agent_dir"
make_mount_point "$libexec_dir"

mkdir -m 0755 "$tmp/agent" "$tmp/libexec"
cp "$helper" "$tmp/libexec/pelk-device-helper"

if [ -z "${DISPLAY:-}" ] || [ "$force_xvfb" -eq 1 ]; then
  say "No display to use: starting a private Xvfb."
  # Its own session, so that Ctrl-C does not take the display away before the application ends.
  setsid Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  [ -s "$tmp/display" ] || { say "Xvfb did not start"; exit 1; }
  export DISPLAY=":$(head -n1 "$tmp/display")"
  unset XAUTHORITY
  shot="$build/demo-screen.png"
  # Nobody can look at a virtual display, so take a picture of it now and then.
  ( sleep 14; while :; do import -display "$DISPLAY" -window root "$shot.tmp.png" 2>/dev/null \
      && mv "$shot.tmp.png" "$shot"; sleep 10; done ) 2>/dev/null &
  shot_pid=$!
  say "Running on virtual display $DISPLAY; a screenshot is saved every 10 s to $shot"
else
  say "Running on your display $DISPLAY."
fi

cat >"$tmp/inside.sh" <<'INSIDE'
set -euo pipefail
mount --bind "$DEMO_TMP/agent" "$DEMO_AGENT_DIR"
mount --bind "$DEMO_TMP/libexec" "$DEMO_LIBEXEC_DIR"

"$DEMO_SIM" --dir "$DEMO_AGENT_DIR" --scenario demo --pin "$DEMO_PIN" --telemetry-uid "$(id -u)" \
  >"$DEMO_TMP/ready" &
sim=$!
for _ in $(seq 100); do [ -s "$DEMO_TMP/ready" ] && break; sleep 0.1; done
ready="$(head -n1 "$DEMO_TMP/ready")"
[ -n "$ready" ] || { echo "[demo] the agent simulator did not start" >&2; exit 1; }
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$ready" "$1"; }
control="http://127.0.0.1:$(field control_port)/control"

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$DEMO_TMP/runtime"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
fi
# Without a session bus Qt would autolaunch one that outlives the demo; give it a private one.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  dbus-run-session -- "$DEMO_APP" &
else
  "$DEMO_APP" &
fi
app=$!
# Ending the application (not dbus-run-session) lets dbus-run-session take its bus down too.
stop() { { pkill -TERM -P "$app" -x pelk-agent || kill "$app"; kill "$sim"; wait; } 2>/dev/null || true; }
trap stop EXIT
trap 'exit 0' INT TERM

cat <<EOF
[demo] Agent simulator: local API $(field base_url), state files in "$DEMO_AGENT_DIR"
       (inside this demo only; really $DEMO_TMP/agent).
[demo] Pelk Agent is running. What happens next:
         now      the agent reports "connected" (status menu and setup window)
         ~8 s     the agent locks the computer with a message; PIN: $DEMO_PIN
         unlock   a view-only remote support offer, then a restart notice, then the lock again
[demo] Drive the simulator yourself:
         curl -s -X POST $control/unlock
         curl -s -X POST $control/lock -d '{"message":"Locked by IT"}'
         curl -s -X POST $control/offer -d '{"technician":"Sam","mode":"view"}'
         curl -s $control/requests
[demo] Stop with Ctrl-C.
EOF

waitees=("$app" "$sim")
if [ -n "${DEMO_DURATION:-}" ]; then
  sleep "$DEMO_DURATION" &
  waitees+=($!)
fi
set +e
wait -n "${waitees[@]}"
set -e
if ! kill -0 "$app" 2>/dev/null; then
  status=0
  wait "$app" || status=$?
  echo "[demo] Pelk Agent exited with status $status." >&2
fi
INSIDE

say "Starting the agent simulator and Pelk Agent in a private mount namespace..."
DEMO_TMP="$tmp" DEMO_AGENT_DIR="$agent_dir" DEMO_LIBEXEC_DIR="$libexec_dir" DEMO_SIM="$sim" DEMO_APP="$app" \
  DEMO_PIN="$demo_pin" DEMO_DURATION="$duration" \
  unshare --mount --propagation private bash "$tmp/inside.sh" &
ns_pid=$!
set +e
wait "$ns_pid"
set -e
ns_pid=""
