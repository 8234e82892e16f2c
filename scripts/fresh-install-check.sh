#!/usr/bin/env bash
# The package on a fresh Debian 12: a clean root made by debootstrap, where
# `apt-get install --no-install-recommends ./pelk-agent_*.deb` must bring all the application
# needs. Inside that root it checks that every library resolves, that --lock-session exits 1
# without logind, and that the tray mode and the lock show their windows on the root's own Xvfb
# with no QML error (a screenshot of each); it shows the polkit prompt's text and what starts at
# login as the fresh system has them.
#   scripts/fresh-install-check.sh [BUILD_DIR [OUT_DIR]]     defaults: build, BUILD_DIR/fresh-install
# Needs root and the Debian mirror, takes minutes: scripts/test.sh leaves it out.
# PELK_FRESH_BASE=DIR keeps the clean root there and copies it for each run.
# shellcheck disable=SC2016 # dpkg-query formats name its own ${fields}
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$(mkdir -p "${2:-$build/fresh-install}" && cd "${2:-$build/fresh-install}" && pwd)

if [ "${PELK_FRESH_INNER:-}" != 1 ]; then
  command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >/dev/null
  deb=$(scripts/package.sh "$build" "$out")
  ninja -C "$build" agent-sim >/dev/null
  # Own mount and PID namespaces: the root's mounts and every process started in it (the buses,
  # polkitd, Xvfb) end with this script.
  PELK_FRESH_INNER=1 PELK_DEB=$deb exec unshare --mount --propagation private --pid --fork --mount-proc "$0" "$@"
fi

say() { printf '\n== %s\n' "$*"; }
fail() {
  echo "FAILED: $*" >&2
  [ ! -s "$out/app.log" ] || sed 's/^/pelk-agent: /' "$out/app.log" >&2
  exit 1
}
# Polls a command for up to 60 s.
wait_for() {
  local what=$1 deadline=$((SECONDS + 60))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
    sleep 0.2
  done
}

rm -f "$out/app.log"
work=$(mktemp -d /var/tmp/pelk-fresh.XXXXXX)
root=$work/root
trap 'kill $(jobs -p) 2>/dev/null; wait; umount -l "$root/proc" 2>/dev/null; rm -rf --one-file-system "$work"' EXIT
# A command (not a function: its $! is the program's own pid) in the root with a clean environment.
in_root=(chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8)
in_root() { "${in_root[@]}" "$@"; }
apt_in_root() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends "$@" >>"$out/apt.log" 2>&1; }

say "debootstrap --variant=minbase bookworm"
base=${PELK_FRESH_BASE:-$work/base}
# debootstrap removes its own folder last: a root with it is unfinished.
if [ ! -x "$base/usr/bin/apt-get" ] || [ -d "$base/debootstrap" ]; then
  rm -rf --one-file-system "$base"
  debootstrap --variant=minbase bookworm "$base" "${PELK_DEBIAN_MIRROR:-http://deb.debian.org/debian}" >"$work/debootstrap.log" ||
    fail "debootstrap: $(tail -n 5 "$work/debootstrap.log")"
fi
[ -z "${PELK_FRESH_BASE:-}" ] || echo "(a copy of the clean root kept in $base)"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
in_root dpkg-query -W -f '${binary:Package}\n' | wc -l | sed 's/$/ packages/'

deb=$(basename "$PELK_DEB")
say "apt-get install --no-install-recommends ./$deb"
cp "$PELK_DEB" "$root/tmp/"
in_root apt-get update -q >"$out/apt.log" 2>&1
apt_in_root install "/tmp/$deb" || fail "apt-get: $(tail -n 20 "$out/apt.log")"
grep -E '^[0-9]+ upgraded, ' "$out/apt.log"
in_root dpkg-query -W -f '${Status} ${Version}\n' pelk-agent

say "ldd: the executable, Qt's plugins and QML modules"
libs=$(in_root find /usr/bin/pelk-agent /usr/lib/x86_64-linux-gnu/qt6 -name '*.so' -o -name pelk-agent)
# shellcheck disable=SC2086 # one path a word
missing=$(in_root ldd $libs | awk '/:$/ { file = $1 } /not found/ { print file, $1 }')
[ -z "$missing" ] || fail "unresolved libraries: $missing"
echo "$(echo "$libs" | wc -l) files, every library found"

say "pelk-agent --lock-session (no logind here)"
status=0
in_root pelk-agent --lock-session || status=$?
echo "exit status $status"
[ $status -eq 1 ] || fail "--lock-session should exit 1 without logind"

