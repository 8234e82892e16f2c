#!/usr/bin/python3
# A GNOME Wayland session for end-to-end runs: headless Mutter 43 (with Xwayland) on a private
# session bus, logind mocked on a private system bus (session w1 of type wayland), the agent
# simulator, and one remote-desktop session of Mutter's whose keyboard types as a keyboard would.
# Mutter reads the package's GSettings override. With pipewire=True, PipeWire and WirePlumber run
# first on the same bus and runtime directory, for Mutter's screen casts.

import os
import shutil
import subprocess
import sys

from gi.repository import Gio, GLib

from fixture import AGENT_DIR, AgentSim, Desktop, wait_until

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIP = 77
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
    def __init__(self, build, pin=None, pipewire=False):
        self.pin, self.pipewire = pin, pipewire
        super().__init__(build)

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
        if self.pipewire:
            self.start(["pipewire"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_until(lambda: os.path.exists(os.path.join(run_dir, "pipewire-0")), 20, "PipeWire")
            self.start(["wireplumber"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
        self.sim = AgentSim(os.path.join(build, "tools", "agent-sim", "agent-sim"), AGENT_DIR, pin=self.pin)

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
