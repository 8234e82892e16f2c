#!/usr/bin/python3
# The Debian package as a fresh install would get it: built from this build tree, lintian-clean
# (no errors), valid desktop entries and polkit action, a dependency for every QML module the
# views import, a manual page that renders and names every switch, and its autostart command
# line run from the unpacked package on a private display against the agent simulator, its
# LightDM hooks run as LightDM runs them, against a greeter that fights the lock for the screen.
# (The crash guard's kill scenario is test_lock_e2e's: the package ships that same binary.)

import glob
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from fixture import Desktop, holds, in_private_namespace, wait_until  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
QML = "/usr/lib/x86_64-linux-gnu/qt6/qml"
BUS_NAME = "co.pelkcore.PelkAgent"
ALREADY_RUNNING = 2  # a background start that finds a copy running


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, **kw)


def source(path):
    with open(os.path.join(ROOT, path)) as f:
        return f.read()


def desktop_key(path, key):
    with open(path) as f:
        return re.search(rf"^{key}=(.*)$", f.read(), re.M).group(1)


class TestPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pelk-package.")
        cls.out = cls.tmp.name
        built = run(os.path.join(ROOT, "scripts", "package.sh"), BUILD, cls.out)
        assert built.returncode == 0, built.stderr
        cls.deb = built.stdout.strip().splitlines()[-1]
        cls.root = os.path.join(cls.out, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def test_lintian_finds_no_error(self):
        report = run("lintian", "--fail-on", "error", self.deb)
        print(report.stdout, file=sys.stderr)  # warnings stay visible in the test log
        self.assertEqual(report.returncode, 0, report.stdout + report.stderr)

    def test_desktop_entries_and_polkit_action_are_valid(self):
        entries = [self.path("usr/share/applications/pelk-agent.desktop"),
                   self.path("etc/xdg/autostart/pelk-agent.desktop")]
        checked = run("desktop-file-validate", *entries)
        self.assertEqual((checked.returncode, checked.stdout), (0, ""), checked.stderr)
        policy = glob.glob(self.path("usr/share/polkit-1/actions/*.policy"))
        self.assertEqual(len(policy), 1)
        checked = run("xmllint", "--noout", "--dtdvalid", "/usr/share/polkit-1/policyconfig-1.dtd", *policy)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        # pkexec picks the action by the exact path the application runs; nobody gets it unasked.
        action = ET.parse(policy[0]).find("action")
        helper = re.search(r'kHelperPath \{ "([^"]+)" \}', source("src/boundary/AgentBoundary.h")).group(1)
        self.assertEqual(action.find("annotate[@key='org.freedesktop.policykit.exec.path']").text, helper)
        self.assertLessEqual({d.text for d in action.find("defaults")}, {"no", "auth_admin", "auth_admin_keep"})

    def test_every_imported_qml_module_is_a_dependency(self):
        depends = {d.split()[0] for d in run("dpkg-deb", "-f", self.deb, "Depends").stdout.split(",")}
        wanted, seen = set(), set()
        for qml in glob.glob(os.path.join(ROOT, "src", "**", "*.qml"), recursive=True):
            wanted |= set(re.findall(r"^import (Qt\S*)", source(qml), re.M))
        while wanted:  # a module's qmldir pulls in further modules
            module = wanted.pop()
            seen.add(module)
            qmldir = os.path.join(QML, module.replace(".", "/"), "qmldir")
            owner = run("dpkg", "-S", qmldir).stdout.split(":")[0]
            self.assertIn(owner, depends, module)
            with open(qmldir) as f:
                wanted |= set(re.findall(r"^(?:import|depends) (\S+)", f.read(), re.M)) - seen

    def test_manual_page_renders_every_switch(self):
        page = run("man", "--warnings", "-l", self.path("usr/share/man/man1/pelk-agent.1.gz"),
                   env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
        self.assertEqual((page.returncode, page.stderr), (0, ""))
        code = "".join(source(f"src/app/{f}") for f in os.listdir(os.path.join(ROOT, "src/app")) if f.endswith(".cpp"))
        boundary = source("src/boundary/AgentBoundary.h")  # names the recovery switch (and the helper's, left out)
        switches = set(re.findall(r'"(--[a-z-]+)"', code)) | set(re.findall(r'AdminSwitch \{ "(--[a-z-]+)"', boundary))
        self.assertLessEqual(switches, set(re.findall(r"--[a-z-]+", page.stdout.replace("\u2010", "-"))))

    def test_autostart_command_starts_one_copy(self):
        # The autostart entry and the user unit start the same command; the unpacked binary stands in.
        exec_line = desktop_key(self.path("etc/xdg/autostart/pelk-agent.desktop"), "Exec").split()
        unit = desktop_key(self.path("usr/lib/systemd/user/pelk-agent.service"), "ExecStart").split()
        self.assertEqual(unit, ["/usr/bin/" + exec_line[0]] + exec_line[1:])
        command = [self.path("usr/bin", exec_line[0])] + exec_line[1:]
        desk = Desktop(BUILD)
        try:
            env = dict(desk.env, XDG_RUNTIME_DIR=desk.work)  # Desktop's work directory is private (0700)
            first = desk.start(command, env=env)
            owner = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                     "org.freedesktop.DBus.NameHasOwner", f"string:{BUS_NAME}"]
            wait_until(lambda: first.poll() is not None or "true" in desk.run(*owner).stdout, 20, "the bus name")
            self.assertIsNone(first.poll())
            # A second start at login (the other path) leaves the first alone.
            self.assertEqual(subprocess.run(command, env=env, timeout=20).returncode, ALREADY_RUNNING)
            self.assertIsNone(first.poll())
            first.terminate()
            self.assertEqual(first.wait(10), 0)
        finally:
            desk.close()

    def test_lightdm_hooks_keep_the_lock_above_the_greeter(self):
        conf = open(self.path("usr/share/lightdm/lightdm.conf.d/50-pelk-agent.conf")).read()
        hooks = dict(re.findall(r"^(greeter|session)-setup-script=/(\S+)$", conf, re.M))
        self.assertEqual(set(hooks), {"greeter", "session"})
        checked = run("shellcheck", "-s", "sh", *(self.path(h) for h in hooks.values()))
        self.assertEqual(checked.returncode, 0, checked.stdout)
        desk = Desktop(BUILD, session_bus=False)
        lock = None
        try:
            desk.sim.lock()
            # The greeter's display as LightDM makes it: clients need its cookie.
            auth = os.path.join(desk.work, "xauth")
            cookie = run("mcookie").stdout.strip()
            run("xauth", "-f", auth, "add", ":0", ".", cookie)
            xvfb = desk.start(["Xvfb", "-displayfd", "1", "-auth", auth, "-noreset", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE)
            display = ":" + xvfb.stdout.readline().decode().strip()
            run("xauth", "-f", auth, "add", display, ".", cookie)
            env = {"PATH": os.environ["PATH"], "DISPLAY": display, "XAUTHORITY": auth,
                   "PELK_AGENT": self.path("usr/bin/pelk-agent"), "PELK_RUN_DIR": desk.work}
            self.assertNotEqual(run("xdpyinfo", env=dict(env, XAUTHORITY="/dev/null")).returncode, 0)
            self.assertEqual(run(self.path(hooks["greeter"]), env=env).returncode, 0)  # returns, lock detached
            pid_file = os.path.join(desk.work, f"login-window-{display.replace(':', '_')}.pid")
            lock = int(open(pid_file).read())
            state = os.path.join(desk.work, "greeter")
            greeter = desk.start([sys.executable, os.path.join(HERE, "standin_greeter.py"), state], env=env)
            # The greeter raises itself and grabs every 100 ms; the lock ends above it, holding the keyboard.
            wait_until(lambda: greeter.poll() is None and os.path.exists(state) and open(state).read() == "1 0",
                       30, "the lock above the greeter, holding the keyboard")
            # A session starts while locked: the lock refuses to end until it is released.
            def alive():  # a zombie's command line is empty
                try:
                    return open(f"/proc/{lock}/cmdline").read() != ""
                except OSError:
                    return False

            self.assertEqual(run(self.path(hooks["session"]), env=env).returncode, 0)
            self.assertTrue(holds(alive, 2))
            desk.sim.unlock()
            wait_until(lambda: not alive(), 20, "the greeter's lock to end")
            lock = None
        finally:
            if lock:
                os.kill(lock, signal.SIGKILL)  # its child ends with the display
            desk.close()


if __name__ == "__main__":
    in_private_namespace()
    unittest.main()
