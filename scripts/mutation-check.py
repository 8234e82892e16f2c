#!/usr/bin/env python3
"""Plants each fault of scripts/mutation-faults.tsv in the source, one at a time, rebuilds the
tests it names and expects at least one of them to fail. Proves the suite still bites.

    scripts/mutation-check.py [--build DIR] [--only SUBSTRING]

Each fault is one line: file, test names (comma-separated ctest names), the text to replace
(it must occur exactly once in the file) and its replacement, separated by tabs. A fault that
no longer applies or no longer compiles is reported as broken: the list must follow the code.
The named tests must first pass unchanged, or nothing is planted.
Exit status 0 only when every fault is caught.
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def faults(path):
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 4:
                sys.exit(f"{path}:{number}: expected 4 tab-separated fields")
            source, tests, before, after = parts
            yield number, source, [t.strip() for t in tests.split(",")], before, after


def run(command, **kwargs):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-mutation")
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    build = os.path.join(ROOT, args.build)
    if not os.path.isdir(build):
        configured = run(["cmake", "-S", ".", "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
        if configured.returncode != 0:
            sys.exit(configured.stdout)
    listed = [f for f in faults(os.path.join(ROOT, "scripts", "mutation-faults.tsv"))
              if not args.only or args.only in f[1] or args.only in ",".join(f[2])]
    # A fault only counts as caught by tests that pass without it.
    baseline = sorted({t for f in listed for t in f[2]})
    if baseline:
        built = run(["ninja", "-C", build] + baseline)
        tested = run(["ctest", "--test-dir", build, "-R", "^(" + "|".join(baseline) + ")$", "--timeout", "300"])
        if built.returncode != 0 or tested.returncode != 0:
            sys.exit("the unchanged tests do not pass:\n" + (built.stdout if built.returncode else tested.stdout))
    results = {"caught": 0, "survived": 0, "broken": 0}
    for number, source, tests, before, after in listed:
        path = os.path.join(ROOT, source)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        label = f"#{number} {source}: {before.strip()!r} -> {after.strip()!r}"
        if original.count(before) != 1:
            print(f"BROKEN   {label} (the text occurs {original.count(before)} times)", flush=True)
            results["broken"] += 1
            continue
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(before, after))
            built = run(["ninja", "-C", build] + tests)
            if built.returncode != 0:
                print(f"BROKEN   {label} (does not build)", flush=True)
                results["broken"] += 1
                continue
            pattern = "^(" + "|".join(tests) + ")$"
            tested = run(["ctest", "--test-dir", build, "-R", pattern, "--timeout", "300"])
            verdict = "caught" if tested.returncode != 0 else "survived"
            results[verdict] += 1
            print(f"{verdict.upper():8} {label} [{', '.join(tests)}]", flush=True)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
    print(f"{results['caught']} caught, {results['survived']} survived, {results['broken']} broken")
    return 0 if results["survived"] == 0 and results["broken"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
