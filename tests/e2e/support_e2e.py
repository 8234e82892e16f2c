#!/usr/bin/python3
"""Remote support end to end: the real pelk-agent and the agent-sim command on a private Xvfb
with a window manager, a mock logind on a private system bus, and the agent directory bound
over a temporary one in a private mount namespace (run through support-e2e.sh).

Usage: support_e2e.py BUILD_DIR OUT_DIR   (screenshots and the last frame go to OUT_DIR)
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

BUILD, OUT = sys.argv[1], sys.argv[2]
AGENT_DIR = "/Library/Application Support/Pelk"
TITLE = "Pelk \u00b7 Remote support"
procs = []
failures = []


def start(args, env=None, **kw):
    p = subprocess.Popen(args, env=env, **kw)
    procs.append(p)
    return p


def check(name, ok, detail=""):
    print(("PASS  " if ok else "FAIL  ") + name + (f"  ({detail})" if detail and not ok else ""), flush=True)
    if not ok:
        failures.append(name)


def wait_for(predicate, timeout=10.0, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def ctl(route, body=None):
    url = f"http://127.0.0.1:{CONTROL}/control/{route}"
    data = None if body is None else json.dumps(body).encode()
    with urllib.request.urlopen(urllib.request.Request(url, data=data, method="POST" if data else "GET"), timeout=5) as r:
        payload = r.read()
        return payload if route == "frame" else json.loads(payload)


def actions(since=0):
    reqs = ctl(f"requests?path=/support&since={since}")["requests"]
    return [(r.get("body") or {}).get("action") for r in reqs]


def serial():
    reqs = ctl("requests")["requests"]
    return reqs[-1]["serial"] if reqs else 0


def xdo(*args):
    return subprocess.run(["xdotool", *args], env=XENV, capture_output=True, text=True).stdout.strip()


def panel():
    ids = xdo("search", "--onlyvisible", "--name", "Remote support").split()
    return ids[0] if ids else None


def geometry(wid):
    out = xdo("getwindowgeometry", "--shell", wid)
    g = dict(line.split("=") for line in out.splitlines() if "=" in line)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def click_in(wid, fx, fy):
    if wid is None:
        return
    x, y, w, h = geometry(wid)
    xdo("mousemove", str(int(x + w * fx)), str(int(y + h * fy)), "click", "1")


def shot(name):
    subprocess.run(["import", "-window", "root", os.path.join(OUT, name)], env=XENV, check=False)


def jpeg_size(data):
    i = 2
    while i < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    return None


def logind(path, interface, method, *args):
    import dbus
    bus = dbus.bus.BusConnection(BUS)
    return getattr(dbus.Interface(bus.get_object("org.freedesktop.login1", path), interface), method)(*args)


def run_agent(extra_env=None):
    env = dict(XENV, DBUS_SYSTEM_BUS_ADDRESS=BUS, XDG_SESSION_ID="e2e", QT_QPA_PLATFORM="xcb")
    env.pop("WAYLAND_DISPLAY", None)
    env.update(extra_env or {})
    return start([os.path.join(BUILD, "src/pelk-agent"), "--background"], env=env)


# Private agent directory, display, window manager, system bus with logind, agent simulator.
os.makedirs(OUT, exist_ok=True)
scratch = tempfile.mkdtemp()
subprocess.run(["mount", "--bind", scratch, AGENT_DIR], check=True)
xvfb = start(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"], stdout=subprocess.PIPE)
XENV = dict(os.environ, DISPLAY=":" + xvfb.stdout.readline().decode().strip())
start(["openbox"], env=XENV, stderr=subprocess.DEVNULL)
BUS = "unix:path=" + os.path.join(scratch, "..", os.path.basename(scratch) + "-bus")
start(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + BUS])
time.sleep(0.5)
start(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
      env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=BUS), stdout=subprocess.DEVNULL)
wait_for(lambda: subprocess.run(["dbus-send", "--address=" + BUS, "--print-reply", "--dest=org.freedesktop.login1",
                                 "/org/freedesktop/login1", "org.freedesktop.DBus.Peer.Ping"],
                                capture_output=True).returncode == 0)
logind("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession", "e2e", "seat0", 1000, "user", True)
sim = start([os.path.join(BUILD, "tools/agent-sim/agent-sim"), "--dir", AGENT_DIR], stdout=subprocess.PIPE)
CONTROL = json.loads(sim.stdout.readline())["control_port"]

try:
    agent = run_agent()
    time.sleep(1.5)

    # Consent: the panel shows the technician; nothing but polls before Allow.
    ctl("offer", {"session_id": "e2e-1", "technician": "Dana Whitfield", "mode": "control", "withdraw_on_end": False})
    wid = wait_for(panel)
    check("offer opens the panel", wid is not None)
    time.sleep(1.5)
    shot("consent.png")
    seen = actions()
    check("only polls before Allow", seen and set(seen) == {"poll"}, seen)

    # Allow (delayed answer, to see "Connecting…"), then sharing.
    ctl("override", {"endpoint": "support", "delay_ms": 2500, "times": 1})
    before = serial()
    click_in(wid, 0.71, 0.715)
    time.sleep(0.8)
    shot("connecting.png")
    check("accept sent", wait_for(lambda: "accept" in actions(before)), actions(before))
    check("simulator active", wait_for(lambda: ctl("state")["support_state"] == "active"))
    wait_for(lambda: ctl("state")["frames"] > 0)  # the delayed accept answer has arrived
    time.sleep(1.0)
    shot("sharing.png")
    f0, t0 = ctl("state")["frames"], time.time()
    time.sleep(4.0)
    rate = (ctl("state")["frames"] - f0) / (time.time() - t0)
    check("frames arrive, at most two a second", 0.5 < rate <= 2.2, rate)
    frame = ctl("frame")
    open(os.path.join(OUT, "frame.jpg"), "wb").write(frame)
    check("frame is a JPEG of the display's size", jpeg_size(frame) == (1280, 800), jpeg_size(frame))

    # Input: pointer position and a typed key into an xev window.
    ctl("events", {"events": [{"type": "move", "x": 0.25, "y": 0.75}]})
    loc = wait_for(lambda: "x:320 y:599" in xdo("getmouselocation") and xdo("getmouselocation"), 5)
    check("move lands on the display", bool(loc), xdo("getmouselocation"))
    xev = start(["xev", "-geometry", "300x200+900+500"], env=XENV, stdout=subprocess.PIPE, text=True)
    time.sleep(1.0)
    ctl("events", {"events": [{"type": "click", "x": 1000 / 1279, "y": 600 / 799},
                              {"type": "key", "key": "KeyQ", "modifiers": ["shift"]}]})
    time.sleep(2.0)
    xev.terminate()
    out = xev.communicate(timeout=5)[0]
    check("click and key reach a window", "ButtonPress" in out and "keysym 0x51, Q" in out, out[-300:])

    # Stop sharing.
    before = serial()
    click_in(wid, 0.19, 0.715)
    check("Stop sharing sends stop", wait_for(lambda: "stop" in actions(before)), actions(before))
    check("panel closes", wait_for(lambda: panel() is None))

    # Decline, and the same offer never returns.
    ctl("offer", {"session_id": "e2e-2", "technician": "Sam", "mode": "view", "withdraw_on_end": False})
    wid = wait_for(panel)
    time.sleep(1.0)
    before = serial()
    click_in(wid, 0.19, 0.715)
    check("Decline sends decline", wait_for(lambda: "decline" in actions(before)), actions(before))
    time.sleep(2.0)
    check("declined offer does not return", panel() is None and "accept" not in actions(before))

    # View only: events are ignored.
    ctl("offer", {"session_id": "e2e-3", "technician": "Sam", "mode": "view"})
    wid = wait_for(panel)
    time.sleep(1.0)
    click_in(wid, 0.71, 0.715)
    wait_for(lambda: ctl("state")["support_state"] == "active")
    xdo("mousemove", "10", "10")
    ctl("events", {"events": [{"type": "move", "x": 0.5, "y": 0.5}]})
    time.sleep(2.0)
    check("view-only mode ignores events", "x:10 y:10" in xdo("getmouselocation"), xdo("getmouselocation"))

    # A logind Lock ends the session within a tick.
    before = serial()
    logind("/org/freedesktop/login1/session/e2e", "org.freedesktop.login1.Session", "Lock")
    check("logind Lock ends the session", wait_for(lambda: "stop" in actions(before), 2), actions(before))
    check("panel closes on lock", wait_for(lambda: panel() is None, 2))

    # The X server blanking the displays (its screen saver, also DPMS's first step) ends one too.
    ctl("offer", {"session_id": "e2e-3b", "technician": "Sam", "mode": "view"})
    wid = wait_for(panel)
    time.sleep(1.0)
    click_in(wid, 0.71, 0.715)
    wait_for(lambda: ctl("state")["support_state"] == "active")
    before = serial()
    subprocess.run(["xset", "s", "activate"], env=XENV, check=True)
    check("screen saver ends the session", wait_for(lambda: "stop" in actions(before), 2), actions(before))
    check("panel closes when the displays sleep", wait_for(lambda: panel() is None, 2))
    subprocess.run(["xset", "s", "reset"], env=XENV, check=True)

    # An expired offer closes the panel without a message.
    ctl("offer", {"session_id": "e2e-4", "technician": "Sam", "mode": "view", "expires_in": 3})
    check("short offer shown", wait_for(panel) is not None)
    before = serial()
    check("expired offer closes the panel", wait_for(lambda: panel() is None, 6))
    time.sleep(1.0)
    check("no message for an expired offer", not {"decline", "stop"} & set(actions(before)), actions(before))

    # Restart notice: not over an offer, once per id.
    ctl("offer", {"session_id": "e2e-5", "technician": "Sam", "mode": "view", "withdraw_on_end": False})
    ctl("restart", {"id": "r-1", "application": "Firefox"})
    wait_for(panel)
    time.sleep(1.5)
    notice = lambda: (xdo("search", "--onlyvisible", "--name", "^Pelk Agent$").split() or [None])[0]
    check("no notice over an offer", notice() is None)
    ctl("offer", {"clear": True})
    nid = wait_for(notice, 5)
    check("notice shown when the offer is gone", nid is not None)
    time.sleep(0.5)
    shot("restart-notice.png")

    # The open notice never blocks the managed lock: it locks, reports presence and takes a PIN.
    ctl("pin", {"pin": "246810"})
    ctl("lock", {"locked": True, "command_uuid": "e2e-lock"})
    presence = lambda: ctl("requests?path=/presence")["requests"]
    check("lock works while the notice is open", wait_for(lambda: len(presence()) >= 2, 6))
    time.sleep(1.0)
    shot("lock-over-notice.png")
    xdo("type", "--delay", "80", "246810")
    xdo("key", "Return")
    check("lock window takes the PIN while the notice is open", wait_for(lambda: not ctl("state")["locked"], 8))
    time.sleep(1.5)
    if nid:
        click_in(nid, 0.85, 0.66)
    check("Got it closes the notice", wait_for(lambda: notice() is None, 5))
    time.sleep(1.5)
    check("notice shown once per id", notice() is None)

    # The error face: a Wayland session cannot be shared.
    ctl("restart", {"clear": True})
    agent.terminate()
    agent.wait(10)
    agent = run_agent({"WAYLAND_DISPLAY": "wayland-0"})
    time.sleep(1.5)
    ctl("offer", {"session_id": "e2e-6", "technician": "Dana Whitfield", "mode": "control"})
    wid = wait_for(panel)
    time.sleep(1.0)
    before = serial()
    click_in(wid, 0.71, 0.715)
    time.sleep(1.0)
    shot("error.png")
    check("Wayland refuses sharing", "accept" not in actions(before) and panel() is not None, actions(before))
finally:
    for p in reversed(procs):
        p.terminate()
    for p in procs:
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
    subprocess.run(["umount", AGENT_DIR], check=False)

print("FAILED: " + ", ".join(failures) if failures else "ALL PASSED")
sys.exit(1 if failures else 0)
