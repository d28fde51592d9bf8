"""One scenario's run: its places and values, the steps in order, the
waits, and the checks and clean-up after every scenario."""
import glob
import os
import re
import shutil
import subprocess
import time

from actions import Actions
from common import E2E_DIR, ROOT, SHOTS, Failure, cp932, linux_path, unhex
from driver import Window
from expectations import Expectations
from preview_check import PreviewCheck, plan
from scenario import split_options
from setup_steps import SetupSteps

WAIT = float(os.environ.get("E2E_TIMEOUT", "15"))  # failure guard only
POLL = 0.05


class Run(SetupSteps, Actions, Expectations, PreviewCheck):
    """One scenario's run."""

    def __init__(self, driver, scenario, out):
        self.driver, self.sc, self.out = driver, scenario, out
        self.work = os.path.join(E2E_DIR, "work", scenario.name)
        self.drive = "G"
        self.exe = os.path.join(self.work, "UPDATE.EXE")
        self.built = False
        self.labels = {}        # label -> "updater" | "game"
        self.last_label = None
        self.setup_times = {}   # linux path -> mtime set by the scenario
        self.started_at = None
        self.before = None      # the installation's files at the first start
        self.shots = 0

    # --- places
    @property
    def inst(self):
        # tools/try-update --inst-path puts the installation where players have it.
        return os.environ.get("E2E_INST_PATH") or "%s:\\%s\\inst" % (self.drive, self.sc.name)

    @property
    def data(self):
        return "%s:\\%s\\data" % (self.drive, self.sc.name)

    def place(self, kind, rel=""):
        if kind == "update":
            base = os.path.join(self.work, "update")
        elif kind == "work":
            base = self.work
        elif kind == "repo":
            base = ROOT
        elif kind == "inst":
            base = linux_path(self.inst)
        elif kind == "data":
            base = linux_path(self.data)
        elif kind == "disc":
            base = linux_path("Q:\\")
        elif kind.startswith("cdrom-"):
            base = linux_path(kind[-1].upper() + ":\\")  # a further drive of E2E_CDROMS
        elif kind == "temp":
            base = self.temp_folder()
        else:
            raise Failure("unknown place " + kind)
        parts = [p for p in re.split(r"[\\/]", rel) if p]
        return os.path.join(base, *parts)

    def temp_folder(self):
        return linux_path(unhex(self.driver("temp")[0].split()[1]).decode("cp932"))

    def subst(self, text):
        text = text.replace("${INST}", self.inst).replace("${DATA}", self.data)
        return text.replace("${DISC}", "Q:").replace("${SCN}", self.sc.name)

    def free_bytes(self):
        st = os.statvfs(self.place("inst"))
        return st.f_bavail * st.f_frsize

    def expected(self, text):
        """The expected bytes, evaluated now (free space changes)."""
        def shortfall(m):
            value = (int(m.group(1)) - self.free_bytes()) & 0xFFFFFFFF
            return str(value - (1 << 32) if value >= 1 << 31 else value)
        # \r before the places go in: their paths hold backslashes.
        text = self.subst(text.replace("\\r", "\r"))
        return cp932(re.sub(r"\$\{SHORTFALL:(\d+)\}", shortfall, text))

    def say(self, text):
        self.out.write("    " + text + "\n")
        self.out.flush()

    # --- the run
    def run(self):
        self.prepare()
        previews = plan(self.sc.steps, self.sc.name)
        try:
            for i, (where, words, block) in enumerate(self.sc.steps):
                try:
                    if i in previews:
                        if previews[i] is None:
                            self.preview_before(words[1] if len(words) > 1 else "upd")
                        else:
                            self.preview_skip(previews[i])
                    self.step(words, block)
                except Failure as e:
                    raise Failure("%s: %s: %s" % (where, " ".join(words), e))
            self.finish()
        except Failure:
            self.diagnose()
            raise
        finally:
            self.cleanup()

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "update"))
        # The disc and T: are shared by all scenarios; G: has a folder each.
        leftovers = glob.glob(os.path.join(linux_path("Q:\\"), "*")) + \
            glob.glob(os.path.join(linux_path("T:\\"), "*")) + \
            glob.glob(os.path.join(linux_path("G:\\"), self.sc.name))
        for path in leftovers:
            if os.path.isdir(path) and not os.path.islink(path):
                make_writable(path)
                shutil.rmtree(path)
            else:
                os.remove(path)
        # Left by a scenario that failed; each scenario checks its own.
        for stale in glob.glob(os.path.join(self.temp_folder(), "UPDATE*.INI")):
            os.remove(stale)
        self.started_at = time.time()

    def step(self, words, block):
        verb, rest = words[0], words[1:]
        pos, opts = split_options(rest)
        handler = getattr(self, "do_" + verb.replace("-", "_").replace("<<<", "block").replace("<<+", "append"),
                          None)
        if handler is None:
            raise Failure("unknown step " + verb)
        if block is not None:
            handler(pos, opts, block)
        else:
            handler(pos, opts)

    def photograph(self, label, name):
        """The process's dialogs and boxes, cropped to them."""
        shown = [w for w in self.windows(label) if w.visible and w.cls == "#32770"]
        if not shown:
            raise Failure("nothing to photograph")
        rects = [w.read(self.driver).rect for w in shown]
        x0 = max(0, min(r[0] for r in rects))
        y0 = max(0, min(r[1] for r in rects))
        x1 = max(r[0] + r[2] for r in rects)
        y1 = max(r[1] + r[3] for r in rects)
        os.makedirs(SHOTS, exist_ok=True)
        target = os.path.join(SHOTS, "%s-%s.png" % (self.sc.name, name))
        try:
            subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (x1 - x0, y1 - y0, x0, y0),
                            "+repage", target], check=True, capture_output=True, timeout=30)
        except (OSError, subprocess.SubprocessError) as e:
            raise Failure("screenshot failed: %s" % e)
        return target

    # --- helpers
    def windows(self, label, read=False):
        out = []
        if label not in self.labels:
            raise Failure("nothing started as " + label)
        for line in self.driver("windows", label):
            f = line.split()
            w = Window(f[1], unhex(f[2]).decode("latin-1"), f[3] == "1", f[4], unhex(f[5]))
            if read and w.visible and w.cls == "#32770":
                try:
                    w.read(self.driver)
                except Failure:
                    continue  # it closed meanwhile
            out.append(w)
        return out

    def find(self, label, kind):
        for w in self.windows(label, read=True):
            if w.visible and (w.is_dialog if kind == "page" else w.is_box):
                return w
        raise Failure("no %s is shown" % kind)

    def main_window(self, label):
        for w in self.windows(label, read=True):
            if w.visible and (w.is_dialog or self.labels[label] == "game") and w.cls != "IME":
                return w
        raise Failure("%s shows no window" % label)

    def wait_for(self, condition, what, detail=None):
        deadline = time.time() + WAIT
        while True:
            if condition():
                return
            if time.time() > deadline:
                raise Failure("timed out waiting for %s%s" % (what, (": " + detail()) if detail else ""))
            time.sleep(POLL)

    def wait_exit(self, label):
        deadline = time.time() + WAIT
        while True:
            r = self.driver("exit", label, 200)[0]
            if r.startswith("exit "):
                return int(r.split()[1])
            if time.time() > deadline:
                raise Failure("%s still running" % label)

    def finish(self):
        for label, what in self.labels.items():
            if self.driver("exit", label, 0)[0] == "running":
                raise Failure("%s %s is still running at the end" % (what, label))
        left = glob.glob(os.path.join(self.temp_folder(), "UPDATE*.INI"))
        if left:
            raise Failure("left in the temporary folder: %s" % ", ".join(os.path.basename(p) for p in left))
        self.say("no temporary UPDATE*.INI left")

    def diagnose(self):
        for label in self.labels:
            try:
                for w in self.windows(label, read=True):
                    if w.visible:
                        self.say("seen: %s %s" % (label, w.describe()))
            except Failure:
                pass
        try:
            os.makedirs(SHOTS, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(SHOTS, "%s-FAILED.png" % self.sc.name)],
                           capture_output=True, timeout=20)
        except Exception:
            pass

    def cleanup(self):
        for label in self.labels:
            try:
                if self.driver("exit", label, 0)[0] == "running":
                    self.driver("kill", label)
                    self.driver("exit", label, 5000)
            except Failure:
                pass


def make_writable(path):
    for base, dirs, files in os.walk(path):
        for name in dirs + files:
            p = os.path.join(base, name)
            if not os.path.islink(p):
                os.chmod(p, 0o755 if os.path.isdir(p) else 0o644)

