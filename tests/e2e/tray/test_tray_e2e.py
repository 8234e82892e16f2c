#!/usr/bin/python3
# The real pelk-agent in its normal mode, end to end, against the agent simulator: the tray
# item's tooltip and menu (read over the session bus from a stand-in tray host) for every phase
# of the status file, enrollment files opened with the application and chosen in the file
# dialog going through a stand-in pkexec to the simulator's device helper, refusals of bad
# files, and screenshots of the setup window in its main states, light and dark.
#
# Runs on the shared fixture (../fixture.py) as root in a private mount namespace, where the
# helper's directory and /usr/bin/pkexec are replaced by bind mounts for the length of the run.
# Each case starts from the same state (not enrolled, light, unlocked, window shown).

import datetime
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from gi.repository import Gio, GLib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from fixture import Desktop, holds, in_private_namespace, wait_until  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
AGENT = os.path.join(BUILD, "src", "pelk-agent")
HELPER = os.path.join(BUILD, "tools", "agent-sim", "fake-device-helper")
SHOTS = os.environ.get("PELK_E2E_SHOTS") or tempfile.mkdtemp(prefix="pelk-tray-shots.")
LIBEXEC = "/usr/local/libexec"
PKEXEC = "/usr/bin/pkexec"
TERRACOTTA = (214, 74, 69)
DOT = "\u00b7"


def iso(seconds_ago=0):
    t = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(seconds=seconds_ago)
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def wait_for(what, predicate, timeout=10.0):  # named first: the cases read as a list of waits
    return wait_until(predicate, timeout, what)


def run(*args, check=False):
    result = DESK.run(*args)
    if check and result.returncode:
        raise AssertionError(f"{args}: {result.stderr}")
    return result.stdout.strip()


class Bus:
    def __init__(self, address):
        self.connection = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)

    def call(self, name, path, interface, method, args=None, reply=None):
        result = self.connection.call_sync(name, path, interface, method, args,
                                           GLib.VariantType(reply) if reply else None,
                                           Gio.DBusCallFlags.NONE, 5000, None)
        return result.unpack() if result is not None else None


