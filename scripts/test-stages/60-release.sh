#!/usr/bin/env bash
# The downloads (scripts/make-release.sh): made twice, the same bytes; the
# Linux qa2 runs in a chroot that holds nothing but it, glibc's loader and
# libraries and the code page 932 conversion module (no libstdc++, none of
# the build's packages), and builds there the UPDATE.EXE the build's qa2
# builds, Japanese member name included; the Windows zip holds an x86-64
# qa2.exe whose stub is the one the Linux qa2 carries.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
work=$(mktemp -d "${TMPDIR:-/tmp}/qa2-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "60-release: $*" >&2
  exit 1
}
scripts/make-release.sh "$work/a" >/dev/null
scripts/make-release.sh "$work/b" >/dev/null
cmp "$work/a/SHA256SUMS" "$work/b/SHA256SUMS" || fail "two runs made different archives"
(cd "$work/a" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
cat "$work/a/SHA256SUMS"

tar -C "$work" -xzf "$work"/a/qa2-*-linux-x86_64.tar.gz
unzip -q -d "$work" "$work"/a/qa2-*-windows-x86_64.zip
lin=$(echo "$work"/qa2-*-linux-x86_64)
win=$(echo "$work"/qa2-*-windows-x86_64)
for f in qa2 authoring.md samples/update/UPDATE.INI samples/installation/SETUP.INI samples/README.md; do [ -f "$lin/$f" ] || fail "the Linux archive lacks $f"; done
for f in qa2.exe authoring.md samples/update/UPDATE.INI samples/installation/SETUP.INI samples/README.md; do [ -f "$win/$f" ] || fail "the Windows archive lacks $f"; done
x86_64-w64-mingw32-objdump -f "$win/qa2.exe" | grep -q "pei-x86-64" || fail "qa2.exe is not for x86-64"
for d in "$lin" "$win"; do
  for f in tools/try-update e2e/run.py e2e/rig.sh scripts/wine-check.sh try-update-bin/e2e/driver.exe; do
    [ -f "$d/$f" ] || fail "$(basename "$d") lacks $f"
  done
done
"$lin/tools/try-update" --help | tail -n 1 | grep -q 'here\.$' || fail "try-update --help is cut short"
# The released try-update runs the sample with what the archive carries.
. scripts/wine-check.sh
wine_select
if [ "$QA_WINE_MODE" = win32 ]; then
  (cd "$lin" && env -u DISPLAY -u QA_WINE_BUILD -u QA_WIN32_BUILD -u QA_NATIVE_BUILD tools/try-update samples/update \
    --install samples/installation --data samples/installation/SAVE --mode 1 --cdrom Q:=samples/disc1 \
    --shots "$work/shots") >"$work/try.out" 2>&1 || { cat "$work/try.out"; fail "the released try-update failed"; }
  grep -q '^ *exit code 1$' "$work/try.out" && grep -q 'preview held' "$work/try.out" ||
    { cat "$work/try.out"; fail "the released try-update did not complete the sample against its preview"; }
  echo "the released try-update ran the sample: exit code 1, the preview held"
else
  echo "the released try-update was not run: it needs 32-bit Wine, which this machine cannot run"
fi

# What the Linux qa2 needs of the system: glibc alone.
needed=$(objdump -p "$lin/qa2" | awk '/NEEDED/ {print $2}' | sort | tr '\n' ' ')
case "$needed" in
  *stdc++*|*gcc_s*) fail "qa2 needs $needed" ;;
esac
echo "the Linux qa2 needs: $needed"

jail=$work/jail
mkdir -p "$jail/tmp"
copy_in() { mkdir -p "$jail$(dirname "$1")" && cp -L "$1" "$jail$1"; }
for lib in $(ldd "$lin/qa2" | awk '{for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i}'); do copy_in "$lib"; done
gconv=$(dirname "$(find /usr/lib /usr/lib64 /lib -name CP932.so -path '*gconv*' 2>/dev/null | grep -v -e i386 -e lib32 | head -1)")
[ -n "$gconv" ] || fail "no CP932.so on this machine"
copy_in "$gconv/CP932.so"
cp -r "$gconv"/gconv-modules* "$jail$gconv/"
cp "$lin/qa2" "$jail/qa2"
cp -rp "$lin/samples/update" "$jail/update"
printf 'read me\r\n' >"$jail/update/説明.TXT"
touch -d '2024-05-06 07:08:09' "$jail/update/説明.TXT"
cp -rp "$jail/update" "$work/update"
chroot_bin=$(command -v chroot || echo /usr/sbin/chroot)
run_jail() {
  if [ "$(id -u)" -eq 0 ]; then
    env -i LANG=C.UTF-8 "$chroot_bin" "$jail" "$@"
  else
    env -i LANG=C.UTF-8 "$(command -v unshare)" -r "$chroot_bin" "$jail" "$@"
  fi
}
run_jail /qa2 --version
run_jail /qa2 build /update /tmp/UPDATE.EXE >/dev/null || fail "qa2 build failed in the chroot"
run_jail /qa2 list /tmp/UPDATE.EXE | grep -q "説明.TXT" || fail "the Japanese member is missing"
native=$(cd "${QA_NATIVE_BUILD:-build}" && pwd)
cmake --build "$native" --target qa2 >/dev/null
"$native/tools/qa2" build "$work/update" "$work/NATIVE.EXE" >/dev/null
cmp "$jail/tmp/UPDATE.EXE" "$work/NATIVE.EXE" || fail "the released qa2 builds other bytes than the build's"
[ "$(run_jail /qa2 --version | tail -1)" = "$("$native/tools/qa2" --version | tail -1)" ] ||
  fail "the released qa2 carries another stub"
echo "release: all checks passed"
