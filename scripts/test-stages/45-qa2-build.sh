#!/usr/bin/env bash
# qa2 build, checked by readers other than our own: it runs no other program
# (PATH empty of tools), gives the same bytes for the same folder (any -j,
# any place, Linux or Wine), and the result is accepted by MinGW's objdump,
# python3-pefile (checksum, resource order), the resource check stage,
# qa2 list/verify/extract, and osslsigncode (signed with a certificate made
# here, verified, its archive still read; given as --stub, the signature is
# dropped). Build folders: QA_NATIVE_BUILD (default build), QA_WIN32_BUILD
# (default build-win32), both configured by scripts/test-all.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
native=$(cd "${QA_NATIVE_BUILD:-build}" && pwd)
win32=$(cd "${QA_WIN32_BUILD:-build-win32}" && pwd)
py=/usr/bin/python3
[ -x "$py" ] || py=python3
cmake --build "$native" --target qa2 >/dev/null
cmake --build "$win32" --target qa2 >/dev/null
qa2=$native/tools/qa2
work=$(mktemp -d "${TMPDIR:-/tmp}/qa2-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "45-qa2-build: $*" >&2
  exit 1
}
# Expects exit code $1 and a message matching $2 from the command after them.
expect_refusal() {
  local code=$1 pattern=$2 rc=0
  shift 2
  "$@" >"$work/out" 2>&1 || rc=$?
  [ "$rc" -eq "$code" ] || fail "$* gave exit $rc, not $code: $(cat "$work/out")"
  grep -q -- "$pattern" "$work/out" || fail "$* said: $(cat "$work/out")"
}

echo "--- no other program, same bytes"
env -i PATH=/nonexistent "$qa2" build samples/update "$work/UPDATE.EXE"
env -i PATH=/nonexistent "$qa2" build -j 1 samples/update "$work/J1.EXE" >/dev/null
cp -rp samples/update "$work/elsewhere"
env -i PATH=/nonexistent "$qa2" build -j 2 "$work/elsewhere" "$work/ELSEWHERE.EXE" >/dev/null
cmp "$work/UPDATE.EXE" "$work/J1.EXE"
cmp "$work/UPDATE.EXE" "$work/ELSEWHERE.EXE"

echo "--- independent readers"
i686-w64-mingw32-objdump -p "$work/UPDATE.EXE" >"$work/objdump.txt"
grep -q "Resource Directory" "$work/objdump.txt" || fail "objdump -p finds no resources"
"$py" scripts/pe-check.py "$work/UPDATE.EXE"
bash scripts/test-stages/40-updater-resources.sh "$work/UPDATE.EXE"

echo "--- qa2 reads an UPDATE.EXE"
"$qa2" verify "$work/UPDATE.EXE"
"$qa2" list "$work/UPDATE.EXE" >/dev/null
mkdir "$work/x"
"$qa2" extract "$work/UPDATE.EXE" -C "$work/x" >/dev/null
diff -r samples/update "$work/x"
expect_refusal 1 'without an update archive (resource "UPDATE" 102)' "$qa2" list "$win32/e2e/driver.exe"
head -c 700 "$work/UPDATE.EXE" >"$work/CUT.EXE"
expect_refusal 1 'PE file that cannot be read' "$qa2" verify "$work/CUT.EXE"
expect_refusal 3 'cannot open' "$qa2" build --stub "$work/none.exe" samples/update "$work/NONE.EXE"
[ ! -e "$work/NONE.EXE" ] || fail "a refused build left a file"
# Broken UPDATE.EXEs, read by the sanitizer build where there is one.
asan_qa2=$root/build-asan/tools/qa2
[ -x "$asan_qa2" ] || asan_qa2=$qa2
ASAN_OPTIONS=detect_leaks=1 "$py" tests/qa2/exe_cases.py "$asan_qa2" samples/update "$work/cases"

echo "--- patches"
# Two released versions and a new one, made here: the update ships patches
# against both, reads back, and each base is patched to the new files by
# qa2's extraction (the updater's own applying code).
"$py" - "$work/p" <<'PY'
import os, random, sys
root = sys.argv[1]
def noise(seed, n):
    return bytearray(random.Random(seed).randbytes(n))
