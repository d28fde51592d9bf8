"""The channel to e2e/driver.exe and the windows it reports."""
import subprocess

from common import Failure, show, unhex


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
