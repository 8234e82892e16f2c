#!/usr/bin/python3
# What every end-to-end run stands on: a private mount namespace where the agent directory is an
# empty temporary one, a private Xvfb display (waited for until it answers) with a window manager,
# private D-Bus buses and the agent simulator, all ended again by close().
#
# As a command it runs another one on such a display (the C++ lock suite, the benchmark):
# fixture.py [--screens 2] command args...     (sees DISPLAY and PELK_E2E_AGENT_DIR)

import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "agent-sim"))
from agentsim import AgentSim  # noqa: E402

AGENT_DIR = "/Library/Application Support/Pelk"


def wait_until(condition, timeout=10.0, what=None):
    # The first true value of condition(), polled until the deadline; AssertionError after it.
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    if not value and what:
        raise AssertionError(f"timed out waiting for {what}")
    return value


def holds(condition, seconds):
    # Whether condition() stays true for that long: for what must not happen, which no event marks.
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not condition():
            return False
        time.sleep(0.1)
    return bool(condition())


failures = []


def check(name, ok, detail=""):
    # One named expectation of a scenario script: printed, and remembered when it failed.
    print(("PASS  " if ok else "FAIL  ") + name + (f"  ({detail})" if detail and not ok else ""), flush=True)
    if not ok:
        failures.append(name)


def finish():
    # Ends a scenario script with the verdict of its checks.
    print("FAILED: " + ", ".join(failures) if failures else "ALL PASSED")
    sys.exit(1 if failures else 0)


def capture(env=None):
    # The root window of env's display (this process's by default) as raw RGB bytes.
    return subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=env, capture_output=True,
                          timeout=30).stdout


def still_screen(env=None, changed_from=None, settle=True):
    # A capture once the screen differs from changed_from (a capture; the change is waited for,
    # not required) and, if settle, two captures in a row agree (for at most 5 s each).
    frames = [changed_from]
    if changed_from is not None:
        wait_until(lambda: frames.append(capture(env)) or frames[-1] != changed_from, 5)
    if settle:
        wait_until(lambda: frames.append(capture(env)) or frames[-1] == frames[-2], 5)
    return frames[-1] if frames[-1] is not None else capture(env)


def in_private_namespace():
    # Re-runs this program in a private mount namespace unless it already is in one; the agent
    # directory's missing path parts are made for the bind mount and removed exactly afterwards.
    if os.environ.get("PELK_E2E_IN_NAMESPACE") == "1":
        return
    # One run at a time on this machine, whichever tree it comes from: removing a mount point
    # that another run still uses would detach its agent directory.
    lock = open("/tmp/pelk-e2e.lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    made, part = [], ""
    for piece in AGENT_DIR.strip("/").split("/"):
        part += "/" + piece
        if not os.path.exists(part):
            os.mkdir(part)
            made.append(part)
    env = dict(os.environ, PELK_E2E_IN_NAMESPACE="1")
    status = subprocess.call(["unshare", "--mount", "--propagation", "private", sys.executable, *sys.argv],
                             env=env)
    for path in reversed(made):
        try:
            os.rmdir(path)
        except OSError:
            print(f"could not remove {path} (not empty?)", file=sys.stderr)
    sys.exit(status)


class Desktop:
    def __init__(self, build=None, screens=1, session_bus=True, simulator=True):
        self.work = tempfile.mkdtemp(prefix="pelk-e2e.")
        self.procs = []
        os.mkdir(os.path.join(self.work, "agent"))
        subprocess.run(["mount", "--bind", os.path.join(self.work, "agent"), AGENT_DIR], check=True)
        try:
            self._start(build, screens, session_bus, simulator)
        except BaseException:
            self.close()
            raise

    def _start(self, build, screens, session_bus, simulator):
        geometry = ["-screen", "0", "1280x800x24"]
        if screens == 2:  # two Xinerama heads side by side
            geometry += ["-screen", "1", "1024x768x24", "+xinerama"]
        xvfb = self.start(["Xvfb", "-displayfd", "1", "-noreset", "-nolisten", "tcp", *geometry], stdout=subprocess.PIPE)
        self.env = dict(os.environ, DISPLAY=":" + xvfb.stdout.readline().decode().strip(), QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        # -noreset: without it the server resets when this probe disconnects, and a client
        # connecting at that moment (the window manager) is refused.
        wait_until(lambda: self.run("xdpyinfo").returncode == 0, what="Xvfb")
        # Under load the window manager can take a while, and a display it never managed would fail later.
        wm_log = open(os.path.join(self.work, "openbox.log"), "w")
        wm = self.start(["openbox"], stdout=wm_log, stderr=wm_log)
        if not wait_until(lambda: wm.poll() is not None or "window id" in self.run(
                "xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout, 30) or wm.poll() is not None:
            raise AssertionError("the window manager did not start: " + open(wm_log.name).read())
        if session_bus:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus()
        self.sim = AgentSim(os.path.join(build, "tools", "agent-sim", "agent-sim"), AGENT_DIR) if simulator else None

    def start(self, args, env=None, **kw):
        # A process ended by close(), in this display's environment unless given another.
        p = subprocess.Popen(args, env=env or getattr(self, "env", None), **kw)
        self.procs.append(p)
        return p

    def start_bus(self):
        # A private bus daemon; its address.
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)  # its fd-limit complaint
        return bus.stdout.readline().strip()

    def run(self, *args):
        return subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=30)

    def capture(self):
        return capture(self.env)

    def shot(self, path, changed_from=None, settle=True):
        # A PNG of the root window once it changed and is still (see still_screen); the last capture.
        frame = still_screen(self.env, changed_from, settle)
        self.run("import", "-window", "root", path)
        return frame

    def xdo(self, *args):
        return self.run("xdotool", *args).stdout.strip()

    def windows(self, name):
        # Visible windows whose name matches the pattern.
        return self.xdo("search", "--onlyvisible", "--name", name).split()

    def pointer(self):
        loc = dict(f.split(":") for f in self.xdo("getmouselocation").split() if ":" in f)
        return int(loc["x"]), int(loc["y"])

    def close(self):
        if getattr(self, "sim", None):
            self.sim.stop()
        # Newest first, each gone before the next: the agent ends before the display it draws on.
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        subprocess.run(["umount", AGENT_DIR], check=False)
        shutil.rmtree(self.work, ignore_errors=True)


if __name__ == "__main__":
    in_private_namespace()
    args, screens = sys.argv[1:], 1
    if args[:1] == ["--screens"]:
        screens, args = int(args[1]), args[2:]
    desktop = Desktop(screens=screens, session_bus=False, simulator=False)
    try:
        sys.exit(subprocess.call(args, env=dict(desktop.env, PELK_E2E_AGENT_DIR=AGENT_DIR)))
    finally:
        desktop.close()
