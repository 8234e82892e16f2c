#!/usr/bin/env bash
# Builds Pelk Agent and runs it against the agent simulator, so a person can watch it work.
#
#   scripts/demo.sh [--skip-build | --build DIR] [--xvfb] [--duration SECONDS] [--shots DIR]
#
# The application reads the agent's files from "/Library/Application Support/Pelk" and runs
# the device helper from /usr/local/libexec. The demo never touches the real ones: the
# simulator and the application run in a private mount namespace where temporary
# directories are bind-mounted over both paths. Mount points that do not exist on this
# machine are created for the run and removed again on exit (nothing else is created).
#
# On a virtual display nobody can type, so the demo drives itself through its story once
# (connected, locked, PIN, support offer, sharing, restart notice, locked again) and saves
# one screenshot per step. Ending it (time up, Ctrl-C, SIGTERM) unlocks through the
# simulator first, as the agent would, then ends the application and the simulator.
#
#   --skip-build        use what build-demo/ already holds
#   --build DIR         use the programs already built in DIR (e.g. build/ of scripts/test.sh)
#   --xvfb              run on a private virtual display even when $DISPLAY is set
#   --duration SECONDS  stop by itself after that long (default: run until Ctrl-C)
#   --shots DIR         where the virtual display's screenshots go (default: BUILD/demo-shots)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-demo"
agent_dir="/Library/Application Support/Pelk"
libexec_dir="/usr/local/libexec"
demo_pin="123456"

skip_build=0
force_xvfb=0
duration=""
shots=""
args=("$@") # for the re-run through sudo
while [ $# -gt 0 ]; do
  case "$1" in
    --skip-build) skip_build=1 ;;
    --build) build="$(cd "${2:?--build needs a directory}" && pwd)"; skip_build=1; shift ;;
    --xvfb) force_xvfb=1 ;;
    --duration) duration="${2:?--duration needs a number of seconds}"; shift ;;
    --shots) shots="${2:?--shots needs a directory}"; shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

[[ -z "$duration" || "$duration" =~ ^[0-9]+$ ]] || { echo "demo: --duration takes whole seconds" >&2; exit 2; }

if [ -t 1 ]; then
  say() { printf '\033[1m[demo]\033[0m %s\n' "$*"; }
else
  say() { printf '[demo] %s\n' "$*"; }
fi

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
    exec sudo --preserve-env=DISPLAY,XAUTHORITY "$0" "${args[@]}"
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
  [ -x "$f" ] || { say "missing $f: build it, or run without --skip-build/--build"; exit 1; }
done

tmp="$(mktemp -d /tmp/pelk-demo.XXXXXX)"
source "$root/scripts/mount-points.sh"
xvfb_pid=""
wm_pid=""
ns_pid=""

cleanup() {
  local status=$?
  # However often Ctrl-C is pressed now, the cleanup runs to its end (it takes a few seconds).
  trap '' INT TERM HUP
  trap - EXIT
  set +e # every step below must run, whatever the one before it returned
  if [ -n "$ns_pid" ]; then
    say "Stopping: the agent unlocks, then Pelk Agent and the simulator end..."
    kill -TERM "$ns_pid" 2>/dev/null && wait "$ns_pid" 2>/dev/null
  fi
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  local had_mount_points=${#created_mount_points[@]}
  remove_mount_points
  rm -rf "$tmp"
  say "Stopped. Removed the temporary files$([ "$had_mount_points" -gt 0 ] && echo " and the mount points created for the run")."
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The end-to-end tests bind-mount the same paths and remove the mount points they made: one
# run at a time on this machine, whichever tree it comes from.
exec 9>/tmp/pelk-e2e.lock
if ! flock -n 9; then
  say "Waiting for an end-to-end test run to finish (it uses the same agent directory)..."
  flock 9
fi
make_mount_point "$agent_dir"
make_mount_point "$libexec_dir"

mkdir -m 0755 "$tmp/agent" "$tmp/libexec"
cp "$helper" "$tmp/libexec/pelk-device-helper"

self_driving=0
if [ -z "${DISPLAY:-}" ] || [ "$force_xvfb" -eq 1 ]; then
  say "No display to use: starting a private Xvfb."
  # Its own session, so that Ctrl-C does not take the display away before the application ends.
  # No child keeps the lock's file open (9>&-): the lock ends with this script.
  setsid Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp -noreset 3>"$tmp/display" >/dev/null 2>&1 9>&- &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  [ -s "$tmp/display" ] || { say "Xvfb did not start"; exit 1; }
  export DISPLAY=":$(head -n1 "$tmp/display")"
  unset XAUTHORITY
  # A window manager, so that windows are placed and framed as on a desktop.
  if command -v openbox >/dev/null; then
    setsid openbox >/dev/null 2>&1 9>&- &
    wm_pid=$!
  fi
  self_driving=1
  shots="${shots:-$build/demo-shots}"
  mkdir -p "$shots"
  shots="$(cd "$shots" && pwd)"
  say "Running on virtual display $DISPLAY. Nobody can type there, so the demo plays the user"
  say "itself and saves a screenshot of each step in $shots"
else
  say "Running on your display $DISPLAY."
fi

cat >"$tmp/inside.sh" <<'INSIDE'
set -euo pipefail
mount --bind "$DEMO_TMP/agent" "$DEMO_AGENT_DIR"
mount --bind "$DEMO_TMP/libexec" "$DEMO_LIBEXEC_DIR"

sim="" app="" driver="" timer="" control=""
post() {
  /usr/bin/python3 -c 'import sys, urllib.request
urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=b"{}", method="POST"), timeout=3)' "$control/$1"
}
alive() { [ -e "/proc/$1" ] && ! grep -q ') Z ' "/proc/$1/stat" 2>/dev/null; }

