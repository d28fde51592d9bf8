#!/usr/bin/env python3
"""Runs end-to-end scenarios: UPDATE.EXE under Wine, worked through its real
windows by e2e/driver.exe, with the player's view, the files and the exit
code checked against each scenario file.

Usage: run.py SCENARIO...   (run it through e2e/run.sh, which sets up the rig)

A scenario file is a list of steps, one per line; '#' starts a comment line,
and the first comment is the scenario's title. "include FILE" reads steps from
FILE (relative to the including file).
Words are split as a shell would (quotes group), and NAME=VALUE words are
options. In values, ${INST}, ${DATA} and ${DISC} are the Windows paths of the
scenario's installation, data folder and disc drive; ${SHORTFALL:N} is N minus
the free bytes of the installation's drive at the moment of comparison; \\r is
a carriage return. Texts are written in UTF-8 and compared as code page 932
bytes.

Places (KIND): update (the folder packed into UPDATE.EXE), inst, data, disc,
temp (the Wine user's temporary folder), work (the scenario's own folder),
repo (the repository, to read from).

Setup
  drive LETTER                  installation and data on G: (default) or T:
  require tmpfs                 skip unless T: is a small tmpfs
  <<< KIND PATH ... >>>         a text file (CRLF lines, code page 932);
  <<+ KIND PATH ... >>>         ... or more lines for it
  file KIND PATH [text=T|size=N|hex=H] [time=ISO] [readonly]
  folder KIND PATH
  settime KIND PATH ISO         sets a file's last-write (and access) time
  set-ini KIND GLOB KEY VALUE   rewrites KEY in INI files (the updater's
                                temporary UPDATE.INI, say); VALUE FREE+N is
                                the installation drive's free bytes plus N
  copy KIND FOLDER              a folder of the repository, times kept
  registry COMPANY GAMEDIR [InstPath=P] [DataPath=P] [InstMode=N]
                                replaces the game's key (no values: no key)
  build [--force]               packs the update folder into UPDATE.EXE now
  resource delete|FILE          replaces the exe's archive resource (FILE in
                                the scenario's folder) or deletes it
Actions
  start [LABEL]                 runs UPDATE.EXE (label "upd" by default)
  game LABEL class=C title=T    runs the stand-in game window
  quit-game LABEL               closes it and waits for it to end
  press [LABEL] next|abort|back clicks an enabled dialog button
  command [LABEL] ID            posts WM_COMMAND ID (reaches disabled buttons)
  close [LABEL]                 the dialog's close box
  answer [LABEL] ok|cancel      clicks a button of the open message box
  raise LABEL                   brings LABEL's window to the front
  remove KIND PATH              deletes a file (between answers, say)
  shot NAME                     screenshot of the last seen process's windows
                                (every page and box is photographed anyway,
                                as SCENARIO-NN-page.png or -box.png)
  wait [LABEL]                  waits, without a limit, for the player to end it
  changes                       lists the installation's files changed since
                                the first start
Expectations (each waits until it holds, or fails after a timeout)
  page [LABEL] info=T [caption=T] [buttons="次へ+ 中止+ 戻る-"] [focus=ID]
  box [LABEL] text=T [caption=T] [buttons="OK キャンセル"] [icon=yes|no]
      [owner=dialog|none]
  exit [LABEL] CODE
  foreground LABEL              LABEL's window is the foreground window
  expect-file KIND PATH [text=T] [same=[KIND:]PATH] [time=member:MEMBER|recent|
              unchanged|ISO] [readonly=yes|no]
  expect-absent KIND PATH
  expect-folder KIND PATH
After every scenario: no process left running, no UPDATE*.INI in temp.
"""
import datetime
import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
E2E_DIR = os.environ.get("E2E_DIR", os.path.join(ROOT, "build-e2e"))
WIN32_BUILD = os.environ.get("QA_WIN32_BUILD", os.path.join(ROOT, "build-win32"))
PREFIX = os.environ["WINEPREFIX"]
SHOTS = os.path.join(E2E_DIR, "screenshots")
WAIT = float(os.environ.get("E2E_TIMEOUT", "15"))  # failure guard only
POLL = 0.05
BUTTON_IDS = {"next": 1, "abort": 2, "back": 4}
ANSWER_IDS = {"ok": 1, "cancel": 2}


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def cp932(text):
    return text.encode("cp932")


