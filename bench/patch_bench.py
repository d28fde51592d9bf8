#!/usr/bin/env python3
"""The figures of bench/patch-bench.sh (run it through that script, which
installs the peers and sets up the builds and the rig).

Usage: patch_bench.py WORK [--no-wine | --wine-only]

Per pair: the update built with qa2 build --base (its archive less 2,048
bytes and 64 per entry) against the sum, over the changed files, of the
smallest patch of xdelta3 -9 -B, bsdiff and zstd -19 --long=31
--patch-from (new files: their zstd -19 size on both sides); build time and
peak anonymous memory. Then, under Wine, for the generated pair: applying
the patch (gate included) against extracting the file whole, and the gate's
pass alone (an installation already new) against a plain read of the file.
"""
import os
import random
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE = os.environ.get("QA_NATIVE_BUILD", os.path.join(ROOT, "build"))
QA2 = os.path.join(NATIVE, "tools", "qa2")
STUB = os.path.join(os.environ.get("QA_WIN32_BUILD", os.path.join(ROOT, "build-win32")), "updater", "UPDATE.EXE")
PEER_TIMEOUT = int(os.environ.get("QA_PEER_TIMEOUT", "1800"))
BIG = int(float(os.environ.get("QA_PATCH_BENCH_GB", "1")) * 1e9)
ROUNDS = int(os.environ.get("QA_BENCH_ROUNDS", "3"))
INI_HEAD = ("[SETUP]\r\nCompanyName=E2E ソフト\r\nGameTitle=試験ゲーム\r\nGameClass=E2EGAME\r\nGameDir=SHIKEN\r\n"
            "UpdaterVersion=Ver2.00\r\n[UPDATE]\r\n")


def log(text=""):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


# --- the pairs -------------------------------------------------------------

def deb_pair(work, name, package, old, new):
    """Two versions of a Debian package, unpacked."""
    base = os.path.join(work, name)
    if os.path.isdir(os.path.join(base, "new")):
        return base
    debs = os.path.join(work, "debs")
    os.makedirs(debs, exist_ok=True)
    for side, version in (("old", old), ("new", new)):
        run(["apt-get", "download", "-q", "%s=%s" % (package, version)], cwd=debs, capture_output=True)
        deb = [f for f in os.listdir(debs) if f.startswith(package + "_") and
               f.split("_")[1].replace("%3a", ":") == version]
        os.makedirs(os.path.join(base, side), exist_ok=True)
        run(["dpkg-deb", "-x", os.path.join(debs, deb[0]), os.path.join(base, side)])
    return base


def corpus_blocks(corpus):
    return [open(os.path.join(corpus, n), "rb").read() for n in sorted(os.listdir(corpus))]