# Pelk Agent refuses to end while it holds the lock (that is its point), so the agent unlocks
# first, as a real agent would before stopping it. Should the unlock not get through, the
# application is killed after a few seconds all the same: the demo must always end.
stop() {
  trap '' INT TERM HUP
  set +e
  [ -n "$driver" ] && kill "$driver" 2>/dev/null
  [ -n "$timer" ] && kill "$timer" 2>/dev/null
  if [ -n "$app" ] && alive "$app"; then
    local agent i how="unlocked through the agent simulator"
    [ -n "$control" ] && post unlock >/dev/null 2>&1 || how="the simulator did not take the unlock"
    agent="$(pgrep -P "$app" -x pelk-agent || echo "$app")"
    for i in $(seq 0 49); do
      # A request to end that comes before the application has read the unlock is refused: ask again.
      [ $((i % 5)) -eq 0 ] && kill -TERM "$agent" 2>/dev/null
      alive "$app" || break
      sleep 0.1
    done
    if alive "$app"; then
      echo "[demo] Pelk Agent did not end within 5 s ($how); killed it." >&2
      kill -KILL "$agent" "$app" 2>/dev/null
    else
      echo "[demo] Pelk Agent ended ($how)."
    fi
  fi
  [ -n "$sim" ] && kill -TERM "$sim" 2>/dev/null
  wait 2>/dev/null
}
trap stop EXIT
trap 'exit 0' INT TERM HUP

pace=()
[ "$DEMO_SELF_DRIVING" -eq 1 ] && pace=(--quick)
"$DEMO_SIM" --dir "$DEMO_AGENT_DIR" --scenario demo "${pace[@]}" --pin "$DEMO_PIN" --telemetry-uid "$(id -u)" \
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

echo "[demo] Agent simulator: local API $(field base_url), state files in \"$DEMO_AGENT_DIR\""
echo "       (inside this demo only; really $DEMO_TMP/agent)."
if [ "$DEMO_SELF_DRIVING" -eq 1 ]; then
  /usr/bin/python3 "$DEMO_STORY" "$control" "$DEMO_SHOTS" "$DEMO_PIN" &
  driver=$!
else
  cat <<EOF
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
fi

waitees=("$app" "$sim")
if [ -n "$DEMO_DURATION" ]; then
  sleep "$DEMO_DURATION" &
  timer=$!
  waitees+=("$timer")
fi
set +e
wait -n "${waitees[@]}"
set -e
if ! alive "$app"; then
  status=0
  wait "$app" || status=$?
  echo "[demo] Pelk Agent exited with status $status." >&2
elif ! alive "$sim"; then
  echo "[demo] The agent simulator ended." >&2
else
  echo "[demo] Time is up ($DEMO_DURATION s)."
fi
INSIDE

say "Starting the agent simulator and Pelk Agent in a private mount namespace..."
# Its own session: Ctrl-C reaches this script alone, which then ends the demo in order.
DEMO_TMP="$tmp" DEMO_AGENT_DIR="$agent_dir" DEMO_LIBEXEC_DIR="$libexec_dir" DEMO_SIM="$sim" DEMO_APP="$app" \
  DEMO_PIN="$demo_pin" DEMO_DURATION="$duration" DEMO_SELF_DRIVING="$self_driving" DEMO_SHOTS="$shots" \
  DEMO_STORY="$root/scripts/demo-story.py" \
  setsid unshare --mount --propagation private bash "$tmp/inside.sh" 9>&- &
ns_pid=$!
set +e
wait "$ns_pid"
set -e
ns_pid=""
