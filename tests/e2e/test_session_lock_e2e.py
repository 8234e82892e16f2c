#!/usr/bin/python3
# The lock on a Wayland desktop whose compositor offers ext-session-lock-v1 (sway, Hyprland...): the
# real pelk-agent against fake-lock-compositor (tests/platform), which reports what it sees a line
# at a time and turns any client mistake into a protocol error, failing the test. Xvfb stands in
# for Xwayland; logind is mocked on a private system bus (session w1 of type wayland).

import os
import signal
import subprocess
import sys
import threading

from gi.repository import GLib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fixture import Desktop, holds, in_private_namespace, wait_until  # noqa: E402
from gnome_wayland import SESSION, connect  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
PIN, ENTER = "135790", 28
DIGITS = {d: 11 if d == "0" else int(d) + 1 for d in "0123456789"}  # evdev KEY_1..KEY_0


class Compositor:
    def __init__(self, desk, *args):
        self.lines = []
        self.proc = desk.start([os.path.join(BUILD, "tests", "platform", "fake-lock-compositor"), *args],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        threading.Thread(target=lambda: [self.lines.append(line.strip()) for line in self.proc.stdout],
                         daemon=True).start()
        self.expect(0, "ready")

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def expect(self, since, *events, timeout=30):
        # The events in this order among the lines after index since; their first index after it.
        def found():
            errors = [line for line in self.lines if line.startswith("error")]
            assert not errors, f"protocol errors: {errors}"
            at = since
            for event in events:
                at = self.lines.index(event, at) + 1 if event in self.lines[at:] else None
                if at is None:
                    return None
            return at
        return wait_until(found, timeout, f"{events} from the compositor (after {self.lines[since:]})")

    def locked_on(self, since, outputs):
        # A lock whose every output got its lock surface and a buffer before `locked`.
        start = self.expect(since, "lock")
        end = self.expect(start, "locked")
        for n, (w, h) in outputs.items():
            self.expect(start, f"surface {n} {w} {h}", f"commit {n} {w} {h}", "locked")
        return end


def main():
    in_private_namespace()
    desk = Desktop(BUILD)
    try:
        run = os.path.join(desk.work, "run")
        os.mkdir(run, 0o700)
        desk.env.update(XDG_RUNTIME_DIR=run, DBUS_SYSTEM_BUS_ADDRESS=desk.start_bus())
        desk.start([sys.executable, "-m", "dbusmock", "--system", "--template", "logind"], stdout=subprocess.DEVNULL)
        system = connect(desk.env["DBUS_SYSTEM_BUS_ADDRESS"], "org.freedesktop.login1")

        def logind(method, signature, args, path="/org/freedesktop/login1"):
            return system.call_sync("org.freedesktop.login1", path, "org.freedesktop.DBus.Mock", method,
                                    GLib.Variant(signature, args), None, 0, 5000, None).unpack()
        logind("AddSession", "(ssusb)", ("w1", "seat0", 1000, "alice", True))
        wayland = {"Type": GLib.Variant("s", "wayland")}
        logind("UpdateProperties", "(sa{sv})", ("org.freedesktop.login1.Session", wayland), SESSION)
        logind_locks = lambda: len(logind("GetMethodCalls", "(s)", ("Lock",), SESSION)[0]) + len(  # noqa: E731
            logind("GetMethodCalls", "(s)", ("LockSession",))[0])
        presence = lambda: len(desk.sim.requests("/presence"))  # noqa: E731

        outputs = {0: (1024, 768), 1: (800, 600)}
        fake = Compositor(desk, "pelk-lock", "--output", "1024x768+0+0", "--output", "800x600+1024+0")
        desk.sim.set_pin(PIN)
        env = dict(desk.env, WAYLAND_DISPLAY="pelk-lock", XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway",
                   XDG_SESSION_ID="w1")
        guard = desk.start([os.path.join(BUILD, "src", "pelk-agent"), "--background"], env=env)

        # Locked: the PIN pad on every output, and the application says so only once the compositor does.
        desk.sim.lock(message="Locked by IT")
        at = fake.locked_on(0, outputs)
        wait_until(presence, 30, "presence reported")
        assert "locked" in fake.lines, "presence reported before the compositor locked the session"
        shots = os.environ.get("PELK_E2E_SHOTS", desk.work)
        os.makedirs(shots, exist_ok=True)
        shot = os.path.join(shots, "session-lock-output0.png")
        fake.send(f"snapshot 0 {shot}")
        fake.expect(at, "snapshot 0 ok")
        colours = int(subprocess.run(["identify", "-format", "%k", shot], capture_output=True, text=True).stdout)
        assert colours >= 3, f"output 0 shows {colours} colours, not a PIN pad"

        # An output plugged in while locked gets its own lock surface, at its scale (a HiDPI one here).
        at = len(fake.lines)
        fake.send("output add 640 800 1824 0 2")
        fake.expect(at, "output 2 added", "surface 2 640 800", "commit 2 640 800")
        outputs[2] = (640, 800)
        fake.send(f"snapshot 2 {shot.replace('0.png', '2.png')}")
        fake.expect(at, "snapshot 2 ok")
        size = desk.run("identify", "-format", "%wx%h", shot.replace("0.png", "2.png")).stdout
        assert size == "1280x1600", f"output 2 drawn in {size}, not at its scale"

        # The PIN clicked on the HiDPI output's keypad (logical places of 1 3 5 7 9 0 and Enter) unlocks.
        keypad = {"1": (236, 388), "3": (398, 388), "5": (317, 463), "7": (236, 538), "9": (398, 538),
                  "0": (317, 613), "go": (398, 613)}
        for x, y in map(keypad.get, [*PIN, "go"]):
            fake.send(f"click {1824 + x} {y}")
        wait_until(lambda: desk.sim.requests("/unlock"), 30, "the PIN reaching the agent")
        fake.expect(at, "unlocked")

        # Killed while locked: the session stays locked until the restarted application takes it over.
        at = len(fake.lines)
        desk.sim.lock(message="Locked again")
        fake.locked_on(at, outputs)
        wait_until(lambda: presence() >= 2, 30, "presence reported again")
        # An output unplugged while locked: its lock surface goes, the others hold.
        fake.send("output remove 1")
        del outputs[1]
        assert holds(lambda: "abandoned" not in fake.lines[at:], 2), "the application died with the output"
        ui = int(open(f"/proc/{guard.pid}/task/{guard.pid}/children").read().split()[0])
        os.kill(ui, signal.SIGKILL)
        at = fake.expect(at, "abandoned")
        fake.locked_on(at, outputs)
        assert "unlocked" not in fake.lines[at:], "the session was unlocked when the application died"
        wait_until(lambda: presence() >= 3, 30, "presence reported by the restarted application")
        # Typed on the compositor's keyboard this time.
        for key in [*map(DIGITS.get, PIN), ENTER]:
            fake.send(f"key {key}")
        wait_until(lambda: len(desk.sim.requests("/unlock")) >= 2, 30, "the PIN reaching the agent again")
        fake.expect(at, "unlocked")

        # Another program holds the compositor's lock: logind locks the session, and no presence is claimed.
        fake.send("foreign-lock")
        at, before, shown = len(fake.lines), logind_locks(), presence()
        desk.sim.lock(message="Locked while another lock holds")
        fake.expect(at, "lock", "denied")
        wait_until(lambda: logind_locks() > before, 30, "the session locked through logind")
        assert holds(lambda: presence() == shown, 3), "presence reported while the compositor refused the lock"
        fake.expect(0, "ready")  # no protocol error from start to end
        return 0
    finally:
        desk.close()


if __name__ == "__main__":
    sys.exit(main())
