#!/usr/bin/python3
# The lock in a GNOME Wayland session: the real pelk-agent in headless Mutter 43 (with Xwayland)
# on a private session bus, logind mocked on a private system bus, and wev as the Wayland client
# that had the keyboard. Keys are typed through Mutter's remote-desktop API, as a keyboard would.
# Mutter reads the package's GSettings override (allowing the PIN pad's Xwayland grab).
# Headless Mutter runs no GNOME Shell, so GNOME's own lock screen cannot come up: the fallback is
# checked as the Lock request logind gets (the lock screen itself is GNOME's).

import os
import shutil
import signal
import subprocess
import sys

from gi.repository import Gio, GLib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from fixture import AGENT_DIR, AgentSim, Desktop, in_private_namespace, wait_until  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
SOURCE = os.path.dirname(os.path.dirname(HERE))
SKIP = 77
PIN, SHIFT, SUPER, ESCAPE, RETURN = "123456", 0xFFE1, 0xFFEB, 0xFF1B, 0xFF0D
SESSION = "/org/freedesktop/login1/session/w1"


def connect(address, name):
    # A connection to the bus once the name is there.
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    wait_until(lambda: bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "NameHasOwner", GLib.Variant("(s)", (name,)), None, 0, 5000, None).unpack()[0],
               30, name)
    return bus


class GnomeWayland(Desktop):
    def _start(self, build, screens, session_bus, simulator):
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        run_dir = os.path.join(self.work, "run")
        os.mkdir(run_dir, 0o700)
        schemas = os.path.join(self.work, "schemas")
        shutil.copytree("/usr/share/glib-2.0/schemas", schemas)
        shutil.copy(os.path.join(SOURCE, "packaging", "90_pelk-agent.gschema.override"), schemas)
        subprocess.run(["glib-compile-schemas", schemas], check=True)
        # Mutter and the agent read the same settings file (GLib's keyfile backend follows it live).
        self.settings = os.path.join(self.work, "glib-2.0", "settings", "keyfile")
        self.env.update(XDG_RUNTIME_DIR=run_dir, GSETTINGS_SCHEMA_DIR=schemas, GSETTINGS_BACKEND="keyfile",
                        XDG_CONFIG_HOME=self.work,
                        DBUS_SESSION_BUS_ADDRESS=self.start_bus(), DBUS_SYSTEM_BUS_ADDRESS=self.start_bus())
        self.start([sys.executable, "-m", "dbusmock", "--system", "--template", "logind"], stdout=subprocess.DEVNULL)
        self.system = connect(self.env["DBUS_SYSTEM_BUS_ADDRESS"], "org.freedesktop.login1")
        self.logind("AddSession", "(ssusb)", ("w1", "seat0", 1000, "alice", True), "/org/freedesktop/login1")
        self.logind("UpdateProperties", "(sa{sv})", ("org.freedesktop.login1.Session",
                                                     {"Type": GLib.Variant("s", "wayland")}))
        # Mutter starts Xwayland at once and tells the command it runs which display that is.
        display = os.path.join(self.work, "display")
        log = open(os.path.join(self.work, "mutter.log"), "w")
        self.mutter = self.start(["mutter", "--headless", "--wayland", "--wayland-display", "pelk-wl",
                                  "--virtual-monitor", "1024x768", "--", "sh", "-c",
                                  f'echo "$DISPLAY $XAUTHORITY" > {display}.new && mv {display}.new {display} && exec sleep 1d'],
                                 stdout=log, stderr=log)
        if not wait_until(lambda: os.path.exists(display) or self.mutter.poll() is not None, 60) \
                or self.mutter.poll() is not None:
            print("mutter did not start:\n" + open(log.name).read(), file=sys.stderr)
            raise SystemExit(SKIP)
        x_display, x_authority = open(display).read().split()
        self.env.update(WAYLAND_DISPLAY="pelk-wl", DISPLAY=x_display, XAUTHORITY=x_authority)
        self.session = connect(self.env["DBUS_SESSION_BUS_ADDRESS"], "org.gnome.Mutter.RemoteDesktop")
        # One remote-desktop session throughout: its keyboard is the only one headless Mutter has.
        self.keyboard = self.remote("/org/gnome/Mutter/RemoteDesktop", "CreateSession", reply="(o)").unpack()[0]
        self.remote(self.keyboard, "Start")
        self.sim = AgentSim(os.path.join(build, "tools", "agent-sim", "agent-sim"), AGENT_DIR, pin=PIN)

    def logind(self, method, signature, args, path=SESSION):
        return self.system.call_sync("org.freedesktop.login1", path, "org.freedesktop.DBus.Mock", method,
                                     GLib.Variant(signature, args), None, 0, 5000, None)

    def lock_requests(self):
        return len(self.logind("GetMethodCalls", "(s)", ("Lock",)).unpack()[0])

    def remote(self, path, method, args=None, reply=None):
        iface = "org.gnome.Mutter.RemoteDesktop" + ("" if path.endswith("RemoteDesktop") else ".Session")
        return self.session.call_sync("org.gnome.Mutter.RemoteDesktop", path, iface, method, args,
                                      reply and GLib.VariantType(reply), 0, 5000, None)

    def type(self, *keysyms):
        # Pressed together, released in reverse order.
        for sym, down in [(sym, True) for sym in keysyms] + [(sym, False) for sym in reversed(keysyms)]:
            self.remote(self.keyboard, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, down)))


