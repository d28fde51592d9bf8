#!/usr/bin/env python3
"""The figures of bench/apply-bench.sh (run it through that script, which
sets up the builds and the end-to-end rig).

Usage: apply_bench.py SIZE CACHE_DIR [--native]

--native measures only qa2 extract and dd, without Wine.
"""
import hashlib
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))

if sys.argv[3:] == ["--native"]:
    # Without Wine, so without the rig's modules.
    QA2 = os.path.join(os.environ.get("QA_NATIVE_BUILD", os.path.join(ROOT, "build")), "tools", "qa2")

    class Failure(Exception):
        pass

    Run = object
else:
    from common import NATIVE_BUILD, QA2, WIN32_BUILD, Failure  # noqa: E402
    from driver import Driver  # noqa: E402
    from runner import Run  # noqa: E402
    from scenario import Scenario  # noqa: E402

ROUNDS = int(os.environ.get("QA_BENCH_ROUNDS", "3"))
MEMBER = "MEMBER.BIN"
CONFIRM = "アップデートを実行します".encode("cp932")
DONE = "アップデートは完了しました".encode("cp932")
POLL = float(os.environ.get("QA_BENCH_POLL", "0.005"))


def log(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def sync():
    subprocess.run(["sync"], check=True)


def make_member(corpus, path, size):
    """The corpus's files in name order, repeated up to `size` bytes."""
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    block = b"".join(open(os.path.join(corpus, n), "rb").read() for n in sorted(os.listdir(corpus)))
    with open(path + ".part", "wb") as f:
        left = size
        while left:
            part = block[:left]
            f.write(part)
            left -= len(part)
    os.replace(path + ".part", path)


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 22)
            if not chunk:
                return h.hexdigest()
            h.update(chunk)


def pack(cache, member, update_ini, mode):
    archive = os.path.join(os.path.dirname(member), mode + ".qa2")
    if os.path.exists(archive):
        return archive
    log("packing %s (%s mode), once; kept in %s" % (MEMBER, mode, cache))
    started = time.time()
    options = ["--fast"] if mode == "fast" else []
    subprocess.run([QA2, "pack", archive + ".part", update_ini, member] + options, check=True)
    os.replace(archive + ".part", archive)
    log("  %.0f s, %d bytes" % (time.time() - started, os.path.getsize(archive)))
    return archive


class Bench(Run):
    """A run of the end-to-end rig whose updater is timed, not checked."""

    def page_info(self, label):
        for w in self.windows(label, read=True):
            if w.visible and w.is_dialog:
                return w, w.controls[1001]["text"]
        return None, None

    def wait_button(self, label, ident, info=None):
        deadline = time.time() + 600
        while time.time() < deadline:
            try:
                w, text = self.page_info(label)
            except Failure:
                w = None
            if w is not None and (info is None or text == info):
                ctl = w.controls.get(ident)
                if ctl and ctl["enabled"] and ctl["visible"]:
                    return w
            time.sleep(POLL)
        raise Failure("timed out waiting for the page")

    def apply_once(self, label):
        """Seconds from launch to the completion page, and the phases: to
        the first page, from there to the second, from its 次へ to the end."""
        started = time.time()
        self.built = True  # UPDATE.EXE is made from the cached archive
        self.do_start([label], {})
        first = self.wait_button(label, 1)
        shown = time.time()
        self.driver("click", first.handle, 1)
        # The second page's 次へ runs the update.
        confirm = self.wait_button(label, 1, CONFIRM)
        confirmed = time.time()
        self.driver("click", confirm.handle, 1)
        done = self.wait_button(label, 1, DONE)
        seconds = time.time() - started
        self.phases = (shown - started, confirmed - shown, started + seconds - confirmed)
        self.driver("click", done.handle, 1)
        code = self.wait_exit(label)
        if code != 1:
            raise Failure("UPDATE.EXE exited with %d" % code)
        return seconds


def best(times):
    return min(times)


