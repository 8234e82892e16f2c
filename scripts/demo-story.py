#!/usr/bin/python3
# The person at the keyboard for scripts/demo.sh on a virtual display, where nobody can type:
# follows the simulator's demo scenario once through, acts where a user would (types the PIN,
# allows the support offer, stops sharing), saves one screenshot per step and says on the
# terminal what happened. steps.json beside the screenshots lists, per step, the visible windows
# at the moment of its screenshot. Standard library, xdotool,
# ImageMagick's import and the waits of the e2e fixture (tests/e2e/fixture.py).
#
#   demo-story.py CONTROL_URL SHOTS_DIR PIN        (on $DISPLAY)

import glob
import json
import os
import subprocess
import sys
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from fixture import still_screen, wait_until  # noqa: E402

CONTROL, SHOTS, PIN = sys.argv[1:4]
PELK_WINDOW = "^Pelk Agent$"  # the setup window, the restart notice and the lock windows
# The consent panel, "Pelk · " and a title in the session's language; ASCII only, since xdotool
# matches the name as bytes of the C locale.
SUPPORT_WINDOW = "^Pelk [^A]"


def say(line):
    print(f"[demo] {line}", flush=True)


def state():
    with urllib.request.urlopen(CONTROL + "/state", timeout=5) as reply:
        return json.load(reply)


def presence_requests():
    with urllib.request.urlopen(CONTROL + "/requests?path=/presence", timeout=5) as reply:
        return len(json.load(reply)["requests"])


def xdo(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10).stdout.strip()


def geometry(wid):
    # Where the window's contents are on the screen (xdotool counts a window manager's frame twice).
    info = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True, timeout=10).stdout
    fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
    keys = {"x": "Absolute upper-left X", "y": "Absolute upper-left Y", "width": "Width", "height": "Height"}
    try:
        return {k: int(fields[v]) for k, v in keys.items()}
    except (KeyError, ValueError):
        return None  # gone meanwhile


def windows(pattern):
    # Visible windows whose name matches, with their geometry.
    found = []
    for wid in xdo("search", "--onlyvisible", "--name", pattern).split():
        g = geometry(wid)
        if g:
            found.append(dict(g, id=wid, name=xdo("getwindowname", wid)))
    return found


SCREEN_W, SCREEN_H = (int(v) for v in xdo("getdisplaygeometry").split())


def full_screen(w):
    return w["width"] >= SCREEN_W and w["height"] >= SCREEN_H


def lock_shown():
    return any(full_screen(w) for w in windows(PELK_WINDOW))


def click_in(w, fx, fy):
    xdo("mousemove", str(w["x"] + int(w["width"] * fx)), str(w["y"] + int(w["height"] * fy)), "click", "1")


steps, total = [], 7


def shot(name, said, changed_from=None):
    # Waits for the screen to differ from changed_from (if given, at most 5 s) and to stop
    # changing, then saves it as the step's screenshot and says what happened.
    frame = still_screen(changed_from=changed_from)
    file = f"{len(steps) + 1:02d}-{name}.png"
    subprocess.run(["import", "-window", "root", os.path.join(SHOTS, file)], timeout=30, check=True)
    listed = [{k: v for k, v in w.items() if k != "id"} for p in (PELK_WINDOW, SUPPORT_WINDOW) for w in windows(p)]
    steps.append({"step": name, "file": file, "said": said, "windows": listed})
    with open(os.path.join(SHOTS, "steps.json"), "w") as out:
        json.dump({"screen": [SCREEN_W, SCREEN_H], "steps": steps}, out, indent=1)
    say(f"step {len(steps)}/{total} {name}: {said} ({file})")
    return frame


def story():
    setup = wait_until(lambda: [w for w in windows(PELK_WINDOW) if not full_screen(w)], 20, "the setup window")[0]
    shot("connected", "the setup window is open; the agent reports this computer connected to Acme Corp")

    wait_until(lambda: state()["locked"] and lock_shown(), 20, "the agent's lock")
    # The lock reports its presence once it holds the screen and the keyboard.
    wait_until(presence_requests, 20, "the lock's presence report")
    locked = shot("locked", "the agent locked the computer; the lock screen shows the administrator's message")

    xdo("type", "--delay", "150", PIN)
    shot("pin-typed", f"typed the PIN {PIN} on the pad", changed_from=locked)
    xdo("key", "Return")
    wait_until(lambda: not state()["locked"] and not lock_shown(), 10, "the PIN to unlock")
    say("  the agent accepted the PIN and unlocked the computer")

    panel = wait_until(lambda: windows(SUPPORT_WINDOW), 20, "the support offer")[0]
    offer = shot("support-offer", "a technician asks to view the screen; the consent panel asks the user")
    click_in(panel, 0.72, 0.775)  # Allow
    wait_until(lambda: state()["support_state"] == "active" and state()["frames"] >= 3, 20, "frames shared")
    shot("sharing", f"allowed: the screen is shared ({state()['frames']} frames sent so far)", changed_from=offer)
    click_in(panel, 0.19, 0.775)  # Stop sharing
    wait_until(lambda: not windows(SUPPORT_WINDOW), 10, "the session to end")
    say("  stopped sharing; the agent ended the session")

    wait_until(lambda: [w for w in windows(PELK_WINDOW) if w["id"] != setup["id"] and not full_screen(w)], 20,
               "the restart notice")
    shot("restart-notice", "the agent announces that Firefox needs a restart")

    wait_until(lambda: state()["locked"] and lock_shown(), 20, "the lock again")
    wait_until(lambda: presence_requests() >= 2, 20, "the lock's presence report")
    shot("locked-again", "the agent locked the computer again")


os.makedirs(SHOTS, exist_ok=True)
for old in glob.glob(os.path.join(SHOTS, "[0-9][0-9]-*.png")) + glob.glob(os.path.join(SHOTS, "steps.json")):
    os.remove(old)
try:
    story()
    say(f"The story is done; screenshots in {SHOTS}. The demo runs on (locked) until it is stopped.")
except AssertionError as missed:  # a wait_until that timed out
    say(f"step {len(steps) + 1}/{total}: {missed}; the demo runs on without its driver.")
except (OSError, ValueError, subprocess.SubprocessError) as error:
    say(f"the demo's driver stopped: {error}")