say "the polkit prompt (pkaction, polkitd on the root's own system bus)"
mkdir -p "$root/run/dbus"
"${in_root[@]}" dbus-daemon --system --nofork --nopidfile 2>"$work/system-bus.log" &
wait_for "the system bus" test -S "$root/run/dbus/system_bus_socket"
in_root pkaction --verbose --action-id co.pelkcore.agent.device-helper

say "what starts at login"
grep -E '^(Exec|X-GNOME-HiddenUnderSystemd|X-systemd-skip)=' "$root/etc/xdg/autostart/pelk-agent.desktop"
grep -E '^(ExecStart|Restart|SuccessExitStatus|RestartPreventExitStatus)=' "$root/usr/lib/systemd/user/pelk-agent.service"
wants=usr/lib/systemd/user/graphical-session.target.wants/pelk-agent.service
echo "/$wants -> $(readlink "$root/$wants")"
install -d -m 700 "$root/run/user/0"
# --man=no: a minimal root has no man to look up the unit's Documentation with.
in_root env XDG_RUNTIME_DIR=/run/user/0 systemd-analyze --user --man=no verify /usr/lib/systemd/user/pelk-agent.service &&
  echo "systemd-analyze --user verify: no complaint"
# systemd's autostart generator (Plasma, and any session systemd runs) makes no unit of the entry.
in_root env SYSTEMD_LOG_LEVEL=debug /usr/lib/systemd/user-generators/systemd-xdg-autostart-generator /tmp/gen /tmp/gen /tmp/gen 2>&1 | grep pelk-agent || true
[ ! -e "$root/tmp/gen/app-pelk\\x2dagent@autostart.service" ] || fail "the autostart generator made a unit of the entry"

say "the tray mode and the lock on an Xvfb in the root, against the agent simulator"
apt_in_root install xvfb dbus-daemon || fail "apt-get xvfb: $(tail -n 20 "$out/apt.log")"
# A display number free outside too: this script's X clients reach it through its abstract socket.
n=90
while grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=:$n
"${in_root[@]}" Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp -noreset 2>"$work/xvfb.log" &
wait_for "Xvfb" xdpyinfo
"${in_root[@]}" dbus-daemon --session --nofork --nopidfile --print-address=1 >"$work/bus" 2>"$work/session-bus.log" &
wait_for "the session bus" test -s "$work/bus"
agent_dir="$root/Library/Application Support/Pelk"
mkdir -p "$agent_dir"
# The demo story: connected at once, locked after 8 s, a support offer 5 s after the unlock.
"$build/tools/agent-sim/agent-sim" --dir "$agent_dir" --scenario demo >"$work/sim.json" 2>/dev/null &
wait_for "the agent simulator" test -s "$work/sim.json"
session=(env DISPLAY="$DISPLAY" DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus")" XDG_RUNTIME_DIR=/run/user/0)
"${in_root[@]}" "${session[@]}" pelk-agent >"$out/app.log" 2>&1 &
app=$!
window() { xdotool search --onlyvisible --name '^Pelk Agent$'; }
wait_for "the setup window" window
echo "the setup window: $(xdotool getwindowgeometry "$(window)" | grep -o 'Geometry: .*')"
import -window root "$out/tray.png"
status=0
in_root "${session[@]}" pelk-agent --background || status=$?
echo "a second --background start: exit status $status"
[ $status -eq 2 ] || fail "a second copy should exit 2"
covered() {
  local w
  for w in $(window); do xdotool getwindowgeometry "$w" | grep -q 'Geometry: 1280x800' && return 0; done
  return 1
}
uncovered() { ! covered; }
wait_for "the lock" covered
import -window root "$out/locked.png"
echo "locked: the screen is covered"
curl -sf -X POST "http://127.0.0.1:$(sed 's/.*"control_port":\([0-9]*\).*/\1/' "$work/sim.json")/control/unlock" >/dev/null
wait_for "the lock to end" uncovered
echo "unlocked: the desktop shows"
# The story's next step, a support offer, brings up the consent view.
wait_for "the support offer" xdotool search --onlyvisible --name 'Remote support'
import -window root "$out/support.png"
echo "support offered: its window shows"
kill -TERM $app
status=0
wait $app || status=$?
echo "SIGTERM after unlocking: exit status $status"
[ $status -eq 0 ] || fail "pelk-agent should end with 0"
say "its output"
[ -s "$out/app.log" ] && cat "$out/app.log" || echo "(nothing: no warning, no QML error)"
! grep -Eq 'is not installed|not a type|Cannot load library|Could not (load|find) the Qt platform plugin|\.qml:[0-9]+' "$out/app.log" ||
  fail "QML or plugin errors above"

say "passed; screenshots: tray.png, locked.png and support.png in $out"
