#!/usr/bin/python3
"""Session lock latency: from a key on the compositor's keyboard to the PIN pad's new picture
committed on the compositor's lock surface, with pelk-agent against tests/platform's
fake-lock-compositor (ext-session-lock-v1), for one output of the given geometry and scale.

    /usr/bin/python3 bench/session_lock_latency.py BUILD_DIR [--output WxH+X+Y[*SCALE]] [--keys N]

BUILD_DIR is a tree built with its tests (the fake compositor is one of them). It needs root, as
the e2e tests do (the agent directory is bind-mounted in a private namespace)."""

import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "agent-sim"))
from agentsim import AgentSim  # noqa: E402
from fixture import AGENT_DIR, Desktop, in_private_namespace, wait_until  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--output", default="1920x1080+0+0")
    parser.add_argument("--keys", type=int, default=40)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    in_private_namespace()
    desk = Desktop(build, simulator=False)
    try:
        desk.sim = AgentSim(os.path.join(build, "tools", "agent-sim", "agent-sim"), AGENT_DIR)
        run = os.path.join(desk.work, "run")
        os.mkdir(run, 0o700)
        env = dict(desk.env, XDG_RUNTIME_DIR=run)
        lines = []
        fake = desk.start([os.path.join(build, "tests", "platform", "fake-lock-compositor"), "pelk-bench",
                           "--output", args.output], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        threading.Thread(target=lambda: [lines.append((time.monotonic(), line.strip())) for line in fake.stdout],
                         daemon=True).start()
        wait_until(lambda: any(line == "ready" for _, line in lines), 10, "the compositor")
        desk.sim.lock(message="Locked by IT")
        desk.start([os.path.join(build, "src", "pelk-agent"), "--background"],
                   env=dict(env, WAYLAND_DISPLAY="pelk-bench", XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway"))
        wait_until(lambda: desk.sim.requests("/presence"), 60, "the lock")
        time.sleep(2)
        latencies = []
        for n in range(args.keys):
            start, sent = len(lines), time.monotonic()
            # A digit, then Backspace: every key changes the dots.
            fake.stdin.write("key 3\n" if n % 2 == 0 else "key 14\n")
            fake.stdin.flush()
            wait_until(lambda: any(line.startswith("commit") for _, line in lines[start:]), 10, "a new picture")
            latencies.append(next(t for t, line in lines[start:] if line.startswith("commit")) - sent)
            time.sleep(0.2)
        ms = sorted(1000 * t for t in latencies)
        print(f"output {args.output}: key to committed picture over {len(ms)} keys: "
              f"median {statistics.median(ms):.1f} ms, 90th {ms[int(0.9 * (len(ms) - 1))]:.1f} ms, max {ms[-1]:.1f} ms")
        return 0
    finally:
        desk.close()


if __name__ == "__main__":
    sys.exit(main())
