#!/usr/bin/env python3
"""Runs end-to-end scenarios: UPDATE.EXE under Wine, worked through its real
windows by e2e/driver.exe, with the player's view, the files and the exit
code checked against each scenario file.

Usage: run.py SCENARIO...   (run it through e2e/run.sh, which sets up the rig)

The scenario language is described at the top of e2e/scenario.py; the
runner is split into runner.py (one scenario's run), setup_steps.py,
actions.py and expectations.py (the verbs), driver.py (the channel to
driver.exe) and common.py.
"""
import os
import sys
import time

from common import WIN32_BUILD, Failure, Skip
from driver import Driver
from runner import Run
from scenario import Scenario


def main(argv):
    paths = argv
    driver = Driver(os.path.join(WIN32_BUILD, "e2e", "driver.exe"))
    results = []
    try:
        for path in paths:
            sc = Scenario(path)
            sys.stdout.write("\n== %s: %s\n" % (sc.name, sc.title))
            sys.stdout.flush()
            t0 = time.time()
            try:
                Run(driver, sc, sys.stdout).run()
                results.append((sc.name, "passed", time.time() - t0))
            except Skip as e:
                sys.stdout.write("    SKIPPED: %s\n" % e)
                results.append((sc.name, "skipped", time.time() - t0))
            except Failure as e:
                sys.stdout.write("    FAILED: %s\n" % e)
                results.append((sc.name, "FAILED", time.time() - t0))
    finally:
        driver.close()
    sys.stdout.write("\n== summary\n")
    for name, result, seconds in results:
        sys.stdout.write("  %-28s %-8s %5.1fs\n" % (name, result, seconds))
    return 1 if any(r == "FAILED" for _, r, _ in results) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
