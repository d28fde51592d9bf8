"""Actions: what the player does to the windows, and what the scenario
does between them."""
import os
import shutil
import time

from common import ROOT, WIN32_BUILD, Failure, cp932, hexify, show, stamp, windows_path

BUTTON_IDS = {"next": 1, "abort": 2, "back": 4}
ANSWER_IDS = {"ok": 1, "cancel": 2}


class Actions:
    """Part of runner.Run, whose windows and waits these use."""

    def label(self, pos, default="upd"):
        return pos[0] if pos and not pos[0].isdigit() and pos[0] not in BUTTON_IDS and \
            pos[0] not in ANSWER_IDS else default

    def do_start(self, pos, opts):
        label = pos[0] if pos else "upd"
        if not self.built:
            self.build()
        if self.before is None:
            self.before = snapshot(self.place("inst"))
            self.data_before = snapshot(self.place("data"))
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

    def do_remove(self, pos, opts):
        self.touched(pos[0])
        path = self.place(pos[0], pos[1])
        if os.path.isdir(path):
            shutil.rmtree(path)
        else:
            os.remove(path)

    def do_wait(self, pos, opts):
        """Waits for the player to finish, however long that takes."""
        label = self.label(pos)
        while True:
            r = self.driver("exit", label, 1000)[0]
            if r.startswith("exit "):
                self.say("%s exited with %s" % (label, r.split()[1]))
                return

    def do_changes(self, pos, opts):
        """Lists what changed in the installation (and, with "data", in the
        data folder) since the first start."""
        for kind in ["inst"] + [k for k in pos if k == "data"]:
            before = self.before if kind == "inst" else self.data_before
            after = snapshot(self.place(kind))
            where = self.inst if kind == "inst" else self.data
            self.say("changes in %s (%s):" % (where, self.place(kind)))
            for rel in sorted(set(before) | set(after)):
                old, new = before.get(rel), after.get(rel)
                if old == new:
                    continue
                what = "added" if old is None else "removed" if new is None else \
                    "changed" if old[2] != new[2] else "rewritten"
                info = "" if new is None else "%d bytes, last written %s" % (new[0], stamp(new[1]))
                self.say("  %-9s %s  %s" % (what, rel, info))
            same = sum(1 for rel in after if before.get(rel) == after[rel])
            self.say("  (%d files unchanged)" % same)

    def do_autopilot(self, pos, opts):
        """autopilot [LABEL] [press=no] [limit=SECONDS]: the player who
        presses 次へ whenever it is enabled (next, next, then 完了) and OK on
        every box, until the updater ends; each page and box is said and
        photographed once. A box that comes back unchanged a third time (a
        disc that is not there) is answered with キャンセル, a page that waits
        for 戻る or 中止 (too little free space) with 中止. press=no only
        watches a player who presses the buttons (no time limit then)."""
        label = self.label(pos)
        pressing = opts.get("press", "yes") != "no"
        deadline = time.time() + float(opts.get("limit", "600"))
        seen = {}          # (kind, text) -> times shown
        last_page = None   # the page's text when last seen
        waiting_since = None
        while True:
            r = self.driver("exit", label, 100)[0]
            if r.startswith("exit "):
                self.say("exit code %s" % r.split()[1])
                self.preview_after(label, int(r.split()[1]))
                return
            if pressing and time.time() > deadline:
                raise Failure("the updater still runs after %s s" % opts.get("limit", "600"))
            try:
                shown = [w for w in self.windows(label, read=True) if w.visible]
            except Failure:
                continue  # ended meanwhile
            boxes = [w for w in shown if w.is_box]
            pages = [w for w in shown if w.is_dialog]
            if boxes:
                box = boxes[0]
                key = ("box", box.caption, box.controls[65535]["text"])
                times = seen.get(key, 0)
                if times == 0 or box.handle != seen.get(("handle",) + key[1:]):
                    seen[key] = times + 1
                    seen[("handle",) + key[1:]] = box.handle
                    self.say(box.describe())
                    self.shot(label, "box")
                if pressing:
                    answer = 2 if seen[key] >= 3 and 2 in box.controls else 1 if 1 in box.controls else 2
                    if answer not in box.controls:
                        continue
                    self.driver("click", box.handle, answer)
                    self.say("answer %s" % show(box.controls[answer]["text"]))
                    self.wait_gone(label, box.handle)
                continue
            if not pages:
                time.sleep(0.05)
                continue
            page = pages[0]
            text = page.controls[1001]["text"]
            buttons = page.buttons()
            if (text, buttons) != last_page:
                last_page = (text, buttons)
                waiting_since = time.time()
                self.say(page.describe())
                self.shot(label, "page")
            if not pressing:
                time.sleep(0.2)
                continue
            nxt, abort, back = (page.controls.get(i) for i in (1, 2, 4))
            if nxt and nxt["enabled"] and nxt["visible"]:
                self.driver("click", page.handle, 1)
                self.say("press %s" % show(nxt["text"]))
                self.wait_for(lambda: self.page_moved(label, page.handle, text), "the dialog to go on")
                last_page = None
            elif abort and abort["enabled"] and back and back["enabled"] and time.time() - waiting_since > 2:
                self.say("the dialog waits for 戻る or 中止: press %s" % show(abort["text"]))
                self.driver("click", page.handle, 2)
                waiting_since = time.time()
            else:
                time.sleep(0.05)

    def shot(self, label, kind):
        self.shots += 1
        try:
            self.say("  screenshot %s" % os.path.basename(self.photograph(label, "%02d-%s" % (self.shots, kind))))
        except Failure:
            pass  # gone meanwhile

    def wait_gone(self, label, handle):
        self.wait_for(lambda: not any(w.handle == handle and w.visible for w in self.windows(label)),
                      "the box to close")

    def page_moved(self, label, handle, text):
        """After a press: the page's text changed, its first button is
        disabled (busy), a box is shown, or the updater ended."""
        if self.driver("exit", label, 0)[0] != "running":
            return True
        try:
            shown = [w for w in self.windows(label, read=True) if w.visible]
        except Failure:
            return True
        if any(w.is_box for w in shown):
            return True
        for w in shown:
            if w.handle == handle and w.is_dialog:
                ctl = w.controls.get(1)
                return w.controls[1001]["text"] != text or not (ctl and ctl["enabled"])
        return True


    def do_kill_on_change(self, pos, opts):
        """Kills the updater as soon as anything in the installation or data
        folder changes: a file beside a target, a target, a folder."""
        label = self.label(pos)
        folders = [self.place("inst"), self.place("data")]
        start = [light_snapshot(f) for f in folders]
        if "press" in opts:
            self.do_press([label, opts["press"]], {})
        deadline = time.time() + float(opts.get("within", "60"))
        while [light_snapshot(f) for f in folders] == start:
            if self.driver("exit", label, 0)[0] != "running":
                raise Failure("%s ended before writing anything" % label)
            if time.time() > deadline:
                raise Failure("nothing changed in the installation")
            time.sleep(0.002)
        self.driver("kill", label)
        code = self.wait_exit(label)
        changed = sorted(set(light_snapshot(folders[0])) ^ set(start[0]))
        self.say("killed %s (exit %d) as the installation changed: %s" % (
            label, code, ", ".join(changed[:4]) or "a file rewritten"))

    def do_responsive(self, pos, opts):
        """Sends WM_NULL to the dialog again and again while the update runs
        (until its first button is enabled again, or it ends); every answer
        must come within `limit` ms."""
        label = self.label(pos)
        limit = int(opts.get("limit", "2000"))
        dialog = self.find(label, "page")

        def started():
            ctl = dialog.read(self.driver).controls.get(1)
            return ctl is not None and not ctl["enabled"]
        self.wait_for(started, "the update to start (its buttons disabled)")
        answers, longest = 0, 0
        deadline = time.time() + float(opts.get("within", "600"))
        while time.time() < deadline:
            r = self.driver("ping", dialog.handle, limit * 5)[0]
            if r == "ping timeout":
                raise Failure("the dialog did not answer within %d ms" % (limit * 5))
            if r.startswith("error"):
                break  # the window is gone
            ms = int(r.split()[1])
            longest = max(longest, ms)
            answers += 1
            if ms > limit:
                raise Failure("the dialog took %d ms to answer (limit %d)" % (ms, limit))
            try:
                ctl = dialog.read(self.driver).controls.get(1)
            except Failure:
                break
            if ctl and ctl["enabled"]:
                break
            time.sleep(0.05)
        if answers < int(opts.get("min", "10")):
            raise Failure("only %d answers: the update was over too soon to tell" % answers)
        self.say("the dialog answered %d pings, the longest after %d ms" % (answers, longest))

    def do_progress(self, pos, opts):
        """Reads the progress bar while the update runs (until its first button
        is enabled again): at least `min` readings of it shown, none lower
        than the one before, and a screenshot `shot` once it stands part way;
        on the page that follows, no bar."""
        label = self.label(pos)
        dialog = self.find(label, "page")

        def started():
            ctl = dialog.read(self.driver).controls.get(1)
            return ctl is not None and not ctl["enabled"]
        self.wait_for(started, "the update to start (its buttons disabled)")
        readings, shot = [], opts.get("shot")
        limit = int(opts["limit"]) if "limit" in opts else None
        deadline = time.time() + float(opts.get("within", "600"))
        while time.time() < deadline:
            if limit is not None:
                r = self.driver("ping", dialog.handle, limit * 5)[0]
                if r == "ping timeout" or (r.startswith("ping ") and int(r.split()[1]) > limit):
                    raise Failure("the dialog did not answer within %d ms: %s" % (limit, r))
            try:
                fields = self.driver("progress", dialog.handle)[0].split()
                ctl = dialog.read(self.driver).controls.get(1)
            except Failure:
                break  # the window is gone
            if fields[1] == "1":
                position = int(fields[2])
                if readings and position < readings[-1]:
                    raise Failure("the bar went back from %d to %d" % (readings[-1], position))
                readings.append(position)
                if shot and 0.1 * 65535 < position < 0.9 * 65535:
                    self.do_shot([shot], {})
                    shot = None
            if ctl and ctl["enabled"]:
                break
            time.sleep(0.1)
        if len(readings) < int(opts.get("min", "3")):
            raise Failure("the bar was read %d times while shown" % len(readings))
        if shot:
            raise Failure("the bar never stood part way: %s" % readings)
        if self.driver("progress", dialog.handle)[0] != "progress none":
            raise Failure("the bar outlived the update")
        self.say("the bar read %d times: %s" % (len(readings), " ".join(str(r) for r in readings[:12])))

    def do_setattrs(self, pos, opts):
        self.driver("setattrs", hexify(cp932(self.win_of(pos[0], pos[1]))), pos[2])


def light_snapshot(folder):
    files = {}
    for base, dirs, names in os.walk(folder):
        for name in names + dirs:
            path = os.path.join(base, name)
            try:
                st = os.lstat(path)
            except FileNotFoundError:
                continue
            files[os.path.relpath(path, folder)] = (st.st_size, st.st_mtime_ns)
    return files


def snapshot(folder):
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            st = os.stat(path)
            files[os.path.relpath(path, folder)] = (st.st_size, st.st_mtime, open(path, "rb").read())
    return files