v1 = {"GAME.EXE": noise(1, 600000), "DATA.PAK": noise(2, 3000000)}
v2 = {k: bytearray(v) for k, v in v1.items()}
v2["GAME.EXE"][100:104] = b"1.01"
new = {k: bytearray(v) for k, v in v2.items()}
new["GAME.EXE"][100:104] = b"2.00"
for i in range(0, len(new["GAME.EXE"]), 4096):  # addresses moved throughout
    new["GAME.EXE"][i] ^= 1
new["DATA.PAK"][1000000:1000000] = noise(3, 50000)  # an asset grown
for folder, files in (("v1", v1), ("v2", v2), ("update", new)):
    os.makedirs(os.path.join(root, folder))
    for name, data in files.items():
        open(os.path.join(root, folder, name), "wb").write(data)
ini = "[SETUP]\r\nCompanyName=Q\r\nGameTitle=T\r\nGameClass=C\r\nGameDir=D\r\nUpdaterVersion=2\r\n" \
      "[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile01=u,DATA.PAK\r\n"
open(os.path.join(root, "update", "UPDATE.INI"), "w", newline="").write(ini)
PY
p=$work/p
stub=$win32/updater/UPDATE.EXE
"$qa2" build --stub "$stub" "$p/update" "$work/WHOLE.EXE" >"$work/whole"
"$qa2" build --stub "$stub" -j 1 "$p/update" "$work/PATCH.EXE" --base "$p/v1" --base "$p/v2" >"$work/out"
grep -q "GAME.EXE: whole .*kept patches only" "$work/out" || fail "GAME.EXE not patched: $(cat "$work/out")"
"$qa2" build --stub "$stub" -j 2 "$p/update" "$work/PATCH-J2.EXE" --base "$p/v1" --base "$p/v2" >/dev/null
cmp "$work/PATCH.EXE" "$work/PATCH-J2.EXE"
whole=$(sed -n 's/.*archive \([0-9]*\) bytes$/\1/p' "$work/whole")
patched=$(sed -n 's/.*archive \([0-9]*\) bytes$/\1/p' "$work/out")
[ "$patched" -lt $((whole / 10)) ] || fail "the patched archive is $patched bytes, the whole one $whole"
echo "archive $whole bytes whole, $patched with patches"
"$qa2" list "$work/PATCH.EXE" | grep -q "from 600000 B: patch QA2\$P" || fail "list shows no patch"
"$qa2" verify "$work/PATCH.EXE" --base "$p/v1" --base "$p/v2" | grep -c ": ok$" | grep -qx 3 ||
  fail "verify --base did not apply the three patches"
for v in v1 v2; do
  mkdir "$work/x-$v"
  "$qa2" extract "$work/PATCH.EXE" -C "$work/x-$v" --base "$p/$v" >/dev/null
  cmp "$work/x-$v/GAME.EXE" "$p/update/GAME.EXE"
  cmp "$work/x-$v/DATA.PAK" "$p/update/DATA.PAK"
done
mkdir "$work/x-none"
expect_refusal 1 "carried only as patches" "$qa2" extract "$work/PATCH.EXE" -C "$work/x-none" --base "$p/update"
expect_refusal 2 "cannot apply patches" "$qa2" build --stub "$win32/e2e/driver.exe" "$p/update" "$work/NO.EXE" --base "$p/v1"
expect_refusal 2 "go with --base" "$qa2" build --stub "$stub" "$p/update" "$work/NO.EXE" --gate
cp "$p/v1/GAME.EXE" "$p/update/qa2\$x.dat"
expect_refusal 2 "are the archive's own" "$qa2" build --stub "$stub" "$p/update" "$work/NO.EXE"
rm "$p/update/qa2\$x.dat"
cp "$p/v1/GAME.EXE" "$p/v1/game.exe"
expect_refusal 2 "are one name to Windows" "$qa2" build --stub "$stub" "$p/update" "$work/NO.EXE" --base "$p/v1"
rm "$p/v1/game.exe"

