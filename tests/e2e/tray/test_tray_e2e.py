#!/usr/bin/python3
# The real pelk-agent in its normal mode, end to end, against the agent simulator: the tray
# item's tooltip and menu (read over the session bus from a stand-in tray host) as the status
# file changes, and enrollment files opened with the application and chosen in the file
# dialog going through a stand-in pkexec to the simulator's device helper. (Refused files and the
# window's contents are checked by tests/agent and tests/app, arbitrary enrollment bytes by the
# fuzzer.)
#
# Runs on the shared fixture (../fixture.py) as root in a private mount namespace, where the
# helper's directory and /usr/bin/pkexec are replaced by bind mounts for the length of the run.
# Each case starts from the same state (not enrolled, unlocked, window shown).

import datetime
import fnmatch
import glob
import hashlib
import itertools
import json
import os
import re
import subprocess
import sys
import time
import unittest

from gi.repository import Gio, GLib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from fixture import Desktop, in_private_namespace, wait_until  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
AGENT = os.path.join(BUILD, "src", "pelk-agent")
HELPER = os.path.join(BUILD, "tools", "agent-sim", "fake-device-helper")
LIBEXEC, PKEXEC = "/usr/local/libexec", "/usr/bin/pkexec"
DOT = "\u00b7"
NOT_ENROLLED = "Drop the enrollment JSON downloaded from Pelk to connect this computer."
COPIES = "pelk-enrollment-*"  # the agent's private copies of an enrollment file, in its runtime directory


def iso(seconds_ago=0):
    t = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(seconds=seconds_ago)
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def wait_for(what, predicate, timeout=20.0):  # named first: the cases read as a list of waits
    return wait_until(predicate, timeout, what)


def call(name, path, interface, method, args, reply):
    return BUS.call_sync(name, path, interface, method, args, GLib.VariantType(reply), Gio.DBusCallFlags.NONE,
                         5000, None).unpack()


def get(name, path, interface, prop):
    args = GLib.Variant("(ss)", (interface, prop))
    return call(name, path, "org.freedesktop.DBus.Properties", "Get", args, "(v)")[0]


def registered_items():
    watcher = "org.kde.StatusNotifierWatcher"
    return get(watcher, "/StatusNotifierWatcher", watcher, "RegisteredStatusNotifierItems")


