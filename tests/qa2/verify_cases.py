#!/usr/bin/env python3
"""qa2's answers to broken archives: each case derives one fault from a good
archive that `qa2 pack` made, runs `qa2 verify` (and `list`, `extract`) on it,
and requires exit code 1, no crash, and a message that names the fault.

Usage: verify_cases.py QA2 WORK_DIR
"""
import os
import struct
import subprocess
import sys

qa2, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)


def run(*args):
    return subprocess.run([qa2, *args], capture_output=True, text=True, errors="replace")


# A good archive: a compressed text member, a stored member, a compressed directory.
src = os.path.join(work, "src")
os.makedirs(src, exist_ok=True)
with open(os.path.join(src, "UPDATE.INI"), "wb") as f:
    f.write(b"[SETUP]\r\nGameTitle=x\r\n" * 20)
with open(os.path.join(src, "DATA.PAK"), "wb") as f:
    f.write(bytes(range(256)) * 4)
good_path = os.path.join(work, "good.qa2")
r = run("pack", good_path, os.path.join(src, "UPDATE.INI"), os.path.join(src, "DATA.PAK"),
        "--store", "DATA.PAK")
assert r.returncode == 0, r.stderr
good = open(good_path, "rb").read()
flags, dir_off, count = struct.unpack_from("<III", good, 4)
assert flags == 1 and count == 2

# The same members with a stored directory, to reach entry fields directly.
def stored_directory(entries):
    data = bytearray(good[:dir_off])
    table = b"".join(entries)
    data[4:16] = struct.pack("<III", 0, len(data), len(entries))
    return bytes(data) + table

def entry(name, flag, size, stored, time=0x01D0000000000000):
    return name.ljust(15, b"\0")[:15] + bytes([flag]) + struct.pack("<QII", time, size, stored)

listing = run("list", good_path).stdout.splitlines()[1:]
sizes = [(int(l.split()[2]), int(l.split()[3])) for l in listing]
(ini_size, ini_stored), (pak_size, pak_stored) = sizes
ok_entries = [entry(b"UPDATE.INI", 2, ini_size, ini_stored), entry(b"DATA.PAK", 1, pak_size, pak_stored)]
plain_path = os.path.join(work, "stored-directory.qa2")
with open(plain_path, "wb") as f:
    f.write(stored_directory(ok_entries))
assert run("verify", plain_path).returncode == 0, "the stored-directory base must verify"

member0 = 16
cases = {
    # name: (bytes, fragment the message must hold)
    "truncated-directory": (good[:-3], "directory"),
    "truncated-header": (good[:10], "16-byte header"),
    "wrong-magic": (b"ZZZ\0" + good[4:], "not an archive"),
    "directory-offset-past-end": (good[:8] + struct.pack("<I", len(good) + 1) + good[12:], "outside"),
    "entry-count-overflow": (good[:12] + struct.pack("<I", 0x08000000) + good[16:], "entry count"),
    "entry-count-too-large": (good[:12] + struct.pack("<I", 3) + good[16:], "entryCount x 32"),
    "member-stream-corrupt": (good[:member0] + b"\0\0\0\0" + good[member0 + 4:], "member 0 'UPDATE.INI'"),
    "name-unterminated": (stored_directory([b"N" * 15 + ok_entries[0][15:], ok_entries[1]]), "member 0 'NNNNNNNNNNNNNNN': name"),
    "member-past-end": (stored_directory([ok_entries[0], entry(b"DATA.PAK", 1, 1 << 20, 1 << 20)]), "member 1 'DATA.PAK': data"),
    "stored-size-mismatch": (stored_directory([ok_entries[0], entry(b"DATA.PAK", 1, pak_size + 1, pak_stored)]), "member 1 'DATA.PAK': stored"),
    "size-larger-than-stream": (stored_directory([entry(b"UPDATE.INI", 2, ini_size + 5, ini_stored), ok_entries[1]]), "decodes to"),
    "duplicate-name": (stored_directory([ok_entries[0], entry(b"update.ini", 1, pak_size, pak_stored)]), "same name as member 0"),
    # A claim no stream of that size can decode to: refused before sizing memory.
    "size-claim-beyond-expansion": (stored_directory([entry(b"UPDATE.INI", 2, 0xFFFFFFF0, ini_stored), ok_entries[1]]), "more than a stream of"),
}
# Names that would leave the extraction folder or name a device: verify names
# them, extract refuses them and writes nothing outside its folder.
hostile_names = [b"..\\EVIL.TXT", b"../EVIL.TXT", b"..\\..\\..\\E.T", b"C:EVIL.TXT", b"\\EVIL.TXT",
                 b"/tmp/EVIL", b"..", b".", b"CON", b"nul.txt", b"COM1.PAK", b"BELL\x07.TXT"]
for i, bad in enumerate(hostile_names):
    cases[f"hostile-name-{i}"] = (stored_directory([ok_entries[0], entry(bad, 1, pak_size, pak_stored)]),
                                  "member 1 ")

failures = 0
for name, (data, fragment) in sorted(cases.items()):
    path = os.path.join(work, name + ".qa2")
    with open(path, "wb") as f:
        f.write(data)
    r = run("verify", path)
    # DIR sits two levels down in a case folder of its own, so that anything
    # written outside it shows up in that folder.
    case_root = os.path.join(work, name + ".case")
    out = os.path.join(case_root, "a", "out")
    os.makedirs(out, exist_ok=True)
    others = [run("list", path), run("extract", path, "-C", out)]
    crashed = [x for x in [r, *others] if x.returncode < 0 or x.returncode > 3]
    outside = sorted(os.path.relpath(os.path.join(d, f), case_root)
                     for d, _, files in os.walk(case_root) for f in files
                     if not os.path.abspath(d).startswith(os.path.abspath(out)))
    outside += [f for f in os.listdir("/tmp") if f.startswith("EVIL")]
    raw_listing = any(c in others[0].stdout for c in ("\x07", "\x00"))
    if (r.returncode != 1 or fragment not in r.stderr or crashed or outside or raw_listing
            or (name.startswith("hostile") and (others[1].returncode != 1
                                                or not os.path.exists(os.path.join(out, "UPDATE.INI"))))):
        failures += 1
        print(f"FAIL {name}: verify exit {r.returncode}, stderr {r.stderr.strip()!r}, "
              f"extract exit {others[1].returncode} {others[1].stderr.strip()!r}, outside {outside}"
              f"{' (a command crashed)' if crashed else ''}{' (raw name listed)' if raw_listing else ''}")
    else:
        print(f"ok   {name}: {r.stderr.strip().splitlines()[0]}")

total = len(cases)
print(f"{total - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
