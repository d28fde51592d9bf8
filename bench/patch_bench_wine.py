"""The Wine half of bench/patch_bench.py: UPDATE.EXE applying the generated
pair's patch (version gate included) against extracting the file whole, the
gate's pass alone (the installation already new: it hashes and writes
nothing) against a plain read of the file, best of QA_BENCH_ROUNDS."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))

from common import QA2, WIN32_BUILD  # noqa: E402
from driver import Driver  # noqa: E402
from scenario import Scenario  # noqa: E402
from apply_bench import Bench, Failure, digest, hexpath, sync, wine_version  # noqa: E402

MEMBER = "MEMBER.BIN"


def log(text=""):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def drop_caches():
    try:
        subprocess.run(["sync"], check=True)
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("1\n")
        return True
    except OSError:
        return False


def run_wine(base, rounds):
    old, new = os.path.join(base, "old", MEMBER), os.path.join(base, "new", MEMBER)
    want = digest(new)
    driver = Driver(os.path.join(WIN32_BUILD, "e2e", "driver.exe"))
    scn = os.path.join(base, "patch-bench.scn")
    with open(scn, "w", encoding="utf-8") as f:
        f.write("# patch benchmark\ninclude %s\n<<+ update UPDATE.INI\n[UPDATE]\nUpdateFile00=%s\n>>>\n" % (
            os.path.join(ROOT, "e2e", "scenarios", "common", "game.inc"), MEMBER))
    run = Bench(driver, Scenario(scn), sys.stdout)
    figures = {}
    stub = os.path.join(WIN32_BUILD, "updater", "UPDATE.EXE")
    try:
        run.prepare()
        for where, words, block in run.sc.steps:
            run.step(words, block)
        update = run.place("update")
        shutil.copy2(new, os.path.join(update, MEMBER))
        exes = {}
        for kind, extra in (("whole", []), ("patch", ["--base", os.path.join(base, "old")])):
            exes[kind] = os.path.join(run.work, "UPDATE-%s.EXE" % kind)
            subprocess.run([QA2, "build", "--force", "--fast", "--stub", stub, update, exes[kind]] + extra,
                           check=True, capture_output=True)
            log("  UPDATE.EXE with the member %s: %d bytes" % (kind, os.path.getsize(exes[kind])))
        target = run.place("inst", MEMBER)

        def apply(kind, label):
            run.exe = exes[kind]
            digest(run.exe)
            sync()
            if label.startswith("c"):
                drop_caches()
            seconds = run.apply_once(label)
            return seconds, run.phases[2]

        for i in range(rounds):
            if os.path.exists(target):
                os.remove(target)
            t, update_phase = apply("whole", "w%d" % i)
            figures.setdefault("extracting whole, UPDATE.EXE", []).append(update_phase)
            shutil.copyfile(old, target)
            digest(target)
            t, update_phase = apply("patch", "p%d" % i)
            figures.setdefault("patching (gate included), UPDATE.EXE", []).append(update_phase)
            if i == 0 and digest(target) != want:
                raise Failure("the patched file is not the new version")
            t, update_phase = apply("patch", "g%d" % i)
            figures.setdefault("gate alone (already new), UPDATE.EXE", []).append(update_phase)
            started = time.time()
            run.driver("read", hexpath(target))
            figures.setdefault("plain read under Wine (driver.exe)", []).append(time.time() - started)
            # From the disk rather than the page cache, where the system
            # lets the cache be dropped.
            if drop_caches():
                t, update_phase = apply("patch", "c%d" % i)
                figures.setdefault("gate alone, cold cache, UPDATE.EXE", []).append(update_phase)
                drop_caches()
                started = time.time()
                run.driver("read", hexpath(target))
                figures.setdefault("plain read, cold cache (driver.exe)", []).append(time.time() - started)
        os.remove(target)
    finally:
        run.cleanup()
        driver.close()
    size = os.path.getsize(new)
    log("")
    log("Under %s, the update phase (from 次へ to the completion page), %d bytes, best of %d:" % (
        wine_version(), size, rounds))
    for name, t in figures.items():
        log("  %-42s %6.2f s  %6.0f MB/s   (runs: %s)" % (
            name, min(t), size / min(t) / 1e6, " ".join("%.2f" % x for x in t)))
    whole = min(figures["extracting whole, UPDATE.EXE"])
    log("  patching / extracting whole: %.2f; gate / plain read: %.2f from the page cache" % (
        min(figures["patching (gate included), UPDATE.EXE"]) / whole,
        min(figures["gate alone (already new), UPDATE.EXE"]) / min(figures["plain read under Wine (driver.exe)"])))
    if "plain read, cold cache (driver.exe)" in figures:
        log("  gate / plain read from the disk: %.2f" % (
            min(figures["gate alone, cold cache, UPDATE.EXE"]) / min(figures["plain read, cold cache (driver.exe)"])))
