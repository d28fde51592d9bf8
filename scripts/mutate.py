#!/usr/bin/env python3
"""One-line mutants against the tests: each is applied to its file, the
native ASan build is brought up to date, the tests named for it run first
and, when they pass, the whole native suite; then the file is put back.

Usage: scripts/mutate.py [--build DIR] [--jobs N] [LIST...]
  LIST   mutant lists (default: every tests/mutants/*.txt)
  DIR    the native ASan build (default build-asan; configured when missing)

A list holds one mutant a line, fields separated by " | ":
  FILE:LINE | TEXT | REPLACEMENT | GTEST_FILTER [| equivalent: WHY]
TEXT must stand exactly once on that line; '#' starts a comment line. A
mutant marked equivalent cannot change what the code does; it is applied
and run all the same, and its outcome is not counted.

Outcomes: killed (a test failed), survived, invalid (it does not compile),
stale (the line no longer holds TEXT). Score: killed over killed plus
survived, per list and overall. The file is always put back, also when the
run is interrupted; a run killed outright leaves the file's original in
DIR/mutate-pending, which the next run restores first.
"""
import argparse
import glob
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutant:
    def __init__(self, where, fields, source):
        path, _, line = fields[0].rpartition(":")
        self.where, self.source = where, source
        self.path, self.line = path, int(line)
        self.text, self.replacement, self.filter = fields[1], fields[2], fields[3]
        self.equivalent = fields[4][len("equivalent:"):].strip() if len(fields) > 4 else ""

    def label(self):
        return "%s:%d %r -> %r" % (self.path, self.line, self.text, self.replacement)


def read_list(path):
    mutants = []
    for n, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [f.strip() for f in line.split(" | ")]
        if len(fields) < 4 or (len(fields) == 5 and not fields[4].startswith("equivalent:")) or len(fields) > 5:
            sys.exit("%s:%d: expected FILE:LINE | TEXT | REPLACEMENT | FILTER [| equivalent: WHY]" % (path, n))
        mutants.append(Mutant("%s:%d" % (os.path.relpath(path, ROOT), n), fields, path))
    return mutants


class Applied:
    """The mutant in place for the length of a `with`; the original back
    afterwards, whatever happens (signals included)."""

    def __init__(self, mutant, pending):
        self.mutant, self.pending = mutant, pending
        self.path = os.path.join(ROOT, mutant.path)

    def __enter__(self):
        lines = open(self.path, encoding="utf-8").read().split("\n")
        if self.mutant.line > len(lines) or lines[self.mutant.line - 1].count(self.mutant.text) != 1:
            return False
        shutil.copyfile(self.path, self.pending)
        with open(self.pending + ".path", "w") as f:
            f.write(self.path)
        lines[self.mutant.line - 1] = lines[self.mutant.line - 1].replace(self.mutant.text, self.mutant.replacement)
        with open(self.path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        return True

    def __exit__(self, *exc):
        restore(self.pending)
        return False


def restore(pending):
    if os.path.exists(pending) and os.path.exists(pending + ".path"):
        path = open(pending + ".path").read()
        shutil.copyfile(pending, path)
        os.remove(pending)
        os.remove(pending + ".path")


def run(cmd, timeout, **kw):
    try:
        return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout, **kw).returncode
    except subprocess.TimeoutExpired:
        return -1  # a hang is a failure the tests caught


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build-asan"))
    ap.add_argument("--jobs", default=str(os.cpu_count() or 2))
    ap.add_argument("lists", nargs="*")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    pending = os.path.join(build, "mutate-pending")
    lists = args.lists or sorted(glob.glob(os.path.join(ROOT, "tests", "mutants", "*.txt")))

    os.makedirs(build, exist_ok=True)
    restore(pending)  # what a run killed outright left
    # Signals end the run through the `with` blocks, which put the file back.
    def stop(*_):
        raise KeyboardInterrupt()
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, stop)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DQA_SANITIZE=ON"], check=True, stdout=subprocess.DEVNULL)
    compile_cmd = ["cmake", "--build", build, "-j", args.jobs]
    if run(compile_cmd, 3600) != 0:
        sys.exit("the build fails without any mutant")
    tests = os.path.join(build, "tests", "qa_tests")
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")

    totals = {"killed": 0, "survived": 0}
    started = time.time()
    try:
        for path in lists:
            counts = {"killed": 0, "survived": 0, "invalid": 0, "stale": 0, "equivalent": 0}
            print("== %s" % os.path.relpath(path, ROOT), flush=True)
            for m in read_list(path):
                t0 = time.time()
                with Applied(m, pending) as applied:
                    if not applied:
                        outcome = "stale"
                    elif run(compile_cmd, 1800) != 0:
                        outcome = "invalid"
                    elif run([tests, "--gtest_filter=" + m.filter], 180, env=env) != 0:  # a hang counts as caught
                        outcome = "killed"
                    elif run(["ctest", "--test-dir", build, "-j", args.jobs], 1800, env=env) != 0:
                        outcome = "killed (suite)"
                    else:
                        outcome = "survived"
                key = outcome.split()[0]
                if m.equivalent and key in ("killed", "survived"):
                    counts["equivalent"] += 1
                    outcome += " (equivalent: %s)" % m.equivalent
                else:
                    counts[key] += 1
                print("  %-16s %5.0fs  %s" % (outcome.split(" (equivalent")[0], time.time() - t0, m.label()),
                      flush=True)
                if m.equivalent:
                    print("                          equivalent: %s" % m.equivalent)
            scored = counts["killed"] + counts["survived"]
            score = 100.0 * counts["killed"] / scored if scored else 100.0
            print("  %s: %d killed, %d survived, %d invalid, %d stale, %d equivalent: %.0f%%" % (
                os.path.basename(path), counts["killed"], counts["survived"], counts["invalid"], counts["stale"],
                counts["equivalent"], score), flush=True)
            totals["killed"] += counts["killed"]
            totals["survived"] += counts["survived"]
    except KeyboardInterrupt:
        print("interrupted: the file is back as it was", file=sys.stderr)
        return 130
    finally:
        restore(pending)
        # The build again as the sources are, for whoever uses it next.
        run(compile_cmd, 3600)
    scored = totals["killed"] + totals["survived"]
    print("overall: %d of %d killed: %.0f%% in %.0f s" % (
        totals["killed"], scored, 100.0 * totals["killed"] / scored if scored else 100.0, time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