def time_extract(qa2, archive, out, want, check):
    """Seconds of one qa2 extract of MEMBER into a fresh `out`."""
    subprocess.run(["rm", "-rf", out], check=True)
    os.makedirs(out)
    digest(archive)  # in the page cache, as a mapped resource would be
    sync()
    started = time.time()
    subprocess.run([qa2, "extract", archive, "-C", out, MEMBER], check=True,
                   stdout=subprocess.DEVNULL)
    seconds = time.time() - started
    if check and digest(os.path.join(out, MEMBER)) != want:
        raise Failure("qa2 extract wrote other bytes")
    return seconds


def time_dd(member, out):
    """dd of the same bytes, read from the page cache."""
    subprocess.run(["rm", "-rf", out], check=True)
    os.makedirs(out)
    sync()
    started = time.time()
    subprocess.run(["dd", "if=" + member, "of=" + os.path.join(out, MEMBER), "bs=1M", "conv=fsync"],
                   check=True, capture_output=True)
    return time.time() - started


def native(size, cache):
    """qa2 extract and dd only: QA_BENCH_MODES (default "fast optimal")
    names the archives; those missing are packed with a bare UPDATE.INI."""
    member = os.path.join(cache, "member-%d" % size, MEMBER)
    os.makedirs(os.path.dirname(member), exist_ok=True)
    make_member(os.path.join(cache, "corpus"), member, size)
    want = digest(member)
    update_ini = os.path.join(cache, "UPDATE.INI")
    with open(update_ini, "w") as f:
        f.write("[UPDATE]\r\nUpdateFile00=%s\r\n" % MEMBER)
    modes = os.environ.get("QA_BENCH_MODES", "fast optimal").split()
    archives = {mode: pack(cache, member, update_ini, mode) for mode in modes}
    variants = [("", QA2)]
    if os.environ.get("QA_BENCH_BEFORE_QA2"):
        variants.insert(0, ("before: ", os.environ["QA_BENCH_BEFORE_QA2"]))
    out = os.path.join(cache, "out")
    figures = {}
    digest(member)
    for i in range(ROUNDS):
        figures.setdefault("dd", []).append(time_dd(member, out))
        for mode, archive in archives.items():
            for label, qa2 in (variants if i % 2 == 0 else variants[::-1]):  # order: see main()
                figures.setdefault("%sqa2 extract, %s" % (label, mode), []).append(
                    time_extract(qa2, archive, out, want, i == 0))
    subprocess.run(["rm", "-rf", out], check=True)
    report(size, cache, figures, archives)


def report(size, cache, figures, archives, wine=None):
    """The table; `wine` is the line that tells which UPDATE.EXE ran how."""
    dd = best(figures["dd"])
    log("")
    title = "Applying a %d-byte member (the benchmark corpus repeated) on %s" % (size, fs_of(cache))
    if wine is None:
        log("%s; best of %d" % (title, ROUNDS))
    else:
        log(title)
        log(wine)
    log("load average at the end: %s" % open("/proc/loadavg").read().strip())
    for name in ["dd"] + sorted(n for n in figures if n != "dd"):
        t = figures[name]
        log("  %-30s %6.2f s  %6.0f MB/s  x%.2f   (runs: %s)" % (
            name, best(t), size / best(t) / 1e6, best(t) / dd, " ".join("%.2f" % x for x in t)))
    for mode, archive in archives.items():
        log("  %s archive: %d bytes" % (mode, os.path.getsize(archive)))