def main():
    in_private_namespace()
    if not all(map(shutil.which, ("mutter", "Xwayland", "wev"))):
        print("mutter, xwayland and wev are needed (scripts/install-deps.sh)", file=sys.stderr)
        return SKIP
    desk = GnomeWayland(BUILD)
    try:
        # The Wayland client has the keyboard when the lock comes.
        wev_log = os.path.join(desk.work, "wev.log")
        desk.start(["stdbuf", "-oL", "wev"], stdout=open(wev_log, "w"), stderr=subprocess.DEVNULL)
        typed = lambda: open(wev_log).read().count("utf8: 'x'")  # noqa: E731
        # Mutter adds the remote-desktop keyboard with its first key: a Shift, until wev has the keyboard.
        wait_until(lambda: desk.type(SHIFT) or "wl_keyboard] enter" in open(wev_log).read(), 20, "wev with the keyboard")
        desk.type(ord("x"))
        wait_until(lambda: typed() == 1, 10, "a key typed into wev before the lock")

        desk.sim.lock(message="Locked by IT")
        # Qt would take Wayland here if asked: the session, not Qt, decides where the lock goes.
        env = dict(desk.env, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_ID="w1",
                   QT_QPA_PLATFORM="wayland")
        guard = desk.start([os.path.join(BUILD, "src", "pelk-agent"), "--background"], env=env)
        wait_until(lambda: desk.sim.requests("/presence"), 30, "the PIN pad holding the keyboard")

        # Locked: what is typed reaches the PIN pad and never wev, Super+Escape (which would end
        # a granted grab) included, and GNOME's lock is not needed.
        desk.type(ord("x"))
        desk.type(SUPER, ESCAPE)
        desk.type(ord("x"))
        [desk.type(key) for key in [*map(ord, PIN), RETURN]]
        wait_until(lambda: desk.sim.requests("/unlock"), 20, "the PIN typed into the PIN pad")
        assert typed() == 1, "a key typed while locked reached the Wayland client"
        assert desk.lock_requests() == 0, "the session was locked although the PIN pad held the keyboard"

        # Super+Escape given back to Mutter: the PIN pad's grab no longer holds, so GNOME's lock must.
        desk.sim.lock(message="Locked again")
        wait_until(lambda: len(desk.sim.requests("/presence")) >= 2, 30, "the PIN pad holding the keyboard again")
        # Killed: no window of the guard's can hold a Wayland desktop, so it has logind lock the
        # session at once, and brings the PIN pad back.
        ui = int(open(f"/proc/{guard.pid}/task/{guard.pid}/children").read().split()[0])
        os.kill(ui, signal.SIGKILL)
        wait_until(lambda: desk.logind("GetMethodCalls", "(s)", ("LockSession",), "/org/freedesktop/login1")
                   .unpack()[0], 10, "the guard locking the session")
        presence = len(desk.sim.requests("/presence"))
        wait_until(lambda: len(desk.sim.requests("/presence")) > presence, 30, "the PIN pad back after the kill")
        os.makedirs(os.path.dirname(desk.settings), exist_ok=True)
        with open(desk.settings, "w") as f:
            f.write("[org/gnome/mutter/wayland/keybindings]\nrestore-shortcuts=['<Super>Escape']\n")
        wait_until(lambda: desk.lock_requests() > 0, 20, "the session locked through logind")
        return 0
    finally:
        desk.close()


if __name__ == "__main__":
    sys.exit(main())
