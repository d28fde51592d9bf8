"""qa2 preview held against the real run: before each run in which the
player only presses 次へ/完了 and answers OK, `qa2 preview --json` predicts
the run on the same installation; once the updater has exited, every file
it created or wrote in the installation and data folders must be predicted
with "writes": true, no other, every file it removed (leftovers of killed
runs) must be among the "deletions", and the exit code must be the
predicted one.
"""
import json
import os
import subprocess

from common import QA2, QA2_EXE, Failure, linux_path, windows_path

# Verbs that may come between a previewed start and its exit: the player
# presses Next (and Done) and answers OK; the rest only looks.
PASSIVE = {"page", "box", "shot", "changes", "responsive", "progress", "expect-file", "expect-either",
           "expect-clean", "expect-absent", "expect-folder", "foreground"}

# Scenarios whose runs are not previewed although the player only presses
# Next and OK, and why.
LEFT_OUT = {}


def label_of(words):
    pos = [w for w in words[1:] if "=" not in w]
    return pos[0] if pos else "upd"


def plan(steps, scenario):
    """{index of a start step: None (previewed) or why not}."""
    out = {}
    running = set()  # labels of updaters and games started and not yet ended
    for i, (_, words, _) in enumerate(steps):
        verb = words[0]
        if verb in ("exit", "quit-game"):
            pos = [w for w in words[1:] if "=" not in w]
            running.discard(pos[0] if verb == "quit-game" or len(pos) > 1 else "upd")
        elif verb == "game":
            running.add(label_of(words))
        elif verb == "kill-on-change":  # it kills the updater
            running.discard(label_of(words))
        if verb != "start":
            continue
        label = label_of(words)
        why = LEFT_OUT.get(scenario)
        if not why and running - {label}:
            why = "another updater or the game runs alongside"
        running.add(label)
        ended = False
        for _, later, _ in steps[i + 1:]:
            verb, pos = later[0], [w for w in later[1:] if "=" not in w]
            if verb == "exit" and (pos[:-1] or ["upd"])[0] == label:
                ended = True
                break
            # The autopilot waits for the updater to end, and a pressing one
            # is the passive player.
            if verb == "autopilot" and (pos or ["upd"])[0] == label:
                ended = True
                if "press=no" in later and not why:
                    why = "the player presses the buttons"
                break
            if why:
                continue
            if verb == "press" and pos[-1] != "next":
                why = "the player presses %s" % pos[-1]
            elif verb == "answer" and pos[-1] != "ok":
                why = "the player answers %s" % pos[-1]
            elif verb not in PASSIVE and verb not in ("press", "answer", "autopilot"):
                why = "'%s' during the run" % verb
        out[i] = why or (None if ended else "the run is not waited for to exit")
    return out


def files_of(folder):
    """path -> (size, mtime_ns, inode) of every file below `folder`."""
    out = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            st = os.stat(path)
            out[path] = (st.st_size, st.st_mtime_ns, st.st_ino)
    return out


class PreviewCheck:
    """Part of runner.Run."""

    def preview_before(self, label):
        if not self.built:
            self.build()
        reg = getattr(self, "registry_values", None)
        if not reg or "InstPath" not in reg or "InstMode" not in reg:
            self.preview_skip("the registry lacks the game's key or values; a preview presents them")
            return
        inst = linux_path(reg["InstPath"])
        data_path = reg.get("DataPath") or reg["InstPath"]
        data = linux_path(data_path)
        if not os.path.isdir(inst):
            self.preview_skip("the installation folder does not exist")
            return
        args = [QA2, "preview", self.exe, "--install", inst, "--inst-path", reg["InstPath"],
                "--mode", reg["InstMode"], "--cdrom", "Q:=" + linux_path("Q:\\"), "--json"]
        for letter in os.environ.get("E2E_CDROMS", "").split():
            args[-1:-1] = ["--cdrom", "%s:=%s" % (letter.upper(), linux_path(letter.upper() + ":\\"))]
        if data != inst:
            args += ["--data", data, "--data-path", data_path]
        r = subprocess.run(args, capture_output=True, timeout=600)
        if r.returncode != 0:
            raise Failure("qa2 preview failed: %s" % r.stderr.decode(errors="replace"))
        prediction = json.loads(r.stdout.decode("utf-8"))
        if prediction["exit_code"] is None:
            self.preview_skip("the preview has the run wait for the player (%s)" % prediction["waits"])
            return
        with open(os.path.join(self.work, "preview-%s.json" % label), "wb") as f:
            f.write(r.stdout)
        self.preview_with_qa2_exe(args, prediction)
        folders = sorted({inst, data})
        before = {}
        for f in folders:
            before.update(files_of(f))
        self.pending_preview = (label, prediction, folders, before)
        writes = sum(1 for f in prediction["files"] if f["writes"])
        self.say("preview: exit code %s, %d file(s) written" % (prediction["exit_code"], writes))

    def preview_with_qa2_exe(self, args, prediction):
        """qa2.exe under Wine, on the same folders as Windows paths, must
        predict the same (where there is one: a release's try-update has
        none)."""
        if not os.path.exists(QA2_EXE):
            return
        wargs = []
        for a in args[1:]:
            if a.startswith("/"):
                a = windows_path(a)
            elif len(a) > 3 and a[1:3] == ":=":
                a = a[:3] + windows_path(a[3:])
            wargs.append(a)
        r = subprocess.run(["wine", QA2_EXE] + wargs, capture_output=True, timeout=600)
        if r.returncode != 0:
            raise Failure("qa2.exe preview failed: %s" % r.stderr.decode(errors="replace"))
        theirs = json.loads(r.stdout.decode("utf-8"))

        def key(p):
            return p["exit_code"], [(f["action"], f["writes"], f["target"]) for f in p["files"]], \
                [(m["kind"], m["text"]) for m in p["messages"]]
        if key(theirs) != key(prediction):
            raise Failure("qa2.exe under Wine predicts otherwise than qa2:\n%s\n%s" %
                          (json.dumps(key(theirs), ensure_ascii=False), json.dumps(key(prediction), ensure_ascii=False)))

    def preview_skip(self, why):
        self.say("preview: not held against this run: " + why)

    def preview_after(self, label, code):
        pending = getattr(self, "pending_preview", None)
        if not pending or pending[0] != label:
            return
        self.pending_preview = None
        _, prediction, folders, before = pending
        after = {}
        for f in folders:
            after.update(files_of(f))
        written = {p for p, st in after.items() if before.get(p) is None or before[p] != st}
        predicted = {f["path"] for f in prediction["files"] if f["writes"]}
        problems = []
        if prediction["exit_code"] != code:
            problems.append("exit code %s predicted, %d seen" % (prediction["exit_code"], code))
        for p in sorted(written - predicted):
            problems.append("written but not predicted: " + p)
        for p in sorted(predicted - written):
            problems.append("predicted but not written: " + p)
        removed = set(before) - set(after)
        for p in sorted(removed ^ set(prediction["deletions"])):
            problems.append(("removed but not predicted: " if p in removed else "predicted removed but kept: ") + p)
        if problems:
            raise Failure("qa2 preview was wrong:\n      " + "\n      ".join(problems))
        self.say("preview held: exit code %d, %d file(s) written and %d removed as predicted" %
                 (code, len(written), len(removed)))