def main():
    size, cache = int(sys.argv[1]), sys.argv[2]
    if sys.argv[3:] == ["--native"]:
        return native(size, cache)
    wine_mode = os.environ.get("QA_WINE_MODE", "win32")
    member = os.path.join(cache, "member-%d" % size, MEMBER)
    os.makedirs(os.path.dirname(member), exist_ok=True)
    make_member(os.path.join(cache, "corpus"), member, size)
    want = digest(member)

    driver = Driver(os.path.join(WIN32_BUILD, "e2e", "driver.exe"))
    scn = os.path.join(cache, "apply-bench.scn")
    with open(scn, "w", encoding="utf-8") as f:
        f.write("# apply benchmark\ninclude %s\n<<+ update UPDATE.INI\n[UPDATE]\nUpdateFile00=%s\n>>>\n" % (
            os.path.join(ROOT, "e2e", "scenarios", "common", "game.inc"), MEMBER))
    run = Bench(driver, Scenario(scn), sys.stdout)
    figures = {}
    try:
        run.prepare()
        for where, words, block in run.sc.steps:
            run.step(words, block)
        update_ini = run.place("update", "UPDATE.INI")
        archives = {mode: pack(cache, member, update_ini, mode) for mode in ("fast", "optimal")}
        # Each program measured, and with QA_BENCH_BEFORE_STUB and
        # QA_BENCH_BEFORE_QA2 an earlier build beside it, round after round
        # in turn: on a shared machine both then see the same load.
        variants = [("", os.environ.get("QA_BENCH_STUB") or
                     os.path.join(WIN32_BUILD, "updater", "UPDATE.EXE"), QA2)]
        if os.environ.get("QA_BENCH_BEFORE_STUB") and os.environ.get("QA_BENCH_BEFORE_QA2"):
            variants.insert(0, ("before: ", os.environ["QA_BENCH_BEFORE_STUB"],
                                os.environ["QA_BENCH_BEFORE_QA2"]))
        target = run.place("inst", MEMBER)
        exes = {}
        embed = os.path.join(NATIVE_BUILD, "bench", "qa_embed_archive")
        for label, stub, _ in variants:
            for mode, archive in archives.items():
                exes[label, mode] = os.path.join(run.work, "UPDATE-%s%s.EXE" % (mode, "-before" if label else ""))
                subprocess.run([embed, stub, archive, exes[label, mode]], check=True)
        digest(member)
        out = os.path.join(cache, "out")
        for i in range(ROUNDS):
            figures.setdefault("dd", []).append(time_dd(member, out))
            for mode, archive in archives.items():
                # Each program goes first every other round: the one run
                # second was repeatedly the slower, by up to 0.6 s for qa2
                # (the disk here trims what is removed between runs).
                for label, stub, qa2 in (variants if i % 2 == 0 else variants[::-1]):
                    figures.setdefault("%sqa2 extract, %s" % (label, mode), []).append(
                        time_extract(qa2, archive, out, want, i == 0))
                    # UPDATE.EXE under Wine.
                    subprocess.run(["rm", "-rf", out], check=True)
                    if os.path.exists(target):
                        os.remove(target)
                    run.exe = exes[label, mode]
                    digest(run.exe)
                    sync()
                    seconds = run.apply_once("r%s%d%s" % (mode, i, "b" if label else ""))
                    figures.setdefault("%sUPDATE.EXE, %s" % (label, mode), []).append(seconds)
                    log("  %sUPDATE.EXE, %s archive: %.2f s (first page %.2f, second %.2f, update %.2f)" % (
                        (label, mode, seconds) + run.phases))
                    if i == 0 and digest(target) != want:
                        raise Failure("UPDATE.EXE wrote other bytes")
        subprocess.run(["rm", "-rf", out], check=True)
        if os.path.exists(target):
            os.remove(target)
    finally:
        run.cleanup()
        driver.close()

    bits = "32-bit" if wine_mode == "win32" else "64-bit"
    report(size, cache, figures, archives,
           "UPDATE.EXE: the %s build under %s Wine (%s); best of %d, seconds (MB/s, ratio to dd)" % (
               bits, bits, wine_version(), ROUNDS))


def hexpath(path):
    return ("Z:" + os.path.abspath(path).replace("/", "\\")).encode("cp932").hex()


def fs_of(path):
    r = subprocess.run(["df", "--output=fstype,source", path], capture_output=True, text=True)
    return " ".join(r.stdout.split()[2:4]) if r.returncode == 0 else "?"


def wine_version():
    r = subprocess.run(["wine", "--version"], capture_output=True, text=True)
    return r.stdout.strip()


if __name__ == "__main__":
    main()
