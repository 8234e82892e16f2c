#!/usr/bin/python3
# The lock screen, the consent panel and the setup window as a screen reader meets them: the real
# pelk-agent on the shared fixture with the desktop's accessibility bus, read over AT-SPI and
# driven from the keyboard alone. Prints each screen's tree (and keeps it in PELK_E2E_SHOTS).
import os
import time

from fixture import Desktop, check, finish, holds, in_private_namespace, wait_until

BUILD, OUT = os.environ["PELK_BUILD_DIR"], os.environ.get("PELK_E2E_SHOTS", "")
NOT_ENROLLED = "Drop the enrollment JSON downloaded from Pelk to connect this computer."
REFUSED = "PIN not accepted. Wait a moment and try again, or contact IT."
DIGITS = [str(d) for d in range(1, 10)] + ["Delete", "0"]
ALLOW = "Allow view and control"
SETUP = [("label", "Connect your device"), ("panel", "Drop your enrollment JSON here"),
         ("push button", "Choose enrollment file"), ("label", "Not connected"), ("label", NOT_ENROLLED)]
LOCK = [("label", "This device is managed and locked"), ("label", "Locked by IT"), ("label", "Enter unlock PIN"),
        ("label", "Unlock PIN, 0 digits entered")] + [("push button", k) for k in DIGITS + ["Unlock"]]
PANEL = [("label", "Remote support request"), ("label", "Pelk Support"),
         ("label", "Dana is requesting permission to view your main display and control your keyboard and mouse."),
         ("label", "Close private documents before allowing access. You can stop at any time. The session lasts "
                   "up to 20 minutes and ends if either person disconnects."),
         ("push button", "Decline"), ("push button", ALLOW)]