echo "--- signing"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=qa2 test signer" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Update" \
  -in "$work/UPDATE.EXE" -out "$work/SIGNED.EXE" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/SIGNED.EXE" >"$work/verify.txt" 2>&1 ||
  fail "osslsigncode verify: $(cat "$work/verify.txt")"
"$qa2" verify "$work/SIGNED.EXE"
"$qa2" build --stub "$work/SIGNED.EXE" samples/update "$work/RESTUBBED.EXE" 2>"$work/err" >/dev/null
grep -q "signature was dropped" "$work/err" || fail "no word of the dropped signature"
# Dropping the signature and writing again gives what the clean stub gives.
cmp "$work/UPDATE.EXE" "$work/RESTUBBED.EXE"

echo "--- qa2.exe under Wine"
# The Windows build that Wine runs here (scripts/wine-check.sh: a 64-bit one
# where the kernel runs no 32-bit programs). Its qa2.exe carries the 32-bit
# stub, as the Linux qa2 does, so both build the same bytes unasked.
. scripts/wine-check.sh
wine_select
wine_run=$QA_WINE_RUN
wine_bin=$QA_WINE
winbuild=$(cd "$QA_WINE_BUILD" 2>/dev/null && pwd || echo "$QA_WINE_BUILD")
if [ "$QA_WINE_MODE" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine64} WINEARCH=win64
else
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine}
fi
zpath() { printf 'Z:%s' "${1//\//\\}"; }
if [ "$QA_WINE_MODE" = none ] || ! "$wine_run" cmd /c exit >/dev/null 2>&1; then
  echo "45-qa2-build: Wine cannot run programs here; qa2.exe not checked" >&2
else
  [ "$winbuild" = "$win32" ] || cmake --build "$winbuild" --target qa2 >/dev/null
  "$qa2" build samples/update "$work/LINUX.EXE" >/dev/null
  "$wine_run" "$winbuild/tools/qa2.exe" build samples/update "$(zpath "$work/WINE.EXE")" >/dev/null
  cmp "$work/LINUX.EXE" "$work/WINE.EXE"
  "$wine_run" "$winbuild/tools/qa2.exe" build -j 1 --fast samples/update "$(zpath "$work/WINE-FAST.EXE")" >/dev/null
  "$qa2" build -j 2 --fast samples/update "$work/LINUX-FAST.EXE" >/dev/null
  cmp "$work/LINUX-FAST.EXE" "$work/WINE-FAST.EXE"
  i686-w64-mingw32-objdump -f "$work/WINE.EXE" | grep -q "file format pei-i386" || fail "qa2.exe carries no 32-bit stub"
  stub=$win32/updater/UPDATE.EXE
  # Japanese names under a system code page that has no form for them: only
  # the wide API reaches them.
  jp="$work/更新"
  cp -rp samples/update "$jp"
  printf 'read me\r\n' >"$jp/説明.TXT"
  touch -d '2024-05-06 07:08:09' "$jp/説明.TXT"
  "$qa2" build --stub "$stub" "$jp" "$work/JP.EXE" >/dev/null
  LC_ALL=C.UTF-8 LANG=C.UTF-8 WINEDEBUG=-all "$wine_bin" "$winbuild/tools/qa2.exe" build \
    "$(zpath "$jp")" "$(zpath "$work/JP-WINE.EXE")" >/dev/null
  cmp "$work/JP.EXE" "$work/JP-WINE.EXE"
  "$qa2" list "$work/JP.EXE" | grep -q "説明.TXT" || fail "the Japanese member is missing"
  "$wine_run" "$winbuild/tools/qa2.exe" build --stub "$(zpath "$stub")" -j 1 "$(zpath "$p/update")" \
    "$(zpath "$work/PATCH-WINE.EXE")" --base "$(zpath "$p/v1")" --base "$(zpath "$p/v2")" >/dev/null
  cmp "$work/PATCH.EXE" "$work/PATCH-WINE.EXE"
fi
echo "qa2 build: all checks passed"
