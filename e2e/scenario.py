"""The scenario file format, read by e2e/run.py.

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
  file KIND PATH size=N noise=SEED [poke=OFFSET:HEX,...]
                                N bytes of noise (the same for a seed), with
                                bytes changed at the offsets: versions of a
                                file for patches
  folder KIND PATH
  settime KIND PATH ISO         sets a file's last-write (and access) time
  set-ini KIND GLOB KEY VALUE   rewrites KEY in INI files (the updater's
                                temporary UPDATE.INI, say); VALUE FREE+N is
                                the installation drive's free bytes plus N
  copy KIND FOLDER              a folder of the repository, times kept
  bigfile KIND PATH size=N [time=ISO]
                                N bytes that compress about 85 times (1000
                                bytes of noise repeated), written quickly
  pack-fast [KIND PATH]...      packs the update folder and the files named
                                with qa2 pack --fast into UPDATE.EXE (built
                                with --force first; optimal mode is too slow
                                for gigabytes)
  setattrs KIND PATH HEX        SetFileAttributesA (hidden, system...)
  registry COMPANY GAMEDIR [InstPath=P] [DataPath=P] [InstMode=N]
                                replaces the game's key (no values: no key)
  build [--force] [--sign] [--wine-qa2] [--gate] [base=KIND:PATH,...]
                                packs the update folder into UPDATE.EXE now
                                with qa2 build; --sign signs it with a test
                                certificate (checked by osslsigncode and qa2
                                verify); --wine-qa2 builds it again with
                                qa2.exe under Wine and compares the bytes
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
  kill-on-change [LABEL] [press=BUTTON]
                                (presses BUTTON, then) kills the updater as
                                soon as anything in inst or data changes
  responsive [LABEL] [limit=MS] [min=N]
                                sends WM_NULL to the dialog again and again
                                until its first button is enabled again;
                                each must be answered within MS (2000)
  progress [LABEL] [min=N] [shot=NAME] [limit=MS]
                                reads the progress bar until the update
                                ends: N readings at least (3), never lower
                                than the one before, a screenshot NAME part
                                way, and no bar on the page after; with MS,
                                a WM_NULL before each, answered within MS
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
  expect-file ... [hidden=yes|no]  hidden and system attributes both set
  expect-either KIND PATH old=T|old-absent new=T|new-same=[KIND:]PATH
                                the file holds its old or its new content
  expect-clean                  no "*.~<hex>.tmp" beside the installation's
                                files, no UPDATE-* in temp
  expect-absent KIND PATH
  expect-folder KIND PATH
After every scenario: no process left running, no UPDATE*.INI in temp.
"""
import datetime
import os
import re
import shlex


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


def parse_time(text):
    t = datetime.datetime.fromisoformat(text)
    if t.tzinfo is None:
        t = t.replace(tzinfo=datetime.timezone.utc)
    return t.timestamp()
