#!/usr/bin/python3
# Remote support in a GNOME Wayland session: the real pelk-agent shares headless Mutter 43's screen
# through Mutter's screen cast (read from PipeWire) and drives it through Mutter's remote-desktop
# session (gnome_wayland.py sets the session up). An xev window on Xwayland is what is on screen
# and says where the pointer went and which buttons came. The consent is typed through the test's
# own remote-desktop keyboard. Headless Mutter's virtual monitor has a single mode, so a resolution
# change cannot be made here (X11's is support_e2e.py's).

import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fixture import check, failures, finish, in_private_namespace, wait_until  # noqa: E402
from gnome_wayland import SKIP, GnomeWayland  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
SHIFT, TAB, RETURN = 0xFFE1, 0xFF09, 0xFF0D


def mean_colour(jpeg, x, y, w, h):
    # The average red, green and blue of a part of a JPEG picture.
    return tuple(subprocess.run(["convert", "jpeg:-", "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-scale", "1x1!",
                                 "-depth", "8", "rgb:-"], input=jpeg, capture_output=True, timeout=30).stdout)


def main():
    in_private_namespace()
    if not all(map(shutil.which, ("mutter", "Xwayland", "pipewire", "wireplumber", "xev", "convert"))):
        print("mutter, xwayland, pipewire, wireplumber, xev and imagemagick are needed", file=sys.stderr)
        return SKIP
    desk = GnomeWayland(BUILD, pipewire=True)
    sim = desk.sim
    try:
        xev_log = os.path.join(desk.work, "xev.log")
        desk.start(["stdbuf", "-oL", "xev", "-geometry", "512x768+512+0", "-name", "pelk-xev"],
                   stdout=open(xev_log, "w"))
        wait_until(lambda: desk.windows("^pelk-xev$"), 20, "the xev window")
        # Mutter adds the remote-desktop keyboard with its first key: a Shift, until xev sees one.
        wait_until(lambda: desk.type(SHIFT) or "KeyPress" in open(xev_log).read(), 20, "the keyboard")
        env = dict(desk.env, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_ID="w1")
        desk.start([os.path.join(BUILD, "src", "pelk-agent"), "--background"], env=env)

        def actions():
            return [(r.get("body") or {}).get("action") for r in sim.requests("/support")]

        def consent(session_id):
            # Consent by keys: Tab reaches Decline, then Allow, and Return presses it; then frames.
            frames, before = sim.state()["frames"], len(actions())
            sim.control("offer", {"session_id": session_id, "technician": "Sam", "mode": "control"})
            panel = wait_until(lambda: desk.windows("Remote support"), 30, "the consent panel")
            wait_until(lambda: desk.xdo("getwindowfocus") in panel, 20, "the panel with the keyboard")
            [desk.type(key) for key in (TAB, TAB, RETURN)]
            check(f"{session_id}: the consent typed through Mutter sends accept",
                  wait_until(lambda: "accept" in actions()[before:], 30), actions()[before:])
            check(f"{session_id}: Mutter's screen cast gives frames",
                  wait_until(lambda: sim.state()["frames"] >= frames + 2, 30), sim.state())

        consent("wl-1")
        if failures:
            print(open(os.path.join(desk.work, "mutter.log")).read()[-3000:], file=sys.stderr)
            return 1

        # Frames at the monitor's own size (1024 fits in 1440), showing the white xev window on the
        # right and Mutter's blue background on the left (the panel is in the middle).
        frame = sim.frame()
        size = subprocess.run(["identify", "-format", "%wx%h", "jpeg:-"], input=frame, capture_output=True).stdout
        check("frames come at the monitor's size", size == b"1024x768", size)
        window, background = mean_colour(frame, 800, 600, 200, 150), mean_colour(frame, 20, 20, 220, 700)
        check("frames show what is on screen", min(window) > 200 and background[2] > background[0] + 30,
              (window, background))

        # A move lands at its fraction of the monitor; a right click and a scroll up reach the xev
        # window (on the right half, below the panel), and then a key with Shift held, by place.
        seen = lambda: open(xev_log).read()  # noqa: E731
        at = lambda x, y: {"x": x / 1023, "y": y / 767}  # noqa: E731  (fractions of the last pixel)
        sim.events([dict(at(900, 100), type="move")])
        check("a move lands where the technician pointed",
              wait_until(lambda: "root:(900,100)" in seen(), 20), re.findall(r"root:\(\d+,\d+\)", seen())[-3:])
        sim.events([dict(at(900, 650), type="click", button="right"), dict(at(900, 650), type="scroll", delta=2)])
        pressed = lambda: re.findall(r"ButtonPress.*\n.*root:\((\d+,\d+)\).*\n.*button (\d+)", seen())  # noqa: E731
        check("a right click is button 3 where it was aimed, a scroll up is button 4",
              wait_until(lambda: {("900,650", "3"), ("900,650", "4")} <= set(pressed()), 20), pressed())
        # The click gave xev the focus, which Mutter hands over in its own time: the key goes after it.
        wait_until(lambda: desk.xdo("getwindowfocus") in desk.windows("^pelk-xev$"), 20, "xev with the keyboard")
        sim.events([{"type": "key", "key": "KeyQ", "modifiers": ["shift"]}])
        check("a key with Shift reaches the window", wait_until(lambda: "keysym 0x51, Q)" in seen(), 20),
              seen()[-600:])

        # The managed lock ends sharing.
        before = len(actions())
        sim.lock(message="Locked by IT")
        check("the managed lock ends sharing with stop", wait_until(lambda: "stop" in actions()[before:], 30),
              actions()[before:])

        # The screen cast ending (PipeWire gone) withdraws capture: the controller ends sharing.
        sim.unlock()
        wait_until(lambda: not desk.windows("^Pelk Agent$"), 30, "the lock windows to close")
        consent("wl-2")
        before = len(actions())
        desk.pipewire_daemon.terminate()
        check("the cast ending ends sharing with stop", wait_until(lambda: "stop" in actions()[before:], 30),
              actions()[before:])
    finally:
        desk.close()
    finish()


if __name__ == "__main__":
    sys.exit(main())
