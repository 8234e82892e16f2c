#!/usr/bin/python3
# The lock in a GNOME Wayland session: the real pelk-agent in headless Mutter 43 (with Xwayland)
# (gnome_wayland.py), and wev as the Wayland client that had the keyboard. Keys are typed through
# Mutter's remote-desktop API, as a keyboard would. Mutter reads the package's GSettings override
# (allowing the PIN pad's Xwayland grab).
# Headless Mutter runs no GNOME Shell, so GNOME's own lock screen cannot come up: the fallback is
# checked as the Lock request logind gets (the lock screen itself is GNOME's).

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fixture import in_private_namespace, wait_until  # noqa: E402
from gnome_wayland import SKIP, GnomeWayland  # noqa: E402

BUILD = os.environ["PELK_BUILD_DIR"]
PIN, SHIFT, SUPER, ESCAPE, RETURN = "123456", 0xFFE1, 0xFFEB, 0xFF1B, 0xFF0D


def main():
    in_private_namespace()
    if not all(map(shutil.which, ("mutter", "Xwayland", "wev"))):
        print("mutter, xwayland and wev are needed (scripts/install-deps.sh)", file=sys.stderr)
        return SKIP
    desk = GnomeWayland(BUILD, pin=PIN)
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
        desk.start([os.path.join(BUILD, "src", "pelk-agent"), "--background"], env=env)
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
        os.makedirs(os.path.dirname(desk.settings), exist_ok=True)
        with open(desk.settings, "w") as f:
            f.write("[org/gnome/mutter/wayland/keybindings]\nrestore-shortcuts=['<Super>Escape']\n")
        wait_until(lambda: desk.lock_requests() > 0, 20, "the session locked through logind")
        return 0
    finally:
        desk.close()


if __name__ == "__main__":
    sys.exit(main())
