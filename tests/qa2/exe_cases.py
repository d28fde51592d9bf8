#!/usr/bin/env python3
"""qa2's answers to broken UPDATE.EXEs: each case spoils one field of an
UPDATE.EXE that `qa2 build` made, runs `qa2 list`, `verify` and `extract` on
it, and requires exit code 1, no crash, and a message that names the fault.
The cases whose headers the writer would rewrite in the wrong place are also
given to `qa2 build --stub`: exit 2, the fault named, nothing written.
Run with an ASan build of qa2 to catch stray reads and writes.

Usage: exe_cases.py QA2 UPDATE_DIR WORK_DIR
"""
import os
import struct
import subprocess
import sys

qa2, update, work = sys.argv[1], sys.argv[2], sys.argv[3]
os.makedirs(work, exist_ok=True)


def run(*args):
    return subprocess.run([qa2, *args], capture_output=True, text=True, errors="replace")


good_path = os.path.join(work, "UPDATE.EXE")
r = run("build", update, good_path)
assert r.returncode == 0, r.stderr
good = open(good_path, "rb").read()
nt = struct.unpack_from("<I", good, 0x3C)[0]
opt = nt + 24
sections = struct.unpack_from("<H", good, nt + 6)[0]
table = opt + struct.unpack_from("<H", good, nt + 20)[0]
rsrc_rva = struct.unpack_from("<I", good, opt + 96 + 16)[0]
rsrc_raw = None
for i in range(sections):
    va, _, raw = struct.unpack_from("<III", good, table + 40 * i + 12)
    if va == rsrc_rva:
        rsrc_raw = raw
assert rsrc_raw is not None
archive_at = good.index(b"QA2\0", rsrc_raw)


def patch(offset, fmt, value):
    data = bytearray(good)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


cases = {
    "dos-header-only": (b"MZ" + b"\0" * 30, "cannot be read"),
    "nt-headers-past-end": (patch(0x3C, "<I", 0xFFFFFF00), "no NT headers"),
    "section-table-past-end": (patch(nt + 6, "<H", 0xFFFF), "section table"),
    "resource-directory-outside": (patch(opt + 96 + 16, "<I", 0x7FFF0000), "outside the file"),
    "root-counts-too-large": (patch(rsrc_raw + 12, "<I", 0xFFFFFFFF), "malformed"),
    "type-name-renamed": (good.replace("UPDATE".encode("utf-16-le"), "UPDATX".encode("utf-16-le"), 1),
                          'resource "UPDATE" 102'),
    "archive-directory-offset-broken": (patch(archive_at + 8, "<I", 0xFFFFFFF0), "directory"),
    "truncated-in-resources": (good[:rsrc_raw + 64], "cannot be read"),
}


def headers_moved_into_archive():
    # The NT headers and section table copied over the archive's bytes, with
    # e_lfanew pointing there: inside the resource section the writer moves.
    data = bytearray(good)
    size = table + 40 * sections - nt
    at = (archive_at + 8) & ~7
    data[at:at + size] = good[nt:nt + size]
    struct.pack_into("<I", data, 0x3C, at)
    return bytes(data)


stub_cases = {
    "nt-headers-inside-resource-data": (headers_moved_into_archive(), "SizeOfHeaders"),
    "size-of-headers-past-end": (patch(opt + 60, "<I", 0x7FFFFFF0), "SizeOfHeaders"),
    "size-of-headers-over-first-section": (patch(opt + 60, "<I", struct.unpack_from("<I", good, table + 20)[0] + 1),
                                           "inside the headers"),
}
cases.update(stub_cases)

failed = 0
for name, (data, fragment) in sorted(cases.items()):
    path = os.path.join(work, name + ".exe")
    open(path, "wb").write(data)
    for command in (["list", path], ["verify", path], ["extract", path, "-C", work]):
        r = run(*command)
        ok = r.returncode == 1 and fragment in r.stderr and "Sanitizer" not in r.stderr
        if not ok:
            failed += 1
            print("FAIL %s (%s): exit %d: %s" % (name, command[0], r.returncode, r.stderr.strip()))
for name, (data, fragment) in sorted(stub_cases.items()):
    path = os.path.join(work, name + ".exe")
    out = os.path.join(work, name + "-built.exe")
    r = run("build", "--stub", path, update, out)
    ok = r.returncode == 2 and fragment in r.stderr and "Sanitizer" not in r.stderr and not os.path.exists(out)
    if not ok:
        failed += 1
        print("FAIL %s (build --stub): exit %d: %s" % (name, r.returncode, r.stderr.strip()))
total = 3 * len(cases) + len(stub_cases)
print("exe cases: %d of %d passed" % (total - failed, total))
sys.exit(1 if failed else 0)
