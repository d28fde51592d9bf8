"""Expectations: each waits until what the player sees, or the files,
match the scenario, or fails after a timeout."""
import filecmp
import glob
import os
import re

from common import Failure, cp932, hexify, show, stamp
from scenario import parse_time


class Expectations:
    """Part of runner.Run, whose windows and waits these use."""

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
        self.preview_after(label, code)

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
        data = open(path, "rb").read() if "text" in opts else b""
        if "text" in opts and data != self.expected(opts["text"]):
            raise Failure("content %r, expected %r" % (show(data), opts["text"]))
        if "same" in opts:
            other = opts["same"] if ":" in opts["same"] else "update:" + opts["same"]
            member = self.place(*other.split(":", 1))
            # Compared piece by piece: members may be gigabytes.
            if not filecmp.cmp(path, member, shallow=False):
                raise Failure("content differs from the update's %s (%d bytes, expected %d)" % (
                    opts["same"], st.st_size, os.path.getsize(member)))
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
        if "hidden" in opts:
            win = self.win_of(kind, rel)
            attrs = int(self.driver("attrs", hexify(cp932(win)))[0].split()[1], 16)
            hs = "yes" if attrs & 6 == 6 else "no" if attrs & 6 == 0 else "partly"
            if hs != opts["hidden"]:
                raise Failure("hidden and system %s (attributes 0x%x), expected %s" % (hs, attrs, opts["hidden"]))
            notes.append("hidden and system %s" % hs)
        if "readonly" in opts:
            win = self.win_of(kind, rel)
            attrs = int(self.driver("attrs", hexify(cp932(win)))[0].split()[1], 16)
            ro = "yes" if attrs & 1 else "no"
            if ro != opts["readonly"]:
                raise Failure("read-only %s (attributes 0x%x), expected %s" % (ro, attrs, opts["readonly"]))
            notes.append("read-only %s" % ro)
        self.say("%s %s: %s" % (kind, rel, ", ".join(notes) or "present"))

    def do_expect_either(self, pos, opts):
        """expect-either KIND PATH old=T|old-absent new=T|new-same=MEMBER:
        the file holds its old or its new content, nothing between."""
        kind, rel = pos[0], pos[1]
        path = self.place(kind, rel)
        data = open(path, "rb").read() if os.path.isfile(path) else None
        olds = [None] if "old-absent" in pos else [self.expected(opts["old"])]
        if "new-same" in opts:
            other = opts["new-same"] if ":" in opts["new-same"] else "update:" + opts["new-same"]
            new = open(self.place(*other.split(":", 1)), "rb").read()
        else:
            new = self.expected(opts["new"])
        if data == new:
            self.say("%s %s: new" % (kind, rel))
        elif data in olds:
            self.say("%s %s: %s" % (kind, rel, "absent" if data is None else "old"))
        else:
            raise Failure("%s holds neither its old nor its new content (%s)" % (
                rel, "absent" if data is None else "%d bytes" % len(data)))

    def do_expect_clean(self, pos, opts):
        """No file of the updater's own beside the targets or in temp."""
        left = []
        for kind in ("inst", "data"):
            for base, _, names in os.walk(self.place(kind)):
                left += [os.path.join(base, n) for n in names if re.search(r"\.~[0-9a-fA-F]+\.tmp$", n)]
        left += glob.glob(os.path.join(self.temp_folder(), "UPDATE-*"))
        if left:
            raise Failure("left behind: %s" % ", ".join(os.path.basename(p) for p in left))
        self.say("nothing of the updater's left in the folders or in temp")

    def win_of(self, kind, rel):
        base = {"inst": self.inst, "data": self.data, "disc": "Q:"}[kind]
        return base + "\\" + rel.replace("/", "\\")
