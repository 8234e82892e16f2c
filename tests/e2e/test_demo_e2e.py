#!/usr/bin/python3
# scripts/demo.sh as a newcomer without a display runs it: on its own virtual display, with a
# short duration, reusing the built tree. It must drive itself through every step of its story,
# leave one screenshot per step that shows that step, end by itself soon after its time (it
# unlocks first: the application refuses to end while locked) and leave nothing running.

import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import uuid

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = os.environ["PELK_BUILD_DIR"]
SHOTS = os.environ.get("PELK_E2E_SHOTS") or tempfile.mkdtemp(prefix="pelk-demo-shots.")
DURATION = 35  # the story takes about 20 s
LOCK_BACKGROUND = (18, 23, 33)
WHITE = (255, 255, 255)
SUPPORT = "Pelk \u00b7 Remote support"

# Step, whether the lock covers the screen, the window that must be listed at the step (name and
# width, None for any) and the colour that must fill most of it.
STEPS = [
    ("connected", False, ("Pelk Agent", None), None),
    ("locked", True, None, None),
    ("pin-typed", True, None, None),
    ("support-offer", False, (SUPPORT, None), WHITE),
    ("sharing", False, (SUPPORT, None), WHITE),
    ("restart-notice", False, ("Pelk Agent", 420), WHITE),
    ("locked-again", True, None, None),
]


class Image:
    def __init__(self, path, width, height):
        self.raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        self.width, self.height = width, height
        assert len(self.raw) == width * height * 3, f"{path} is not {width}x{height}"

    def share(self, colour, x=0, y=0, w=None, h=None):
        # The share of pixels (every fourth in both directions) within 3 of colour.
        w, h = w or self.width, h or self.height
        hits = total = 0
        for row in range(y, min(y + h, self.height), 4):
            for col in range(x, min(x + w, self.width), 4):
                i = (row * self.width + col) * 3
                total += 1
                hits += all(abs(self.raw[i + k] - colour[k]) <= 3 for k in range(3))
        return hits / total


def demo_processes(marker):
    # Processes that carry the run's marker in their environment: every descendant of the demo,
    # also those that left its session or its process tree.
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if marker in f.read():
                    found.append(open(f"/proc/{pid}/cmdline", "rb").read().replace(b"\0", b" ").decode())
        except OSError:
            pass
    return found


@unittest.skipUnless(os.geteuid() == 0, "the demo needs root")
class TestDemo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.marker = f"PELK_DEMO_RUN={uuid.uuid4()}"
        env = dict(os.environ, PELK_DEMO_RUN=cls.marker.split("=")[1])
        env.pop("DISPLAY", None)
        demo = subprocess.Popen([os.path.join(ROOT, "scripts", "demo.sh"), "--build", BUILD, "--xvfb",
                                 "--duration", str(DURATION), "--shots", SHOTS],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        cls.lines, cls.started, cls.time_up = [], None, None

        def read():
            for line in demo.stdout:
                print(line, end="", flush=True)
                cls.lines.append(line.rstrip("\n"))
                if "Starting the agent simulator" in line:  # after any wait for another e2e run
                    cls.started = time.monotonic()
                if "Time is up" in line:
                    cls.time_up = time.monotonic()

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        # A deadline, not a timing check: a demo that hangs again must fail, not hold up the suite.
        while demo.poll() is None and not (cls.started and time.monotonic() > cls.started + DURATION + 60):
            time.sleep(0.2)
        cls.ended = time.monotonic()
        hung = demo.poll() is None
        if hung:
            demo.terminate()
            try:
                demo.wait(15)
            except subprocess.TimeoutExpired:
                demo.kill()
                demo.wait()
        reader.join(5)
        demo.stdout.close()
        cls.status = None if hung else demo.returncode
        try:
            with open(os.path.join(SHOTS, "steps.json")) as f:
                cls.record = json.load(f)
        except OSError:
            cls.record = {"screen": [0, 0], "steps": []}  # not one step: the step checks say which
        if cls.time_up:
            print(f"The demo ended {cls.ended - cls.time_up:.1f} s after its time was up "
                  f"({cls.ended - cls.started:.1f} s from its start).")

    def test_ends_by_itself_and_leaves_nothing(self):
        self.assertIsNotNone(self.time_up, "the demo never said its time was up")
        self.assertEqual(self.status, 0, "the demo did not end by itself (None), or failed")
        # It ended locked: the application, which refuses to end while locked, must end of itself.
        self.assertIn("[demo] Pelk Agent ended (unlocked through the agent simulator).", self.lines)
        self.assertEqual(demo_processes(self.marker.encode()), [])
        work = re.search(r"really (/tmp/pelk-demo\.\w+)/agent", "\n".join(self.lines))
        self.assertTrue(work and not os.path.exists(work.group(1)), "the demo's temporary directory is left")

    def test_every_step_said_and_shown(self):
        width, height = self.record["screen"]
        steps = {s["step"]: s for s in self.record["steps"]}
        said = [re.match(r"\[demo\] step (\d)/7 ([\w-]+):", line) for line in self.lines]
        self.assertEqual([m.group(2) for m in said if m], [name for name, *_ in STEPS])
        images = []
        for n, (name, locked, window, fill) in enumerate(STEPS, 1):
            with self.subTest(step=name):
                step = steps[name]
                self.assertEqual(step["file"], f"{n:02d}-{name}.png")
                image = Image(os.path.join(SHOTS, step["file"]), width, height)
                images.append(image)
                # The lock's dark background fills the whole screen, or is nowhere.
                if locked:
                    self.assertGreater(image.share(LOCK_BACKGROUND), 0.9)
                else:
                    self.assertLess(image.share(LOCK_BACKGROUND), 0.02)
                if window:
                    listed = [w for w in step["windows"] if w["name"] == window[0]
                              and window[1] in (None, w["width"]) and w["width"] < width]
                    self.assertTrue(listed, f"no {window} window at this step: {step['windows']}")
                    w = listed[-1]
                    area = (w["x"], w["y"], w["width"], w["height"])
                    self.assertLess(image.share((0, 0, 0), *area), 0.05, "the window is not painted")
                    if fill:
                        self.assertGreater(image.share(fill, *area), 0.5)
        for before, after, (name, *_) in zip(images, images[1:], STEPS[1:]):
            self.assertNotEqual(before.raw, after.raw, f"{name} looks like the step before it")
        # Typing the PIN fills the pad's dots with white.
        self.assertGreater(images[2].share(WHITE), images[1].share(WHITE))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