def show(data):
    """Bytes as the player reads them, for the transcript."""
    return data.decode("cp932", errors="backslashreplace").replace("\r", "\\r").replace("\n", "\\n")


def unhex(word):
    return b"" if word == "-" else bytes.fromhex(word)


def hexify(data):
    return data.hex() if data else "-"


def linux_path(win_path):
    """Follows the prefix's drive links, as Wine does."""
    drive, rest = win_path[0].lower(), win_path[2:].lstrip("\\")
    base = os.path.realpath(os.path.join(PREFIX, "dosdevices", drive + ":"))
    return os.path.join(base, *[p for p in rest.split("\\") if p])


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse_time(text):
    t = datetime.datetime.fromisoformat(text)
    if t.tzinfo is None:
        t = t.replace(tzinfo=datetime.timezone.utc)
    return t.timestamp()


class Driver:
    """The Win32 driver, started once under Wine and kept for every scenario."""

    def __init__(self, exe):
        self.proc = subprocess.Popen(["wine", exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def __call__(self, *words):
        line = " ".join(str(w) for w in words)
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        out = []
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise Failure("the driver ended unexpectedly")
            text = raw.decode("ascii", errors="replace").rstrip("\r\n")
            if text == ".":
                break
            out.append(text)
        errors = [l for l in out if l.startswith("error ")]
        if errors:
            raise Failure("driver: %s: %s" % (line.split()[0], errors[0][6:]))
        return out

    def close(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.flush()
            self.proc.wait(timeout=10)
        except Exception:
            self.proc.kill()


class Window:
    def __init__(self, handle, cls, visible, owner, caption):
        self.handle, self.cls, self.visible, self.owner, self.caption = handle, cls, visible, owner, caption
        self.controls = {}  # id -> dict
        self.order = []
        self.focus = 0
        self.rect = (0, 0, 0, 0)

    def read(self, driver):
        for line in driver("controls", self.handle):
            f = line.split()
            if f[0] == "rect":
                self.rect = tuple(int(x) for x in f[1:5])
            elif f[0] == "ctl":
                ctl = {"id": int(f[1]), "class": unhex(f[2]).decode("latin-1"), "enabled": f[3] == "1",
                       "visible": f[4] == "1", "style": int(f[5], 16), "text": unhex(f[6]), "icon": False}
                self.controls[ctl["id"]] = ctl
                self.order.append(ctl)
            elif f[0] == "icon":
                self.controls[int(f[1])]["icon"] = f[2] != "0"
            elif f[0] == "focus":
                self.focus = int(f[1])
        return self

    @property
    def is_dialog(self):
        return self.cls == "#32770" and 1001 in self.controls

    @property
    def is_box(self):
        return self.cls == "#32770" and 65535 in self.controls

    def describe(self):
        if self.is_dialog:
            return "page  %s | info %s | %s | focus %d" % (
                show(self.caption), show(self.controls[1001]["text"]), self.buttons(), self.focus)
        if self.is_box:
            return "box   %s | %s | %s | icon %s" % (
                show(self.caption), show(self.controls[65535]["text"]), self.box_buttons(),
                "yes" if self.has_icon() else "no")
        return "window %s %s" % (self.cls, show(self.caption))

    def buttons(self):
        parts = []
        for i in (1, 2, 4):
            c = self.controls.get(i)
            parts.append("?" if c is None else show(c["text"]) + ("+" if c["enabled"] else "-"))
        return " ".join(parts)

    def box_buttons(self):
        return " ".join(show(c["text"]) for c in self.order
                        if c["class"].lower() == "button" and c["visible"])

    def has_icon(self):
        return any(c["icon"] for c in self.order)


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ""
        self.steps = []  # (where, words, block)
        self.parse(path)

    def parse(self, path):
        lines = open(path, encoding="utf-8").read().split("\n")
        i = 0
        while i < len(lines):
            raw, lineno = lines[i], i + 1
            where = "%s:%d" % (os.path.basename(path), lineno)
            i += 1
            text = raw.strip()
            if not text or text.startswith("#"):
                if text.startswith("# ") and not self.title and not self.steps:
                    self.title = text[2:]
                continue
            if text.startswith("<<<") or text.startswith("<<+"):
                block = []
                while i < len(lines) and lines[i].strip() != ">>>":
                    block.append(lines[i])
                    i += 1
                if i == len(lines):
                    raise SystemExit("%s:%d: block without >>>" % (path, lineno))
                i += 1
                words = [text[:3]] + split_words(text[3:])
                self.steps.append((where, words, block))
            else:
                words = split_words(text)
                if words[0] == "include":
                    self.parse(os.path.join(os.path.dirname(path), words[1]))
                else:
                    self.steps.append((where, words, None))


def split_words(text):
    """Shell-like words, but a backslash is just a backslash (Windows paths)."""
    lexer = shlex.shlex(text, posix=True)
    lexer.whitespace_split = True
    lexer.escape = ""
    lexer.commenters = ""
    return list(lexer)


def split_options(words):
    pos, opts = [], {}
    for w in words:
        m = re.match(r"^([A-Za-z][A-Za-z-]*)=(.*)$", w, re.S)
        if m:
            opts[m.group(1)] = m.group(2)
        else:
            pos.append(w)
    return pos, opts


class Run:
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
        return "%s:\\%s\\inst" % (self.drive, self.sc.name)

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
        try:
            for where, words, block in self.sc.steps:
                try:
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

    # --- setup steps
    def do_drive(self, pos, opts):
        self.drive = pos[0].upper()

    def do_require(self, pos, opts):
        if pos == ["tmpfs"]:
            if not os.path.ismount(linux_path("T:\\")):
                raise Skip("T: is not a tmpfs here (mounting needs privileges)")
        else:
            raise Failure("unknown requirement")

    def touched(self, kind):
        if kind == "update":
            self.built = False  # the next start packs it again

    def write(self, kind, rel, data, append=False):
        self.touched(kind)
        path = self.place(kind, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "ab" if append else "wb") as f:
            f.write(data)
        return path

    def do_block(self, pos, opts, block, append=False):
        kind, rel = pos
        data = cp932("".join(self.subst_block(line) + "\r\n" for line in block))
        self.write(kind, rel, data, append)

    def subst_block(self, line):
        return line.replace("${INST}", self.inst).replace("${DATA}", self.data).replace("${DISC}", "Q:")

    def do_append(self, pos, opts, block):
        self.do_block(pos, opts, block, append=True)

    def do_file(self, pos, opts):
        kind, rel = pos[0], pos[1]
        if "size" in opts:
            n = int(opts["size"])
            data = (bytes(range(256)) * (n // 256 + 1))[:n]
        elif "hex" in opts:
            data = bytes.fromhex(opts["hex"])
        else:
            data = cp932(self.subst(opts.get("text", "")))
        path = self.write(kind, rel, data)
        if "time" in opts:
            t = parse_time(opts["time"])
            os.utime(path, (t, t))
            self.setup_times[path] = t
        if "readonly" in pos[2:]:
            os.chmod(path, 0o444)

    def do_copy(self, pos, opts):
        """copy KIND REPO_FOLDER: the folder's contents, times kept."""
        self.touched(pos[0])
        source = os.path.join(ROOT, pos[1])
        target = self.place(pos[0])
        shutil.copytree(source, target, dirs_exist_ok=True)
        for base, _, files in os.walk(target):
            for name in files:
                path = os.path.join(base, name)
                self.setup_times[path] = os.stat(path).st_mtime

    def do_set_ini(self, pos, opts):
        """set-ini KIND GLOB KEY VALUE: rewrites KEY's line in every file
        that GLOB matches; VALUE may be FREE+N or FREE (the installation
        drive's free bytes plus N)."""
        kind, pattern, key, value = pos
        m = re.match(r"^FREE([+-]\d+)?$", value)
        if m:
            value = str(self.free_bytes() + int(m.group(1) or 0))
        paths = glob.glob(self.place(kind, pattern))
        if not paths:
            raise Failure("no file matches %s" % pattern)
        for path in paths:
            data = open(path, "rb").read()
            new, n = re.subn(rb"(?im)^(" + re.escape(key.encode()) + rb"=)[^\r\n]*", 
                             lambda mm: mm.group(1) + value.encode(), data)
            if n != 1:
                raise Failure("%s has no single %s line" % (path, key))
            open(path, "wb").write(new)
        self.say("%s=%s in %s" % (key, value, ", ".join(os.path.basename(p) for p in paths)))

    def do_settime(self, pos, opts):
        path = self.place(pos[0], pos[1])
        t = parse_time(pos[2])
        os.utime(path, (t, t))
        self.setup_times[path] = t

    def do_folder(self, pos, opts):
        os.makedirs(self.place(pos[0], pos[1]), exist_ok=True)

    def do_remove(self, pos, opts):
        self.touched(pos[0])
        path = self.place(pos[0], pos[1])
        if os.path.isdir(path):
            shutil.rmtree(path)
        else:
            os.remove(path)

    def do_registry(self, pos, opts):
        company, gamedir = pos
        key = "HKCU\\Software\\%s\\%s" % (company, gamedir)
        wine(["reg", "delete", key, "/f"], check=False)
        for name, value in opts.items():
            value = self.subst(value)
            if name == "InstMode":
                wine(["reg", "add", key, "/v", name, "/t", "REG_DWORD", "/d", value, "/f"])
            else:
                wine(["reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])

    def do_build(self, pos, opts):
        self.build("--force" in pos)

    def build(self, force=False):
        os.makedirs(self.work, exist_ok=True)
        cmd = [os.path.join(ROOT, "tools", "build-updater")] + (["--force"] if force else []) + [
            os.path.join(self.work, "update"), self.exe]
        r = subprocess.run(cmd, capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("build-updater failed: %s%s" % (r.stdout, r.stderr))
        self.built = True

    def do_resource(self, pos, opts):
        if not self.built:
            self.build()
        if pos[0] == "delete":
            # Wine's UpdateResource does not delete; renaming the resource's
            # type in the directory hides it from FindResource just the same.
            image = open(self.exe, "rb").read()
            name = b"\x06\x00" + "UPDATE".encode("utf-16le")
            if image.count(name) != 1:
                raise Failure("cannot find the resource type name in %s" % self.exe)
            open(self.exe, "wb").write(image.replace(name, b"\x06\x00" + "UPDATX".encode("utf-16le")))
            return
        source = hexify(cp932(windows_path(os.path.join(self.work, pos[0]))))
        self.driver("resource", hexify(cp932(windows_path(self.exe))), source)

    # --- actions
    def label(self, pos, default="upd"):
        return pos[0] if pos and not pos[0].isdigit() and pos[0] not in BUTTON_IDS and \
            pos[0] not in ANSWER_IDS else default

    def do_start(self, pos, opts):
        label = pos[0] if pos else "upd"
        if not self.built:
            self.build()
        if self.before is None:
            self.before = snapshot(self.place("inst"))
        self.driver("start", label, hexify(cp932(windows_path(self.work))),
                    hexify(cp932(windows_path(self.exe))))
        self.labels[label] = "updater"
        self.last_label = label
        self.say("start %s" % label)

    def do_game(self, pos, opts):
        label = pos[0]
        cls, title = cp932(self.subst(opts["class"])), cp932(self.subst(opts["title"]))
        exe = os.path.join(WIN32_BUILD, "e2e", "fakegame.exe")
        self.driver("start", label, "-", hexify(cp932(windows_path(exe))),
                    hexify(cp932("%s %s 120" % (cls.hex(), title.hex()))))
        self.labels[label] = "game"
        def shown():
            h = self.driver("find", cls.hex(), title.hex())[0].split()[1]
            return any(w.handle == h and w.visible for w in self.windows(label))
        self.wait_for(shown, "the game window %s" % show(title))
        self.say("game %s running: %s / %s" % (label, show(cls), show(title)))

    def do_quit_game(self, pos, opts):
        label = pos[0]
        for w in self.windows(label):
            if w.visible:
                self.driver("close", w.handle)
        self.wait_exit(label)
        self.say("game %s closed" % label)

    def do_press(self, pos, opts):
        label = self.label(pos)
        which = pos[-1]
        ident = BUTTON_IDS[which]
        found = [None]

        def ready():
            # A player waits for the button: a page's text can come before
            # its buttons are enabled.
            try:
                dialog = self.find(label, "page")
            except Failure:
                return False
            ctl = dialog.controls.get(ident)
            found[0] = (dialog, ctl)
            return ctl is not None and ctl["enabled"] and ctl["visible"]

        self.wait_for(ready, "the %s button to be enabled" % which,
                      lambda: found[0][0].describe() if found[0] else "no page is shown")
        dialog, ctl = found[0]
        self.driver("click", dialog.handle, ident)
        self.say("press %s (%s)" % (which, show(ctl["text"])))

    def do_command(self, pos, opts):
        label = self.label(pos)
        dialog = self.find(label, "page")
        self.driver("command", dialog.handle, int(pos[-1]))
        self.say("command %s to the dialog" % pos[-1])

    def do_close(self, pos, opts):
        label = self.label(pos)
        dialog = self.find(label, "page")
        self.driver("close", dialog.handle)
        self.say("close box of the dialog")

    def do_answer(self, pos, opts):
        label = self.label(pos)
        box = self.find(label, "box")
        ident = ANSWER_IDS[pos[-1]]
        if ident not in box.controls:
            raise Failure("the box has no %s button: %s" % (pos[-1], box.describe()))
        self.driver("click", box.handle, ident)
        self.say("answer %s" % pos[-1])
        # The box must go before the next expectation looks: a box that comes
        # again is then a new one.
        self.wait_for(lambda: not any(w.handle == box.handle and w.visible for w in self.windows(label)),
                      "the box to close")

    def do_raise(self, pos, opts):
        w = self.main_window(pos[0])
        self.driver("raise", w.handle)

    def do_shot(self, pos, opts):
        target = self.photograph(self.last_label, pos[0])
        self.say("shot %s" % os.path.relpath(target, ROOT))

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

    # --- expectations
    def do_page(self, pos, opts):
        self.expect_window(self.label(pos), "page", opts)

    def do_box(self, pos, opts):
        self.expect_window(self.label(pos), "box", opts)

    def expect_window(self, label, kind, opts):
        self.last_label = label
        want = {k: v for k, v in opts.items()}

        def mismatches(w):
            bad = []
            for key, value in want.items():
                if key == "caption":
                    got = w.caption
                elif key == "info" and kind == "page":
                    got = w.controls[1001]["text"]
                elif key == "text" and kind == "box":
                    got = w.controls[65535]["text"]
                elif key == "buttons":
                    got = cp932(w.buttons() if kind == "page" else w.box_buttons())
                    value = " ".join(value.split())
                elif key == "focus":
                    got = str(w.focus).encode()
                elif key == "icon":
                    got = b"yes" if w.has_icon() else b"no"
                elif key == "owner":
                    # "dialog": the process's update dialog owns it; "none"
                    dialogs = [d.handle for d in self.windows(label, read=True) if d.visible and d.is_dialog]
                    got = b"none" if w.owner == "0" else b"dialog" if w.owner in dialogs else b"other"
                else:
                    raise Failure("unknown option " + key)
                expected = self.expected(value)
                if got != expected:
                    bad.append("%s: expected %s, saw %s (%s)" % (key, show(expected), show(got), got.hex()))
            return bad

        last = [None, []]

        def check():
            candidates = [w for w in self.windows(label, read=True) if w.visible and
                          (w.is_dialog if kind == "page" else w.is_box)]
            if not candidates:
                last[1] = ["no %s is shown" % kind]
                return False
            for w in candidates:
                bad = mismatches(w)
                if not bad:
                    last[0] = w
                    return True
                last[1] = bad
            return False

        self.wait_for(check, kind, lambda: "; ".join(last[1]))
        self.say(last[0].describe())
        self.shots += 1
        try:
            self.photograph(label, "%02d-%s" % (self.shots, kind))
        except Failure:
            pass  # gone already (a box answered by someone else): not this step's concern

    def do_exit(self, pos, opts):
        label = self.label(pos)
        code = self.wait_exit(label)
        if code != int(pos[-1]):
            raise Failure("exit code %d, expected %s" % (code, pos[-1]))
        self.say("%s exited with %d" % (label, code))

    def do_wait(self, pos, opts):
        """Waits for the player to finish, however long that takes."""
        label = self.label(pos)
        while True:
            r = self.driver("exit", label, 1000)[0]
            if r.startswith("exit "):
                self.say("%s exited with %s" % (label, r.split()[1]))
                return

    def do_changes(self, pos, opts):
        """Lists what changed in the installation since the first start."""
        after = snapshot(self.place("inst"))
        self.say("changes in %s (%s):" % (self.inst, self.place("inst")))
        for rel in sorted(set(self.before) | set(after)):
            old, new = self.before.get(rel), after.get(rel)
            if old == new:
                continue
            what = "added" if old is None else "removed" if new is None else \
                "changed" if old[2] != new[2] else "rewritten"
            info = "" if new is None else "%d bytes, last written %s" % (new[0], stamp(new[1]))
            self.say("  %-9s %s  %s" % (what, rel, info))
        same = sum(1 for rel in after if self.before.get(rel) == after[rel])
        self.say("  (%d files unchanged)" % same)

    def do_foreground(self, pos, opts):
        w = self.main_window(pos[0])
        seen = [""]

        def in_front():
            fg = self.driver("foreground")[0].split()[1]
            order = [l.split()[1] for l in self.driver("zorder")]
            seen[0] = "foreground window %s, z-order %s" % (fg, " ".join(order[:4]))
            return fg == w.handle or (order and order[0] == w.handle)

        self.wait_for(in_front, "%s's window in front" % pos[0], lambda: seen[0])
        self.say("%s's window is in front" % pos[0])

    def do_expect_absent(self, pos, opts):
        path = self.place(pos[0], pos[1])
        if os.path.lexists(path):
            raise Failure("%s exists" % path)
        self.say("%s %s: absent" % (pos[0], pos[1]))

    def do_expect_folder(self, pos, opts):
        path = self.place(pos[0], pos[1])
        if not os.path.isdir(path):
            raise Failure("%s is not a folder" % path)
        self.say("%s %s: folder" % (pos[0], pos[1]))

    def do_expect_file(self, pos, opts):
        kind, rel = pos[0], pos[1]
        path = self.place(kind, rel)
        if not os.path.isfile(path):
            raise Failure("%s is not a file" % path)
        st = os.stat(path)  # before reading: reading may touch the access time
        notes = []
        data = open(path, "rb").read()
        if "text" in opts and data != self.expected(opts["text"]):
            raise Failure("content %r, expected %r" % (show(data), opts["text"]))
        if "same" in opts:
            other = opts["same"] if ":" in opts["same"] else "update:" + opts["same"]
            member = open(self.place(*other.split(":", 1)), "rb").read()
            if data != member:
                raise Failure("content differs from the update's %s (%d bytes, expected %d)" % (
                    opts["same"], len(data), len(member)))
            notes.append("content = %s" % other)
        elif "text" in opts:
            notes.append("content %r" % show(data))
        if "time" in opts:
            when = opts["time"]
            if when.startswith("member:"):
                want = os.stat(self.place("update", when[7:])).st_mtime
                for name, got in (("last-write", st.st_mtime), ("last-access", st.st_atime)):
                    if abs(got - want) > 1e-6:
                        raise Failure("%s time %s, expected the member's %s" % (name, stamp(got), stamp(want)))
            elif when == "recent":
                if st.st_mtime < self.started_at - 2:
                    raise Failure("last-write time %s is older than the scenario" % stamp(st.st_mtime))
            elif when == "unchanged":
                want = self.setup_times[path]
                if abs(st.st_mtime - want) > 1e-6:
                    raise Failure("last-write time %s, expected it unchanged at %s" % (stamp(st.st_mtime), stamp(want)))
            else:
                want = parse_time(when)
                if abs(st.st_mtime - want) > 1e-6:
                    raise Failure("last-write time %s, expected %s" % (stamp(st.st_mtime), stamp(want)))
            notes.append("time %s" % stamp(st.st_mtime))
        if "readonly" in opts:
            win = self.win_of(kind, rel)
            attrs = int(self.driver("attrs", hexify(cp932(win)))[0].split()[1], 16)
            ro = "yes" if attrs & 1 else "no"
            if ro != opts["readonly"]:
                raise Failure("read-only %s (attributes 0x%x), expected %s" % (ro, attrs, opts["readonly"]))
            notes.append("read-only %s" % ro)
        self.say("%s %s: %s" % (kind, rel, ", ".join(notes) or "present"))

    def win_of(self, kind, rel):
        base = {"inst": self.inst, "data": self.data, "disc": "Q:"}[kind]
        return base + "\\" + rel.replace("/", "\\")

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


def snapshot(folder):
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            st = os.stat(path)
            files[os.path.relpath(path, folder)] = (st.st_size, st.st_mtime, open(path, "rb").read())
    return files


def stamp(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + "Z"


def wine(args, check=True):
    r = subprocess.run(["wine"] + args, capture_output=True)
    if check and r.returncode != 0:
        raise Failure("wine %s failed (%d)" % (" ".join(args), r.returncode))


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