def pack_pair(work, corpus):
    """A 40 MB game data pack of the corpus's files: 5 % of its assets
    edited in place, one grown, two new, one removed."""
    base = os.path.join(work, "pack")
    if os.path.isdir(os.path.join(base, "new")):
        return base
    rng = random.Random(40)
    assets, size = [], 0
    for block in corpus_blocks(corpus):
        if size + len(block) > 40_000_000:
            continue
        assets.append(block)
        size += len(block)
    new = [bytearray(a) for a in assets]
    for i in rng.sample(range(len(new)), max(1, len(new) // 20)):
        a = new[i]
        for _ in range(max(1, len(a) // 200)):
            at = rng.randrange(len(a))
            a[at] = rng.randrange(256)
    new[rng.randrange(len(new))] += bytes(rng.randrange(256) for _ in range(20000))
    del new[rng.randrange(len(new))]
    for _ in range(2):
        new.insert(rng.randrange(len(new)), bytearray(rng.randbytes(30000)))
    for side, parts in (("old", assets), ("new", new)):
        os.makedirs(os.path.join(base, side, "DATA"))
        with open(os.path.join(base, side, "DATA", "GAME.PAK"), "wb") as f:
            for p in parts:
                f.write(p)
    return base


def big_pair(work, corpus, size):
    """`size` bytes of the corpus cycled, and a new version with an edit
    every 32 MB, 100 KB inserted every 128 MB and 64 KB removed every 256 MB."""
    base = os.path.join(work, "big-%d" % size)
    if os.path.isfile(os.path.join(base, "new", "MEMBER.BIN")):
        return base
    block = b"".join(corpus_blocks(corpus))
    doubled = block * 2
    rng = random.Random(1)
    os.makedirs(os.path.join(base, "old"))
    os.makedirs(os.path.join(base, "new"))
    with open(os.path.join(base, "old", "MEMBER.BIN"), "wb") as old, \
            open(os.path.join(base, "new", "MEMBER.BIN"), "wb") as new:
        at = 0
        mb = 1 << 20
        while at < size:
            piece = doubled[at % len(block):at % len(block) + min(mb, size - at)]
            old.write(piece)
            n = at // mb
            edited = bytearray(piece)
            if n % 32 == 7:
                edited[1000:2000] = rng.randbytes(1000)
            if n % 128 == 50:
                edited[5000:5000] = rng.randbytes(100_000)
            if n % 256 == 100:
                del edited[10000:10000 + 65536]
            new.write(edited)
            at += len(piece)
    return base


# --- measuring -------------------------------------------------------------

def changed_files(old, new):
    """Files of `new` that differ from `old` (or are new), by relative path."""
    chosen = []
    for dirpath, _, files in os.walk(new):
        for f in sorted(files):
            path = os.path.join(dirpath, f)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            rel = os.path.relpath(path, new)
            before = os.path.join(old, rel)
            if os.path.isfile(before) and open(before, "rb").read() == open(path, "rb").read():
                continue
            chosen.append(rel)
    return sorted(chosen)


def member_names(files):
    """A member name per file: its own where it fits 14 bytes and is unique,
    else F<n> with its extension cut to fit."""
    names, taken = {}, set()
    for i, rel in enumerate(files):
        name = os.path.basename(rel)
        if len(name.encode("cp932")) > 14 or name.upper() in taken:
            ext = os.path.splitext(name)[1][:8]
            name = "F%02d%s" % (i, ext)
        taken.add(name.upper())
        names[rel] = name
    return names


def peak_memory(cmd):
    """Seconds and peak anonymous memory (RssAnon, sampled) of a command."""
    started = time.time()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    peak = 0
    while p.poll() is None:
        try:
            for line in open("/proc/%d/status" % p.pid):
                if line.startswith("RssAnon:"):
                    peak = max(peak, int(line.split()[1]) * 1024)
        except OSError:
            pass
        time.sleep(0.02)
    out, err = p.communicate()
    if p.returncode != 0:
        raise SystemExit("%s failed: %s" % (" ".join(cmd), err.decode(errors="replace")))
    return time.time() - started, peak, out.decode()


def peer_sizes(old, new, scratch):
    """Each peer's patch size for one file; None where it fails or runs out
    of time or memory."""
    sizes = {}
    out = os.path.join(scratch, "peer.out")
    old_size = os.path.getsize(old)
    tools = {
        # -D -R: no decompressing of gzip inputs (its output would not be
        # the same bytes).
        "xdelta3": ["xdelta3", "-9", "-f", "-D", "-R", "-B", str(max(old_size, 1 << 20)), "-e", "-s", old, new, out],
        "bsdiff": ["bsdiff", old, new, out],
        "zstd": ["zstd", "-q", "-f", "-19", "--long=31", "--patch-from=" + old, new, "-o", out],
    }
    for tool, cmd in tools.items():
        try:
            subprocess.run(cmd, check=True, capture_output=True, timeout=PEER_TIMEOUT)
            sizes[tool] = os.path.getsize(out)
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired):
            sizes[tool] = None
    return sizes


def zstd_size(path, scratch):
    out = os.path.join(scratch, "whole.zst")
    run(["zstd", "-q", "-f", "-19", "--long=31", path, "-o", out])
    return os.path.getsize(out)


def measure(name, base):
    old, new = os.path.join(base, "old"), os.path.join(base, "new")
    files = changed_files(old, new)
    left = files[16:]
    files = files[:16]
    names = member_names(files)
    # Flat trees, the files under their member names: the installation the
    # update is built against, and the update folder.
    flat_old, update = os.path.join(base, "flat-old"), os.path.join(base, "update")
    for folder in (flat_old, update):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    entries = []
    for i, rel in enumerate(files):
        shutil.copy2(os.path.join(new, rel), os.path.join(update, names[rel]))
        if os.path.isfile(os.path.join(old, rel)):
            shutil.copy2(os.path.join(old, rel), os.path.join(flat_old, names[rel]))
        entries.append("UpdateFile%02d=%s" % (i, names[rel]))
    with open(os.path.join(update, "UPDATE.INI"), "w", encoding="cp932", newline="") as f:
        f.write(INI_HEAD + "".join(e + "\r\n" for e in entries))
    exe = os.path.join(base, "UPDATE.EXE")
    seconds, peak, out = peak_memory([QA2, "build", "--force", "--stub", STUB, update, exe, "--base", flat_old])
    archive = int(out.strip().splitlines()[-1].split("archive ")[1].split()[0])
    ours = archive - (2048 + 64 * len(entries))
    peers = {"xdelta3": 0, "bsdiff": 0, "zstd": 0}
    failed = {t: [] for t in peers}
    best = 0
    scratch = os.path.join(base, "scratch")
    os.makedirs(scratch, exist_ok=True)
    for rel in files:
        before, after = os.path.join(old, rel), os.path.join(new, rel)
        if not os.path.isfile(before):
            whole = zstd_size(after, scratch)
            best += whole
            for t in peers:
                peers[t] += whole
            continue
        sizes = peer_sizes(before, after, scratch)
        got = [s for s in sizes.values() if s is not None]
        best += min(got)
        for t, s in sizes.items():
            if s is None:
                failed[t].append(rel)
            else:
                peers[t] += s
    new_bytes = sum(os.path.getsize(os.path.join(new, rel)) for rel in files)
    log("%s: %d changed files (%d new bytes)%s" % (
        name, len(entries), new_bytes, "; left out (past 16 entries): %s" % ", ".join(left) if left else ""))
    renamed = ["%s as %s" % (rel, names[rel]) for rel in files if names[rel] != os.path.basename(rel)]
    if renamed:
        log("  members renamed to fit 14 bytes: %s" % ", ".join(renamed))
    log("  qa2 build --base: archive %d B, less 2,048 + 64 x %d = %d B; build %.1f s (%.1f MB/s of new data), "
        "peak anonymous memory %.0f MB" % (archive, len(entries), ours, seconds, new_bytes / seconds / 1e6, peak / 1e6))
    for t, total in peers.items():
        log("  %-8s %d B%s" % (t, total, " (failed on: %s)" % ", ".join(failed[t]) if failed[t] else ""))
    log("  smallest per file, summed: %d B; ours / that: %.3f" % (best, ours / best))
    for line in out.strip().splitlines()[:-1]:
        log("    " + line)
    return exe


def main():
    work = sys.argv[1]
    corpus = os.path.join(work, "corpus")
    os.makedirs(work, exist_ok=True)
    pairs = [
        ("libssl3 3.0.20 -> 3.0.22", deb_pair(work, "libssl3", "libssl3", "3.0.20-1~deb12u2", "3.0.22-1~deb12u2")),
        ("grub-efi-amd64-signed deb12u1 -> u2",
         deb_pair(work, "grub", "grub-efi-amd64-signed", "1+2.06+13+deb12u1", "1+2.06+13+deb12u2")),
        ("40 MB game data pack", pack_pair(work, corpus)),
        ("generated %d-byte pair" % BIG, big_pair(work, corpus, BIG)),
    ]
    if "--wine-only" not in sys.argv:
        for name, base in pairs:
            measure(name, base)
    if "--no-wine" not in sys.argv:
        import patch_bench_wine
        patch_bench_wine.run_wine(pairs[-1][1], ROUNDS)


if __name__ == "__main__":
    main()