def prominent_buttons(width=1280, height=800):
    # Centres of the prominent (terracotta) buttons, top to bottom, left to right. A button is 20
    # or more rows that hold the colour across 80 px or more (its label's letters in between); its
    # middle row has a run of the colour that wide, with gaps of up to 30 px for the letters. A
    # quiet button's label is terracotta too, but its letters make narrow runs only.
    raw, colour = DESK.capture(), bytes((214, 74, 69))

    def pixel(x, y):
        return raw[(y * width + x) * 3:(y * width + x) * 3 + 3]

    # Sampled every 2 px: '#' where the colour is.
    rows = ["".join("#" if pixel(x, y) == colour else "." for x in range(0, width, 2)) for y in range(height)]
    buttons = []
    for filled, band in itertools.groupby(range(height), lambda y: rows[y].count("#") >= 10
                                          and rows[y].rindex("#") - rows[y].index("#") >= 40):
        band = list(band)
        if filled and len(band) >= 20:
            middle = band[len(band) // 2]
            buttons += [(m.start() + m.end() - 1, middle) for m in re.finditer(r"#(?:\.{0,14}#)*", rows[middle])
                        if m.end() - m.start() > 40]
    return buttons


def click(x, y):
    DESK.xdo("mousemove", str(x), str(y), "click", "1")


def size(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


class TestTrayE2E(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global DESK, BUS
        DESK = Desktop(BUILD)
        cls.sim, cls.work = DESK.sim, DESK.work
        # The device helper's directory, holding the simulator's helper (unmounted with the namespace).
        cls.libexec = os.path.join(cls.work, "libexec")
        cls.helper = os.path.join(cls.libexec, "pelk-device-helper")
        os.mkdir(cls.libexec)
        os.symlink(HELPER, cls.helper)
        cls.made_libexec = not os.path.isdir(LIBEXEC)  # the mount point, removed again afterwards
        os.makedirs(LIBEXEC, exist_ok=True)
        # pkexec that asks nobody: it logs the command and runs it (we are root already). A dismissed
        # prompt (exit 126) is covered by test_pkexec_runner and test_agent_model.
        cls.pkexec_log = os.path.join(cls.work, "pkexec.log")
        fake = os.path.join(cls.work, "pkexec")
        with open(fake, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$*\" >> '{cls.pkexec_log}'\nexec \"$@\"\n")
        os.chmod(fake, 0o755)
        for source, target in ((cls.libexec, LIBEXEC), (fake, PKEXEC)):
            subprocess.run(["mount", "--bind", source, target], check=True)

        host = DESK.start(["/usr/bin/python3", os.path.join(HERE, "fake_tray_host.py")], stdout=subprocess.PIPE,
                          text=True)
        assert host.stdout.readline().strip() == "ready"
        BUS = Gio.DBusConnection.new_for_address_sync(
            DESK.env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        cls.tmp, cls.helper_log = os.path.join(cls.work, "tmp"), os.path.join(cls.work, "helper.log")
        os.mkdir(cls.tmp, 0o700)
        cls.agent_env = dict(DESK.env, XDG_RUNTIME_DIR=cls.tmp, PELK_FAKE_HELPER_LOG=cls.helper_log)
        cls.agent, cls.last_import = None, 0
        cls.sim.status("not_enrolled", NOT_ENROLLED)
        cls.start_agent()

    @classmethod
    def start_agent(cls):
        if cls.agent:
            cls.agent.terminate()
            cls.agent.wait(10)
        items = len(registered_items())
        cls.agent = DESK.start([AGENT], env=cls.agent_env)
        cls.item = wait_for("the tray item", lambda: registered_items()[items:] and registered_items()[-1])

    @classmethod
    def tearDownClass(cls):
        for path in (PKEXEC, LIBEXEC):
            subprocess.run(["umount", path])
        if cls.made_libexec:
            os.removedirs(LIBEXEC)
        DESK.close()

    def setUp(self):
        # An import shows "connecting" until a status written after it, in whole seconds, arrives.
        wait_for("a second after the last import", lambda: time.time() >= int(self.last_import) + 1.05)
        self.sim.control("lock", {"locked": False})

        def shown():
            # The agent dates an import from its own end of it, later than the test under load: the
            # status is written again (newer each second) until the agent takes it.
            self.sim.status("not_enrolled", NOT_ENROLLED)
            return get(self.item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ToolTip")[2].endswith(
                "Not connected")
        wait_for("the status newer than the last import", shown)
        self.expect_title("Not connected")
        if not self.window_ids():
            self.open_with_app()
        wait_for("the setup window", self.window_ids)

    # -- what the tray shows ------------------------------------------------------------------

    def menu(self):
        _, layout = call(self.item, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                         GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
        return ["---" if c[1].get("type") == "separator" else (c[1].get("label", ""), c[1].get("enabled", True))
                for c in layout[2]]

    def expect_title(self, title, last_checkin=None):
        line = f"Pelk Agent {DOT} {title}"
        # The tooltip is (icon name, icon pixmaps, title, description).
        wait_for(f"tooltip {line!r}", lambda: get(self.item, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                                   "ToolTip")[2] == line)
        menu = wait_for("menu", lambda: (m := self.menu()) and m[0][0] == line and m)
        self.assertEqual(menu[:1] + menu[2:], [(line, False), "---", ("Open Pelk Agent\u2026", True),
                                               ("Quit status app", True)])
        label, enabled = menu[1]
        self.assertEqual((label[:15], enabled), ("Last check-in: ", False))
        self.assertIn(last_checkin, (None, label[15:]))

    def window_ids(self):
        return DESK.windows("^Pelk Agent$")

    def open_with_app(self, *paths):
        self.assertEqual(subprocess.run([AGENT, *paths], env=self.agent_env, timeout=20).returncode, 0)

    def write_enrollment(self, name, content=None, **overrides):
        profile = dict(format="co.pelkcore.agent-enrollment", version=1, role="helper", platform="macos",
                       device_id=42, workspace="Acme", device_name="Studio workstation",
                       base_url="https://acme.pelk.example", enrollment_token="t" * 40, expires_at=iso(-3600))
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(content or json.dumps(dict(profile, **overrides)).encode())
        return path

    # -- the cases ----------------------------------------------------------------------------

    def test_window_and_phases(self):
        # A fresh start: after an import, a status older than it (the stale one below) is ignored.
        self.start_agent()
        wait_for("the setup window", self.window_ids)
        self.sim.status("connected", "Agent says connected.", signing_ready=True, last_checkin=iso(10))
        self.expect_title("Connected")
        # The phases whose title takes more than the phase (each phase's own words are a table in the code).
        for fields, title in [
            (dict(phase="connected"), f"Connected {DOT} signing key needed"),
            (dict(phase="offline"), f"Offline {DOT} retrying"),
            (dict(phase="something_new"), "Not connected"),
            # Not rewritten for longer than the check-in interval and 30 s: stale.
            (dict(phase="connected", updated_at=iso(200), next_checkin_seconds=60), "Agent is not responding"),
        ]:
            with self.subTest(title=title, **fields):
                self.sim.status(fields.pop("phase"), "Agent says so.", **fields)
                self.expect_title(title, "No check-in yet")

        # No status file: the helper decides which advice.
        self.sim.remove("status")
        self.expect_title("Agent update required")
        os.remove(self.helper)
        try:
            self.expect_title("Agent is not responding")
        finally:
            os.symlink(HELPER, self.helper)
        self.sim.raw("status", b'{"phase": 7}')
        self.expect_title("Agent update required")

    def test_second_launch_reopens(self):
        # The close button of the window manager's title bar (it asks with WM_DELETE_WINDOW).
        # A click, not Alt+F4: the window manager's key binding could leave the keyboard
        # grabbed for the steps that follow.
        for wid in self.window_ids():
            DESK.xdo("windowactivate", "--sync", wid)
            info = dict(line.strip().split(": ", 1) for line in DESK.run("xwininfo", "-id", wid).stdout.splitlines()
                        if ": " in line)
            click(int(info["Absolute upper-left X"]) + int(info["Width"]) - 11, int(info["Absolute upper-left Y"]) - 10)
        wait_for("the window to close", lambda: not self.window_ids())
        self.assertIsNone(self.agent.poll(), "closing the window must not end the application")
        self.open_with_app()
        wait_for("the window to come back", self.window_ids)
        self.assertIsNone(self.agent.poll())

    def import_and_check(self, path):
        # Presses the import button and checks what reached the device helper through pkexec.
        buttons = wait_for("the import button", lambda: len(b := prominent_buttons()) >= 2 and b)
        before = size(self.helper_log)
        click(*buttons[-1])
        wait_for("the helper's run", lambda: size(self.helper_log) > before)
        type(self).last_import = time.time()
        with open(self.helper_log) as f:
            record = json.loads(f.read()[before:].splitlines()[0])
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        copy = record["args"][1]
        self.assertTrue(fnmatch.fnmatch(copy, os.path.join(self.tmp, COPIES)), copy)
        self.assertEqual((record["file_sha256"], record["result"]), (digest, 0))
        self.expect_title("Connecting")
        # The private copy is gone once the run returned.
        wait_for("the copy to be removed", lambda: not glob.glob(os.path.join(self.tmp, COPIES)))
        with open(self.pkexec_log) as f:  # the helper itself, which the polkit action names, not a shell
            self.assertIn(f"{LIBEXEC}/pelk-device-helper --import-enrollment {copy} --enrollment-sha256 {digest}\n",
                          f.read())

    def test_enrollment_opened_with_the_app(self):
        self.sim.status("not_enrolled", NOT_ENROLLED, updated_at=iso(30))
        path = self.write_enrollment("first.json")
        self.open_with_app(path, self.write_enrollment("second.json", device_name="Never loaded"))  # the first counts
        self.import_and_check(path)

    def test_enrollment_chosen_in_the_dialog(self):
        path = self.write_enrollment("chosen.json", device_name="Chosen workstation")
        click(*wait_for("the choose button", prominent_buttons)[0])
        wid = wait_for("the file dialog", lambda: DESK.windows("^Open"))[0]

        def dialog_open():
            return wid in DESK.windows("^Open")

        try:
            # A slow build can show the dialog before it takes the keyboard, and the toolkit can
            # miss the first focus change: hand the focus to the root window and back to the
            # dialog, and type the whole name again, until the dialog takes it.
            root = DESK.xdo("search", "--maxdepth", "0", "")
            for _ in range(5):
                DESK.xdo("windowfocus", "--sync", root)
                DESK.xdo("windowactivate", "--sync", wid)
                DESK.xdo("key", "ctrl+a")
                DESK.xdo("type", "--delay", "10", path)
                DESK.xdo("key", "Return")
                if wait_until(lambda: not dialog_open(), 10):
                    break
        finally:
            # A dialog left open is modal: close it, or every later step would wait on it.
            if dialog_open():
                DESK.xdo("windowactivate", "--sync", wid)
                DESK.xdo("key", "Escape")
        self.assertFalse(dialog_open(), "the dialog did not take the file name")
        self.import_and_check(path)

    def test_quit_refused_while_locked(self):
        self.sim.lock(message="Locked by IT")
        # (The signals it then refuses are test_lock_e2e's, in this same mode.)
        wait_for("Quit to be disabled", lambda: (m := self.menu()) and m[-1] == ("Quit status app", False))
        self.sim.unlock()
        wait_for("Quit to be enabled", lambda: (m := self.menu()) and m[-1] == ("Quit status app", True))


if __name__ == "__main__":
    in_private_namespace()
    unittest.main(verbosity=2)