in_private_namespace()
desk = Desktop(BUILD)
try:
    # The desktop's accessibility bus, found (like every AT-SPI client finds it) over the session bus.
    desk.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    os.environ.update(DISPLAY=desk.env["DISPLAY"], DBUS_SESSION_BUS_ADDRESS=desk.env["DBUS_SESSION_BUS_ADDRESS"])
    import pyatspi
    from gi.repository import GLib

    shown, focus = [], {}  # alerts that appeared (what a screen reader announces), where the focus went
    pyatspi.Registry.registerEventListener(
        lambda e: e.detail1 and e.source.getRole() == pyatspi.ROLE_ALERT and shown.append(e.source.name),
        "object:state-changed:showing")
    pyatspi.Registry.registerEventListener(lambda e: e.detail1 and focus.update(node=e.source),
                                           "object:state-changed:focused")

    def until(condition, what=None, timeout=15):
        def pumped():  # events arrive through the main loop
            while GLib.MainContext.default().iteration(False):
                pass
            return condition()
        return wait_until(pumped, timeout, what)

    def app():
        return next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Pelk Agent"), None)

    def nodes(acc, depth=0):
        # (depth, role, name, node) of what is on screen, in reading order.
        if depth == 0 or acc.getState().contains(pyatspi.STATE_SHOWING):
            yield depth, acc.getRoleName(), acc.name, acc
            for child in acc:
                yield from (nodes(child, depth + 1) if child else ())

    def frame(title, marker):
        return until(lambda: next((f for f in (app() or []) if f and f.name == title
                                   and any(n[2] == marker for n in nodes(f))), None), f"the {marker!r} screen")

    def focused():
        node = focus.get("node")
        return node.name if node and node.getState().contains(pyatspi.STATE_FOCUSED) else None

    def node(f, name):
        return next(n[3] for n in nodes(f) if n[2] == name)

    def screen(label, f, expected):
        tree = "\n".join("  " * d + f"[{role}] {name!r}" for d, role, name, _ in nodes(f))
        print(f"--- {label}\n{tree}", flush=True)
        if OUT:
            os.makedirs(OUT, exist_ok=True)
            open(os.path.join(OUT, f"a11y-{label}.txt"), "w").write(tree + "\n")
        present = {(role, name) for _, role, name, _ in nodes(f)}
        check(f"{label}: every control named, with its role", set(expected) <= present, set(expected) - present)

    def tabs(f, order, key="Tab"):
        seen = []
        for expected in order:
            desk.xdo("key", key)
            until(lambda: focused() == expected, timeout=5)
            seen.append(focused())
        check(f"{key} walks {f.name!r} in reading order", seen == order, seen)

    def support(action):
        return [r for r in desk.sim.requests("/support") if r["body"]["action"] == action]

    desk.sim.status("not_enrolled", NOT_ENROLLED)
    desk.sim.set_pin("246810")
    os.mkdir(os.path.join(desk.work, "run"), 0o700)
    agent = [os.path.join(BUILD, "src", "pelk-agent")]
    env = dict(desk.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_RUNTIME_DIR=os.path.join(desk.work, "run"),
               DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent")  # no logind: the session counts as unlocked
    desk.start(agent, env=env)

    # The setup window, and its error line announced as it appears.
    setup = frame("Pelk Agent", "Connect your device")
    screen("setup", setup, SETUP)
    desk.xdo("windowactivate", "--sync", desk.windows("^Pelk Agent$")[0])
    tabs(setup, ["Choose enrollment file"] * 2)
    bad = os.path.join(desk.work, "bad.json")
    open(bad, "w").write("{")
    desk.start(agent + [bad], env=env).wait(20)  # handed to the running copy
    error = until(lambda: shown and shown[-1], "the enrollment error announced")
    check("setup error line is an alert", node(setup, error).getRole() == pyatspi.ROLE_ALERT, error)

    # The lock: the field says the dot count (never the digits), Tab reaches every key, Space
    # presses one, and a refused PIN is announced.
    desk.sim.lock(message="Locked by IT")
    lock = frame("Pelk Agent", "This device is managed and locked")
    screen("lock", lock, LOCK)
    check("the PIN field has the focus", until(lambda: focused() == "Unlock PIN, 0 digits entered", timeout=10))
    desk.xdo("type", "--delay", "80", "111111")
    field = until(lambda: focused() == "Unlock PIN, 6 digits entered" and node(lock, focused()), "six dots")
    check("the field never shows the PIN", field.queryText().getText(0, -1) == "")
    tabs(lock, DIGITS + ["Unlock", "Unlock PIN, 6 digits entered"])
    desk.xdo("key", "Return")
    until(lambda: REFUSED in shown, "the refusal announced")
    screen("lock-refused", lock, [("alert", REFUSED)])
    tabs(lock, ["1"])
    desk.xdo("key", "space")
    until(lambda: focused() == "Unlock PIN, 1 digits entered", "a digit pressed with Space")
    desk.sim.unlock()

    # The consent panel: Tab reaches Decline, then Allow; a key held down as the panel appears
    # (pressed before it, still repeating when the focus lands on Allow) grants nothing; a fresh
    # press of Enter on Allow does.
    for n, key in enumerate(["Return", "space"]):
        desk.xdo("keydown", key)
        desk.sim.control("offer", {"session_id": f"a11y-{n}", "technician": "Dana", "mode": "control"})
        panel = frame("Pelk \u00b7 Remote support", ALLOW)
        desk.xdo("windowactivate", desk.windows("Remote support")[0])
        node(panel, ALLOW).queryComponent().grabFocus()
        until(lambda: focused() == ALLOW, "Allow focused")
        time.sleep(1)  # the key keeps repeating on Allow (no event marks that it did)
        desk.xdo("keyup", key)
        check(f"{key} held down grants nothing", holds(lambda: not support("accept") and not support("decline")
                                                         and desk.windows("Remote support"), 2), support("accept"))
        if n == 0:
            screen("consent", panel, PANEL)
        desk.sim.withdraw_offer()
        until(lambda: not desk.windows("Remote support"), "the panel to close")
    desk.sim.control("offer", {"session_id": "a11y-fresh", "technician": "Dana", "mode": "control"})
    panel = frame("Pelk \u00b7 Remote support", ALLOW)
    desk.xdo("windowactivate", "--sync", desk.windows("Remote support")[0])
    tabs(panel, ["Decline", ALLOW, "Decline", ALLOW])
    desk.xdo("key", "Return")
    check("Enter on Allow grants", until(lambda: support("accept"), timeout=5))
finally:
    desk.close()

finish()
