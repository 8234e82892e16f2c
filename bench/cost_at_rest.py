#!/usr/bin/python3
"""Cost at rest: Pelk Agent in the background (enrolled, no window) beside a bare Qt Quick
application running the same three timers, measured over the same seconds in one run.

Run through bench/run-cost-at-rest.sh (display, session bus, private agent directory).
Reports, per process: CPU (% of one core), wakeups per second (context switches of all its
threads) and resident memory (VmRSS, the peak VmHWM beside it)."""

import argparse
import datetime
import os
import sys
import tempfile
import time
import subprocess

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools", "agent-sim"))
from agentsim import AgentSim  # noqa: E402

def cpu_seconds(pid):
    """CPU time of all threads, from the scheduler's nanosecond counters (finer than ticks)."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass
    return total / 1e9


def switches(pid):
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that ended between the listing and the read
    return total


def memory(pid):
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM", "Threads"):
                values[key] = int(rest.split()[0])
    return values


def libraries(pid, names):
    with open(f"/proc/{pid}/maps") as f:
        maps = f.read()
    return [n for n in names if n in maps]


def now_iso():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=8)
    args = parser.parse_args()

    agent = os.path.join(args.build, "src", "pelk-agent")
    bare = os.path.join(args.build, "bench", "bench-bare-quick-app")
    sim_binary = os.path.join(args.build, "tools", "agent-sim", "agent-sim")
    agent_dir = os.environ["PELK_E2E_AGENT_DIR"]

    with AgentSim(sim_binary, agent_dir) as sim:
        def connected():
            sim.status("connected", "Checked in.", device_name="bench", base_url="https://bench.example",
                       last_checkin=now_iso(), next_checkin_seconds=60, signing_ready=True, enrolled=True)
        connected()
        sim.control("lock", {"locked": False})
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs = {
            "pelk-agent --background": subprocess.Popen([agent, "--background"], **quiet),
            "bare Qt Quick app": subprocess.Popen([bare, os.path.join(agent_dir, "agent-status.json")], **quiet),
        }
        try:
            time.sleep(args.warmup)
            for name, p in procs.items():
                if p.poll() is not None:
                    sys.exit(f"{name} ended early with status {p.returncode}")
            # The started process is the crash guard; the application is its child.
            pids = {n: p.pid for n, p in procs.items()}
            guard = pids["pelk-agent --background"]
            with open(f"/proc/{guard}/task/{guard}/children") as f:
                pids["pelk-agent --background"] = int(f.read().split()[0])
            pids["its crash guard"] = guard
            start = {n: (cpu_seconds(pid), switches(pid)) for n, pid in pids.items()}
            began = time.monotonic()
            # Keep the agent's status fresh, as the real agent does, without waking either process.
            while time.monotonic() - began < args.seconds:
                time.sleep(min(20, args.seconds - (time.monotonic() - began)))
                connected()
            elapsed = time.monotonic() - began
            rows = []
            for name, pid in pids.items():
                t0, s0 = start[name]
                mem = memory(pid)
                rows.append((name, 100.0 * (cpu_seconds(pid) - t0) / elapsed,
                             (switches(pid) - s0) / elapsed, mem["VmRSS"] / 1024, mem["VmHWM"] / 1024,
                             mem["Threads"], ",".join(libraries(pid, ["libGL", "libEGL", "libQt6QuickControls2"])) or "-"))
        finally:
            for p in procs.values():
                p.terminate()
            for p in procs.values():
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()

    print(f"cost at rest over {elapsed:.0f} s (after {args.warmup:.0f} s of warm-up)")
    print(f"{'process':26} {'CPU %':>7} {'wakeups/s':>10} {'RSS MiB':>8} {'peak MiB':>9} {'threads':>8}  GL/Controls loaded")
    for r in rows:
        print(f"{r[0]:26} {r[1]:7.3f} {r[2]:10.2f} {r[3]:8.1f} {r[4]:9.1f} {r[5]:8d}  {r[6]}")
    agent_row, bare_row = rows[:2]
    ratio = agent_row[1] / bare_row[1] if bare_row[1] > 0 else float("inf")
    print(f"CPU ratio agent/bare: {ratio:.2f}")


if __name__ == "__main__":
    main()
