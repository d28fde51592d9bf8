"""Setup steps: the files, folders, registry and UPDATE.EXE a scenario
starts from."""
import glob
import os
import random
import re
import shutil
import subprocess
import time

from common import E2E_DIR, QA2, QA2_EXE, ROOT, WIN32_BUILD, Failure, Skip, cp932, hexify, linux_path, windows_path
from scenario import parse_time


class SetupSteps:
    """Part of runner.Run, whose places and values these use."""

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
        if "noise" in opts:
            # Bytes that do not compress, the same for the same seed: a
            # version of a file that a patch can start from.
            n = int(opts["size"])
            data = bytearray(random.Random(int(opts["noise"])).randbytes(n))
            for poke in opts.get("poke", "").split(","):
                if poke:
                    at, hexbytes = poke.split(":")
                    new = bytes.fromhex(hexbytes)
                    data[int(at):int(at) + len(new)] = new
            data = bytes(data)
        elif "size" in opts:
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

    def do_bigfile(self, pos, opts):
        """bigfile KIND PATH size=N [time=ISO]: N bytes that compress about
        85 times even in fast mode (1000 bytes of noise, repeated), written
        quickly."""
        kind, rel = pos[0], pos[1]
        self.touched(kind)
        path = self.place(kind, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        n = int(opts["size"])
        noise = random.Random(5)
        block = (bytes(noise.getrandbits(8) for _ in range(1000)) * 4200)[:4096000]
        with open(path, "wb") as f:
            for _ in range(n // len(block)):
                f.write(block)
            f.write(block[:n % len(block)])
        if "time" in opts:
            t = parse_time(opts["time"])
            os.utime(path, (t, t))
            self.setup_times[path] = t
        self.say("%s %s: %d bytes" % (kind, rel, n))

    def do_pack_fast(self, pos, opts):
        """pack-fast [KIND PATH...]: packs the update folder and the files
        named, in fast mode (optimal mode takes minutes per gigabyte), and
        puts the archive into UPDATE.EXE in place of the one it was built
        with."""
        if not self.built:
            self.build(force=True)
        update = self.place("update")
        members = sorted(os.path.join(update, n) for n in os.listdir(update))
        members += [self.place(pos[i], pos[i + 1]) for i in range(0, len(pos), 2)]
        archive = os.path.join(self.work, "fast.qa2")
        qa2 = os.environ.get("QA2") or os.path.join(
            os.environ.get("QA_NATIVE_BUILD", os.path.join(ROOT, "build")), "tools", "qa2")
        started = time.time()
        r = subprocess.run([qa2, "pack", archive] + members + ["--fast"], capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("qa2 pack --fast failed: %s%s" % (r.stdout, r.stderr))
        self.say("packed %d members in %.1f s: %d bytes" % (
            len(members), time.time() - started, os.path.getsize(archive)))
        self.do_resource(["fast.qa2"], {})

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

    def do_use_exe(self, pos, opts):
        """use-exe PATH: runs a copy of this UPDATE.EXE instead of one built
        from the update folder."""
        shutil.copyfile(pos[0], self.exe)
        self.built = True

    def do_registry(self, pos, opts):
        company, gamedir = pos
        key = "HKCU\\Software\\%s\\%s" % (company, gamedir)
        wine(["reg", "delete", key, "/f"], check=False)
        # What the game's key holds, for qa2 preview.
        self.registry_values = {name: self.subst(value) for name, value in opts.items()}
        for name, value in opts.items():
            value = self.subst(value)
            if name == "InstMode":
                wine(["reg", "add", key, "/v", name, "/t", "REG_DWORD", "/d", value, "/f"])
            else:
                wine(["reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])

    def do_build(self, pos, opts):
        """build [--force] [--sign] [--wine-qa2] [--gate] [base=KIND:PATH,...]:
        base folders are earlier versions to patch from."""
        bases = []
        for base in filter(None, opts.get("base", "").split(",")):
            bases += ["--base", self.place(*base.split(":", 1))]
        if "--gate" in pos:
            bases.append("--gate")
        self.build("--force" in pos, sign="--sign" in pos, wine_qa2="--wine-qa2" in pos, extra=bases)

    def build(self, force=False, sign=False, wine_qa2=False, extra=()):
        """qa2 build, as an author runs it; --wine-qa2 also builds with the
        Windows qa2.exe under Wine and compares the bytes; --sign signs the
        result with a test certificate and checks the signature."""
        os.makedirs(self.work, exist_ok=True)
        update = os.path.join(self.work, "update")
        # The stub of the Windows build the rig runs (the one qa2 carries,
        # unless the rig runs another build, a 64-bit one say).
        force_opt = (["--force"] if force else []) + list(extra)
        stub = ["--stub", os.path.join(WIN32_BUILD, "updater", "UPDATE.EXE")]
        run([QA2, "build", update, self.exe] + force_opt + stub, "qa2 build")
        if wine_qa2:
            other = os.path.join(self.work, "UPDATE-WINE.EXE")
            wine_opts = [windows_path(o) if os.path.isabs(o) else o for o in force_opt]
            run(["wine", QA2_EXE, "build", windows_path(update), windows_path(other), "--stub",
                 windows_path(stub[1])] + wine_opts,
                "wine qa2.exe build")
            if open(other, "rb").read() != open(self.exe, "rb").read():
                raise Failure("qa2.exe under Wine built other bytes than qa2")
        if sign:
            self.sign()
        self.built = True

    def sign(self):
        keys = os.path.join(E2E_DIR, "signing")
        key, cert = os.path.join(keys, "key.pem"), os.path.join(keys, "cert.pem")
        if not os.path.exists(cert):
            os.makedirs(keys, exist_ok=True)
            run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                 "-days", "30", "-subj", "/CN=qa2 end-to-end signer"], "openssl")
        signed = self.exe + ".signed"
        if os.path.exists(signed):
            os.remove(signed)
        run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Update", "-in", self.exe,
             "-out", signed], "osslsigncode sign")
        run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed], "osslsigncode verify")
        run([QA2, "verify", signed], "qa2 verify on the signed exe")
        os.replace(signed, self.exe)

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


def run(cmd, what):
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        raise Failure("%s failed (%d): %s%s" % (what, r.returncode, r.stdout, r.stderr))


def wine(args, check=True):
    r = subprocess.run(["wine"] + args, capture_output=True)
    if check and r.returncode != 0:
        raise Failure("wine %s failed (%d)" % (" ".join(args), r.returncode))
