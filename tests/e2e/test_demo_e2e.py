#!/usr/bin/python3
# scripts/demo.sh as a newcomer without a display runs it: on its own virtual display, with a
# short duration, reusing the built tree. It must leave one screenshot per step of its story that
# shows that step, end by itself (it unlocks first: the application refuses to end while locked)
# and leave nothing running.

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
from pathlib import Path

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = os.environ["PELK_BUILD_DIR"]
SHOTS = os.environ.get("PELK_E2E_SHOTS") or tempfile.mkdtemp(prefix="pelk-demo-shots.")
DURATION = 35  # the story takes about 20 s
LOCK, WHITE, BLACK = (18, 23, 33), (255, 255, 255), (0, 0, 0)
SUPPORT = "Pelk \u00b7 Remote support"

# Step, whether the lock covers the screen, the window listed then (name, width or None for any)
# and the colour that fills most of it (None: not checked).
STEPS = [
    ("connected", False, "Pelk Agent", None, None),
    ("locked", True, None, None, None),
    ("pin-typed", True, None, None, None),
    ("support-offer", False, SUPPORT, None, WHITE),
    ("sharing", False, SUPPORT, None, WHITE),
    ("restart-notice", False, "Pelk Agent", 420, WHITE),
    ("locked-again", True, None, None, None),
]


class Image:
    def __init__(self, path, width, height):
        self.raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        self.width, self.height = width, height
        assert len(self.raw) == width * height * 3, f"{path} is not {width}x{height}"

    def share(self, colour, x=0, y=0, w=None, h=None):
        # The share of pixels (every fourth in both directions) within 3 of colour.
        cells = [(self.width * row + col) * 3 for row in range(y, min(y + (h or self.height), self.height), 4)
                 for col in range(x, min(x + (w or self.width), self.width), 4)]
        return sum(all(abs(self.raw[i + k] - colour[k]) <= 3 for k in range(3)) for i in cells) / len(cells)


def demo_processes(marker):
    # Processes with the run's marker in their environment: every descendant of the demo, also
    # those that left its session or its process tree.
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if marker in Path(f"/proc/{pid}/environ").read_bytes():
                found.append(Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode())
        except OSError:
            pass
    return found


@unittest.skipUnless(os.geteuid() == 0, "the demo needs root")
class TestDemo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.marker = str(uuid.uuid4())
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"} | {"PELK_DEMO_RUN": cls.marker}
        log = SHOTS.rstrip("/") + ".log"  # beside the screenshots, which the demo itself sets up
        with open(log, "w") as out:
            demo = subprocess.Popen([os.path.join(ROOT, "scripts", "demo.sh"), "--build", BUILD, "--xvfb",
                                     "--duration", str(DURATION), "--shots", SHOTS],
                                    stdout=out, stderr=subprocess.STDOUT, env=env)
        # A deadline counted once the demo starts (after any wait for another e2e run), not a timing
        # check: a demo that hangs must fail, not hold up the suite.
        started = None
        while demo.poll() is None and not (started and time.monotonic() > started + DURATION + 60):
            started = started or ("Starting the agent simulator" in Path(log).read_text() and time.monotonic())
            time.sleep(0.2)
        cls.status = demo.poll()  # None: it hung
        if cls.status is None:
            demo.terminate()
            try:
                demo.wait(15)
            except subprocess.TimeoutExpired:
                demo.kill()
        cls.lines = Path(log).read_text().splitlines()
        print("\n".join(cls.lines), flush=True)

    def test_ends_by_itself_and_leaves_nothing(self):
        self.assertEqual(self.status, 0, "the demo did not end by itself (None), or failed")
        # It ended locked: the application, which refuses to end while locked, must end of itself.
        self.assertIn("[demo] Pelk Agent ended (unlocked through the agent simulator).", self.lines)
        self.assertEqual(demo_processes(f"PELK_DEMO_RUN={self.marker}".encode()), [])

    def test_every_step_shown(self):
        record = json.loads(Path(SHOTS, "steps.json").read_text())
        (width, height), steps = record["screen"], {s["step"]: s for s in record["steps"]}
        images = [Image(os.path.join(SHOTS, steps[name]["file"]), width, height) for name, *_ in STEPS]
        for image, (name, locked, window, window_width, fill) in zip(images, STEPS):
            with self.subTest(step=name):
                # The lock's dark background fills the whole screen, or is nowhere.
                lock = image.share(LOCK)
                self.assertTrue(lock > 0.9 if locked else lock < 0.02, f"the lock covers {lock:.0%}")
                listed = [(w["x"], w["y"], w["width"], w["height"]) for w in steps[name]["windows"]
                          if w["name"] == window and window_width in (None, w["width"]) and w["width"] < width]
                self.assertTrue(listed or not window, f"no {window} window: {steps[name]['windows']}")
                if listed:  # painted, in its colour
                    self.assertLess(image.share(BLACK, *listed[-1]), 0.05, "the window is not painted")
                    if fill:
                        self.assertGreater(image.share(fill, *listed[-1]), 0.5)
        for before, after, (name, *_) in zip(images, images[1:], STEPS[1:]):
            self.assertNotEqual(before.raw, after.raw, f"{name} looks like the step before it")
        # Typing the PIN fills the pad's dots with white.
        self.assertGreater(images[2].share(WHITE), images[1].share(WHITE))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
