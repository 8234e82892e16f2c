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
DURATION = 90  # the story takes about 20 s; the rest is for a loaded machine
LOCK, WHITE = (18, 23, 33), (255, 255, 255)
# The story's steps, and whether the lock covers the screen in each. (That the windows of each
# step are there is what the story waits for before its screenshot; that they work is the other
# e2e suites'.)
STEPS = [("connected", False), ("locked", True), ("pin-typed", True), ("support-offer", False), ("sharing", False),
         ("restart-notice", False), ("locked-again", True)]


def share(raw, colour):
    # The share of pixels (every 7th) within 3 of colour.
    cells = range(0, len(raw) - 2, 3 * 7)
    return sum(all(abs(raw[i + k] - colour[k]) <= 3 for k in range(3)) for i in cells) / len(cells)


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
        self.assertEqual([s["step"] for s in record["steps"]], [name for name, _ in STEPS])
        images = [subprocess.run(["convert", os.path.join(SHOTS, s["file"]), "-depth", "8", "rgb:-"],
                                 capture_output=True, check=True).stdout for s in record["steps"]]
        for image, (name, locked) in zip(images, STEPS):
            # The lock's dark background fills the whole screen, or is nowhere.
            lock = share(image, LOCK)
            self.assertTrue(lock > 0.9 if locked else lock < 0.02, f"the lock covers {lock:.0%} in {name}")
        for before, after, (name, _) in zip(images, images[1:], STEPS[1:]):
            self.assertNotEqual(before, after, f"{name} looks like the step before it")
        # Typing the PIN fills the pad's dots with white.
        self.assertGreater(share(images[2], WHITE), share(images[1], WHITE))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