class Screen:
    # Root window screenshots, and where the prominent (terracotta) buttons are on them.

    width, height = 1280, 800

    def shot(self, name, changed_from=None):
        return DESK.shot(os.path.join(SHOTS, name + ".png"), changed_from)

    def prominent_buttons(self):
        raw, w, colour = DESK.capture(), self.width, bytes(TERRACOTTA)
        rows = [[x for x in range(0, w, 2) if raw[(y * w + x) * 3:(y * w + x) * 3 + 3] == colour]
                for y in range(self.height)]
        # A button's rows: its fill from edge to edge, with its label's letters in between.
        def filled(xs):
            return len(xs) >= 10 and xs[-1] - xs[0] >= 80

        # Centres of the wide terracotta runs of a row. A quiet button beside a prominent one
        # has a terracotta label only, whose letters make a narrow run of their own.
        def wide_runs(xs):
            runs, first = [], None
            for i, x in enumerate(xs):
                if first is None:
                    first = x
                if i + 1 == len(xs) or xs[i + 1] - x > 30:
                    if x - first >= 80:
                        runs.append((first + x) // 2)
                    first = None
            return runs

        bands, start = [], None
        for y, xs in enumerate(rows + [[]]):
            if filled(xs) and start is None:
                start = y
            elif not filled(xs) and start is not None:
                if y - start >= 20:
                    middle = (start + y) // 2
                    bands += [(x, middle) for x in wide_runs(rows[middle])]
                start = None
        return bands  # (x, y) centres, top to bottom, left to right

    @staticmethod
    def click(x, y):
        run("xdotool", "mousemove", str(x), str(y), "click", "1")


NOT_ENROLLED = "Drop the enrollment JSON downloaded from Pelk to connect this computer."


class TestTrayE2E(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global DESK
        DESK = Desktop(BUILD)
        cls.sim, cls.work = DESK.sim, DESK.work
        os.makedirs(SHOTS, exist_ok=True)
        # The device helper's directory, holding the simulator's helper (unmounted with the namespace).
        cls.libexec = os.path.join(cls.work, "libexec")
        os.mkdir(cls.libexec)
        cls.install_helper()
        cls.made_libexec = not os.path.isdir(LIBEXEC)  # the mount point, removed again afterwards
        os.makedirs(LIBEXEC, exist_ok=True)
        run("mount", "--bind", cls.libexec, LIBEXEC, check=True)
        # pkexec that asks nobody: it runs the command (we are root already) and logs it, or
        # plays a dismissed prompt when told to.
        cls.pkexec_log = os.path.join(cls.work, "pkexec.log")
        cls.pkexec_mode = os.path.join(cls.work, "pkexec.mode")
        fake = os.path.join(cls.work, "pkexec")
        with open(fake, "w") as f:
            f.write("#!/bin/sh\n"
                    f"printf '%s\\n' \"$*\" >> '{cls.pkexec_log}'\n"
                    f"[ \"$(cat '{cls.pkexec_mode}' 2>/dev/null)\" = dismiss ] && exit 126\n"
                    "exec \"$@\"\n")
        os.chmod(fake, 0o755)
        run("mount", "--bind", fake, PKEXEC, check=True)

        host = DESK.start(["/usr/bin/python3", os.path.join(HERE, "fake_tray_host.py")], stdout=subprocess.PIPE,
                          text=True)
        assert host.stdout.readline().strip() == "ready"
        cls.sim.control("lock", {"locked": False})
        cls.sim.status("not_enrolled", NOT_ENROLLED)
        cls.tmp = os.path.join(cls.work, "tmp")
        os.mkdir(cls.tmp)
        cls.helper_log = os.path.join(cls.work, "helper.log")
        cls.agent_env = dict(DESK.env, TMPDIR=cls.tmp, PELK_FAKE_HELPER_LOG=cls.helper_log)
        cls.bus = Bus(DESK.env["DBUS_SESSION_BUS_ADDRESS"])
        cls.screen = Screen()
        cls.agent = cls.item = None
        cls.start_agent()
        cls.last_import = 0

    @classmethod
    def start_agent(cls):
        if cls.agent:
            cls.agent.terminate()
            cls.agent.wait(10)
        items = len(cls.registered_items())
        cls.agent = DESK.start([AGENT], env=cls.agent_env)
        cls.item = wait_for("the tray item", lambda: cls.registered_items()[items:] and cls.registered_items()[-1])

    @classmethod
    def tearDownClass(cls):
        for path in (PKEXEC, LIBEXEC):
            run("umount", path)
        if cls.made_libexec:
            os.removedirs(LIBEXEC)
        DESK.close()

    def setUp(self):
        # An import shows "connecting" until a status written after it, in whole seconds, arrives.
        wait_for("a second after the last import", lambda: time.time() >= int(self.last_import) + 1.05)
        self.sim.control("lock", {"locked": False})
        self.set_dark(False)
        self.sim.status("not_enrolled", NOT_ENROLLED)
        self.expect_title("Not connected")
        if not self.window_ids():
            self.open_with_app()
        wait_for("the setup window", self.window_ids)

    @classmethod
    def registered_items(cls):
        return cls.bus.call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                            "org.freedesktop.DBus.Properties", "Get",
                            GLib.Variant("(ss)", ("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")),
                            "(v)")[0]

    @classmethod
    def install_helper(cls):
        shutil.copy(HELPER, os.path.join(cls.libexec, "pelk-device-helper"))

    # -- what the tray shows ------------------------------------------------------------------

    def tooltip(self):
        value = self.bus.call(self.item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                              GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "ToolTip")), "(v)")[0]
        return value[2]  # (icon name, icon pixmaps, title, description)

    def menu(self):
        _, layout = self.bus.call(self.item, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                                  GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
        return ["---" if c[1].get("type") == "separator" else (c[1].get("label", ""), c[1].get("enabled", True))
                for c in layout[2]]

    def expect_title(self, title, last_checkin=None):
        line = f"Pelk Agent {DOT} {title}"
        wait_for(f"tooltip {line!r}", lambda: self.tooltip() == line)
        menu = wait_for("menu", lambda: (m := self.menu()) and m[0][0] == line and m)
        self.assertEqual(menu[0], (line, False))
        self.assertFalse(menu[1][1])
        self.assertTrue(menu[1][0].startswith("Last check-in: "))
        if last_checkin is not None:
            self.assertEqual(menu[1][0], "Last check-in: " + last_checkin)
        self.assertEqual(menu[2:], ["---", ("Open Pelk Agent\u2026", True), ("Quit status app", True)])

    def set_dark(self, dark):
        self.bus.call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                      "co.pelkcore.TestPortal", "SetColorScheme", GLib.Variant("(u)", (1 if dark else 0,)))

    def shot_after(self, name, change):
        # Does change() and shoots the window once it has redrawn (and stopped changing).
        before = DESK.capture()
        change()
        return self.screen.shot(name, changed_from=before)

    def shoot_both(self, name):
        # The window as it is, light then dark.
        self.screen.shot("light-" + name)
        self.shot_after("dark-" + name, lambda: self.set_dark(True))
        self.set_dark(False)

    def window_ids(self):
        return DESK.windows("^Pelk Agent$")

    # -- the cases ----------------------------------------------------------------------------

    def test_window_and_phases(self):
        # A fresh start: after an import, a status older than it (the stale one below) is ignored.
        self.start_agent()
        wait_for("the setup window", self.window_ids)
        self.screen.shot("light-not-enrolled")
        phases = [
            (dict(phase="connected", signing_ready=True, last_checkin=iso(10)), "Connected"),
            (dict(phase="connected"), f"Connected {DOT} signing key needed"),
            (dict(phase="connecting"), "Connecting"),
            (dict(phase="offline"), f"Offline {DOT} retrying"),
            (dict(phase="revoked"), "Device no longer managed"),
            (dict(phase="enrollment_error"), "Enrollment needs attention"),
            (dict(phase="stopped"), "Agent is not responding"),
            (dict(phase="update_required"), "Agent update required"),
            (dict(phase="not_enrolled"), "Not connected"),
            (dict(phase="something_new"), "Not connected"),
            # Not rewritten for longer than the check-in interval and 30 s: stale.
            (dict(phase="connected", updated_at=iso(200), next_checkin_seconds=60), "Agent is not responding"),
        ]
        for fields, title in phases:
            with self.subTest(phase=fields["phase"], title=title):
                fields = dict(fields)
                phase = fields.pop("phase")
                self.sim.status(phase, f"Agent says {phase}.", **fields)
                self.expect_title(title, None if "last_checkin" in fields else "No check-in yet")
                if "last_checkin" in fields:
                    self.shoot_both("connected")

        # No status file: the helper decides which advice.
        self.sim.remove("status")
        self.expect_title("Agent update required")
        os.remove(os.path.join(self.libexec, "pelk-device-helper"))
        try:
            self.expect_title("Agent is not responding")
        finally:
            self.install_helper()
        self.sim.raw("status", b'{"phase": 7}')
        self.expect_title("Agent update required")

    def test_second_launch_reopens(self):
        # The close button of the window manager's title bar (it asks with WM_DELETE_WINDOW).
        # A click, not Alt+F4: the window manager's key binding could leave the keyboard
        # grabbed for the steps that follow.
        for wid in self.window_ids():
            run("xdotool", "windowactivate", "--sync", wid)
            info = dict(line.strip().split(": ", 1) for line in run("xwininfo", "-id", wid).splitlines() if ": " in line)
            right = int(info["Absolute upper-left X"]) + int(info["Width"])
            self.screen.click(right - 11, int(info["Absolute upper-left Y"]) - 10)
        wait_for("the window to close", lambda: not self.window_ids())
        self.assertIsNone(self.agent.poll(), "closing the window must not end the application")
        self.open_with_app()
        wait_for("the window to come back", self.window_ids)
        self.assertIsNone(self.agent.poll())

    def write_enrollment(self, name, **overrides):
        profile = {
            "format": "co.pelkcore.agent-enrollment", "version": 1, "role": "helper", "platform": "macos",
            "device_id": 42, "workspace": "Acme", "device_name": "Studio workstation",
            "base_url": "https://acme.pelk.example", "enrollment_token": "t" * 40,
            "expires_at": iso(-3600),
        }
        profile.update(overrides)
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            json.dump(profile, f)
        return path

    def open_with_app(self, *paths):
        self.assertEqual(subprocess.run([AGENT, *paths], env=self.agent_env, timeout=20).returncode, 0)

    def log_size(self, path):
        return os.path.getsize(path) if os.path.exists(path) else 0

    def import_and_check(self, path, shot):
        # Presses the import button and checks what reached the device helper.
        buttons = wait_for("the import button", lambda: len(b := self.screen.prominent_buttons()) >= 2 and b)
        self.screen.shot(shot)
        before = self.log_size(self.helper_log)
        self.screen.click(*buttons[-1])
        wait_for("the helper's run", lambda: self.log_size(self.helper_log) > before)
        type(self).last_import = time.time()
        with open(self.helper_log) as f:
            record = json.loads(f.read()[before:].splitlines()[0])
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.assertEqual(record["args"][0], "--import-enrollment")
        self.assertEqual(record["args"][2:], ["--enrollment-sha256", digest])
        self.assertTrue(os.path.basename(record["args"][1]).startswith("pelk-enrollment-"))
        self.assertEqual(os.path.dirname(record["args"][1]), self.tmp)
        self.assertEqual(record["file_sha256"], digest)
        self.assertEqual(record["result"], 0)
        self.expect_title("Connecting")
        # The private copy is gone once the run returned.
        wait_for("the copy to be removed", lambda: not glob.glob(os.path.join(self.tmp, "pelk-enrollment-*")))

    def test_enrollment_opened_with_the_app(self):
        self.sim.status("not_enrolled", NOT_ENROLLED, updated_at=iso(30))
        path = self.write_enrollment("first.json")
        other = self.write_enrollment("second.json", device_name="Never loaded")
        self.open_with_app(path, other)  # only the first counts
        self.import_and_check(path, "light-selected-file")
        self.screen.shot("light-connecting")
        # pkexec was asked to run the shell with the quoted command line (logged with its newlines).
        with open(self.pkexec_log) as f:
            self.assertIn("/bin/sh -c '/usr/local/libexec/pelk-device-helper' --import-enrollment '" + self.tmp,
                          f.read())

    def test_enrollment_chosen_in_the_dialog(self):
        path = self.write_enrollment("chosen.json", device_name="Chosen workstation")
        buttons = wait_for("the choose button", lambda: self.screen.prominent_buttons())
        self.screen.click(*buttons[0])
        wid = wait_for("the file dialog", lambda: DESK.windows("^Open"))[0]

        def dialog_open():
            return wid in DESK.windows("^Open")

        try:
            # A slow build can show the dialog before it takes the keyboard, and the toolkit can
            # miss the first focus change: hand the focus to the root window and back to the
            # dialog, and type the whole name again, until the dialog takes it.
            root = run("xdotool", "search", "--maxdepth", "0", "")
            for _ in range(5):
                run("xdotool", "windowfocus", "--sync", root)
                run("xdotool", "windowactivate", "--sync", wid)
                run("xdotool", "key", "ctrl+a")
                run("xdotool", "type", "--delay", "10", path)
                run("xdotool", "key", "Return")
                if wait_until(lambda: not dialog_open(), 5):
                    break
        finally:
            # A dialog left open is modal: close it, or every later step would wait on it.
            if dialog_open():
                run("xdotool", "windowactivate", "--sync", wid)
                run("xdotool", "key", "Escape")
        self.assertFalse(dialog_open(), "the dialog did not take the file name")
        self.import_and_check(path, "light-chosen-file")

    def test_dismissed_prompt_and_bad_files(self):
        with open(self.pkexec_mode, "w") as f:
            f.write("dismiss")
        try:
            path = self.write_enrollment("dismissed.json")
            self.open_with_app(path)
            buttons = wait_for("the import button", lambda: len(b := self.screen.prominent_buttons()) >= 2 and b)
            before, helper_runs = self.log_size(self.pkexec_log), self.log_size(self.helper_log)
            self.screen.click(*buttons[-1])
            wait_for("the prompt", lambda: self.log_size(self.pkexec_log) > before)
            self.screen.shot("light-cancelled")
            # Nothing was imported: the agent's own status stays, and no copy is left.
            self.expect_title("Not connected")
            wait_for("no copy left", lambda: not glob.glob(os.path.join(self.tmp, "pelk-enrollment-*")))
            self.assertEqual(self.log_size(self.helper_log), helper_runs)
        finally:
            os.remove(self.pkexec_mode)

        with open(os.path.join(self.work, "not-json.json"), "wb") as f:
            f.write(b"{ this is not json")
        self.write_enrollment("wrong-platform.json", platform="windows")
        self.write_enrollment("expired.json", expires_at=iso(60))
        for name in ("not-json", "wrong-platform", "expired"):
            with self.subTest(file=name):
                self.shot_after("light-error-" + name,
                                lambda: self.open_with_app(os.path.join(self.work, name + ".json")))
        # A refused file reaches no helper and leaves the earlier selection in place.
        self.assertIsNone(self.agent.poll())

    def test_connected_and_dark(self):
        self.open_with_app(self.write_enrollment("kept.json"))
        self.sim.status("connected", "Checked in with the workspace.", device_name="Studio workstation",
                        base_url="https://acme.pelk.example", last_checkin=iso(20), next_checkin_seconds=60,
                        signing_ready=True, browser_history_enabled=True, version="1.4.2")
        self.expect_title("Connected")
        # The selected file stays selected.
        self.screen.shot("light-connected-with-file")
        self.shot_after("dark-connected-with-file", lambda: self.set_dark(True))
        self.shot_after("dark-revoked", lambda: self.sim.status("revoked", "This device was removed from the workspace."))
        self.expect_title("Device no longer managed")
        self.shot_after("dark-selected-file", lambda: self.open_with_app(self.write_enrollment("dark.json")))
        with open(os.path.join(self.work, "bad.json"), "wb") as f:
            f.write(b"{ this is not json")
        self.shot_after("dark-error", lambda: self.open_with_app(os.path.join(self.work, "bad.json")))

    def test_quit_refused_while_locked(self):
        self.sim.lock(message="Locked by IT")
        wait_for("Quit to be disabled", lambda: (m := self.menu()) and m[-1] == ("Quit status app", False))
        self.agent.terminate()  # SIGTERM asks the delegate, which refuses while locked
        self.assertTrue(holds(lambda: self.agent.poll() is None, 1.5))
        self.sim.unlock()
        wait_for("Quit to be enabled", lambda: (m := self.menu()) and m[-1] == ("Quit status app", True))


if __name__ == "__main__":
    in_private_namespace()
    unittest.main(verbosity=2)
