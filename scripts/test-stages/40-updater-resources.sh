#!/usr/bin/env bash
# Checks UPDATE.EXE as a PE file: a 32-bit GUI program with exactly three
# resources ("UPDATE" 102 in Japanese, the dialog 101 in Japanese, the
# manifest 1 in English US), the manifest's settings and nothing else, and the
# dialog template byte by byte. Checks the CMake-built UPDATE.EXE (the stub)
# and one made by `qa2 build` from samples/update (whose archive must hold
# that folder's files).
#   scripts/test-stages/40-updater-resources.sh [EXE...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win32=${QA_WIN32_BUILD:-$root/build-win32}

exes=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/updater-resources.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ ${#exes[@]} -eq 0 ]; then
  if [ ! -f "$win32/build.ninja" ]; then
    cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$win32" --target updater_exe >/dev/null
  "$root/tools/build-updater" "$root/samples/update" "$work/SAMPLE.EXE" >/dev/null
  exes=("$win32/updater/UPDATE.EXE" "$work/SAMPLE.EXE")
fi

python3 - "${exes[@]}" <<'PY'
import struct, sys
import xml.etree.ElementTree as ET

failures = []
def check(cond, what):
    if not cond:
        failures.append(what)
    return cond

def resources(data):
    """(type, name, language) -> bytes; names are ints or strings."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, opt + 96 + 2 * 8)
    sections = []
    for i in range(nsections):
        s = opt + optsize + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))
    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %x outside the sections" % rva)
    base = offset(rsrc_rva)
    def name_of(entry_name):
        if entry_name & 0x80000000:
            p = base + (entry_name & 0x7FFFFFFF)
            n = struct.unpack_from("<H", data, p)[0]
            return data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
        return entry_name
    def entries(p):
        named, ids = struct.unpack_from("<HH", data, p + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, p + 16 + 8 * i)
    out = {}
    for tname, tptr in entries(base):
        for nname, nptr in entries(base + (tptr & 0x7FFFFFFF)):
            for lang, lptr in entries(base + (nptr & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + lptr)
                o = offset(rva)
                out[(name_of(tname), name_of(nname), lang)] = data[o:o + size]
    return machine, magic, subsystem, out

def check_manifest(text):
    root = ET.fromstring(text)
    ns1 = "{urn:schemas-microsoft-com:asm.v1}"
    ns3 = "{urn:schemas-microsoft-com:asm.v3}"
    check(root.tag == ns1 + "assembly", "manifest root is <assembly>")
    tags = [e.tag.split("}")[-1] for e in root.iter()]
    check(tags == ["assembly", "assemblyIdentity", "trustInfo", "security",
                   "requestedPrivileges", "requestedExecutionLevel"],
          "manifest holds only the identity and the trust information: %s" % tags)
    ident = root.find(ns1 + "assemblyIdentity")
    check(ident is not None and ident.attrib == {
        "version": "1.0.0.0", "processorArchitecture": "X86",
        "name": "TAVRIN.Updater.UPDATE", "type": "win32"},
        "assemblyIdentity attributes: %s" % (ident.attrib if ident is not None else None))
    level = root.find(".//" + ns3 + "requestedExecutionLevel")
    check(level is not None and level.attrib == {"level": "requireAdministrator", "uiAccess": "false"},
          "requestedExecutionLevel: %s" % (level.attrib if level is not None else None))

def utf16z(data, p):
    end = p
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[p:end].decode("utf-16-le"), end + 2

def sz_or_ord(data, p):
    if data[p:p + 2] == b"\xff\xff":
        return struct.unpack_from("<H", data, p + 2)[0], p + 4
    return utf16z(data, p)

def check_dialog(t):
    ver, sig, helpid, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", t, 0)
    check((ver, sig) == (1, 0xFFFF), "extended dialog template (DIALOGEX)")
    check(helpid == 0 and exstyle == 0, "dialog help id and extended style 0")
    check(style == 0x90C808C0, "dialog style 0x%08X" % style)
    check((x, y, cx, cy) == (0, 0, 247, 93), "dialog position and size %s" % ((x, y, cx, cy),))
    check(count == 4, "four controls, not %d" % count)
    p = 26
    menu, p = sz_or_ord(t, p)
    cls, p = sz_or_ord(t, p)
    title, p = utf16z(t, p)
    check(menu == "" and cls == "", "no menu, the system's dialog class")
    check(title == "UPDATE", "dialog title %r" % title)
    points, weight, italic, charset = struct.unpack_from("<HHBB", t, p)
    face, p = utf16z(t, p + 6)
    check((points, weight, italic, charset) == (10, 0, 0, 0), "font 10, weight 0, upright, charset 0")
    check(face == "ＭＳ Ｐゴシック", "typeface %r" % face)
    expected = [
        (1, 0x80, "次へ", 0x50010001, (143, 72, 44, 14)),
        (2, 0x80, "中止", 0x50010000, (196, 72, 44, 14)),
        (4, 0x80, "戻る", 0x50010000, (99, 72, 44, 14)),
        (1001, 0x82, "Info", 0x50020000, (16, 16, 214, 26)),
    ]
    for want in expected:
        p = (p + 3) & ~3
        helpid, exstyle, style, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhI", t, p)
        p += 24
        cls, p = sz_or_ord(t, p)
        text, p = sz_or_ord(t, p)
        extra = struct.unpack_from("<H", t, p)[0]
        p += 2 + extra
        got = (cid, cls, text, style, (x, y, cx, cy))
        check(got == want, "control %s, expected %s" % (got, want))
        check(helpid == 0 and exstyle == 0, "control %d help id and extended style 0" % cid)

for path in sys.argv[1:]:
    before = len(failures)
    data = open(path, "rb").read()
    machine, magic, subsystem, res = resources(data)
    check(machine == 0x14C and magic == 0x10B, "%s: 32-bit x86 PE32" % path)
    check(subsystem == 2, "%s: GUI subsystem" % path)
    check(sorted(res, key=str) == sorted([("UPDATE", 102, 0x411), (5, 101, 0x411), (24, 1, 0x409)], key=str),
          "%s: exactly the three resources: %s" % (path, sorted(res, key=str)))
    archive = res.get(("UPDATE", 102, 0x411), b"")
    check(archive[:4] == b"QA2\0", "%s: the archive resource starts with QA2" % path)
    if (24, 1, 0x409) in res:
        check_manifest(res[(24, 1, 0x409)])
    if (5, 101, 0x411) in res:
        check_dialog(res[(5, 101, 0x411)])
    open(path + ".archive", "wb").write(archive)
    print("%s: %s" % (path, "ok" if len(failures) == before else "FAILED"))

for f in failures:
    print("  " + f, file=sys.stderr)
sys.exit(1 if failures else 0)
PY

# The sample updater carries what qa2 packs from samples/update.
if [ $# -eq 0 ]; then
  qa2=${QA2:-$root/build/tools/qa2}
  "$qa2" list "$work/SAMPLE.EXE.archive" >"$work/list"
  for f in "$root"/samples/update/*; do
    grep -q "$(basename "$f")" "$work/list" || { echo "sample archive lacks $(basename "$f")" >&2; exit 1; }
  done
  echo "sample archive: $(grep -c . "$work/list") lines listed by qa2"
fi
