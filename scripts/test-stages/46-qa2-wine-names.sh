#!/usr/bin/env bash
# qa2.exe reaches Japanese names through the wide API whatever the system's
# code page: under a Japanese and a non-Japanese locale, `extract` into an
# existing folder 出力 gives the members データ.DAT and 表.TXT (表 ends in
# the byte 0x5C) under their names with their bytes (into a folder Jörg,
# which code page 932 cannot name, as well), `pack` of such files
# gives the archive that qa2 on Linux makes, and `check` and `build` read a
# folder so named. Build folders: QA_NATIVE_BUILD (default build) and the
# Windows build that Wine runs (scripts/wine-check.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. scripts/wine-check.sh
wine_select
[ "$QA_WINE_MODE" != none ] || wine_skip "running qa2.exe"
native=$(cd "${QA_NATIVE_BUILD:-build}" && pwd)
cmake --build "$native" --target qa2 >/dev/null
cmake --build "$QA_WINE_BUILD" --target qa2 >/dev/null
qa2=$native/tools/qa2
qa2exe=$QA_WINE_BUILD/tools/qa2.exe
if [ "$QA_WINE_MODE" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine64} WINEARCH=win64
else
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine}
fi
"$QA_WINE_RUN" cmd /c exit >/dev/null 2>&1 || { echo "46-qa2-wine-names: Wine cannot run programs here" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qa2-names.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "46-qa2-wine-names: $*" >&2
  exit 1
}
zpath() { printf 'Z:%s' "${1//\//\\}"; }

src=$work/src
mkdir "$src"
head -c 100000 /dev/urandom >"$src/データ.DAT"
printf '表の中身\r\n' >"$src/表.TXT"
touch -d '2024-05-06 07:08:09' "$src/データ.DAT" "$src/表.TXT"
"$qa2" pack "$work/JP.QA2" "$src/データ.DAT" "$src/表.TXT" >/dev/null
jp=$work/更新
cp -rp samples/update "$jp"
cp -p "$src/表.TXT" "$jp/"

for locale in ja_JP.UTF-8 C.UTF-8; do
  run() { LC_ALL=$locale LANG=$locale WINEDEBUG=-all "$QA_WINE" "$qa2exe" "$@"; }
  here=$work/$locale
  out=$here/出力
  mkdir -p "$out"
  run extract "$(zpath "$work/JP.QA2")" -C "$(zpath "$out")" >"$here/log" 2>&1 ||
    fail "$locale: extract failed: $(cat "$here/log")"
  for name in データ.DAT 表.TXT; do
    cmp -s "$src/$name" "$out/$name" || fail "$locale: $name missing or wrong ($(ls "$out" | tr '\n' ' '))"
  done
  [ "$(ls "$out" | wc -l)" = 2 ] || fail "$locale: other files in 出力: $(ls "$out" | tr '\n' ' ')"
  # A folder whose name has no code page 932 form at all.
  mkdir "$here/Jörg"
  run extract "$(zpath "$work/JP.QA2")" -C "$(zpath "$here/Jörg")" >"$here/log" 2>&1 ||
    fail "$locale: extract into Jörg failed: $(cat "$here/log")"
  cmp -s "$src/表.TXT" "$here/Jörg/表.TXT" || fail "$locale: 表.TXT missing or wrong in Jörg"
  run pack "$(zpath "$here/W.QA2")" "$(zpath "$src/データ.DAT")" "$(zpath "$src/表.TXT")" >/dev/null 2>&1 ||
    fail "$locale: pack of Japanese names failed"
  cmp -s "$work/JP.QA2" "$here/W.QA2" || fail "$locale: pack under Wine differs from pack on Linux"
  run check "$(zpath "$jp")" >"$here/log" 2>&1 || fail "$locale: check of 更新 failed: $(cat "$here/log")"
  run build "$(zpath "$jp")" "$(zpath "$here/出力/UPDATE.EXE")" >/dev/null 2>&1 ||
    fail "$locale: build of 更新 failed"
  "$qa2" list "$here/出力/UPDATE.EXE" | grep -q "表.TXT" || fail "$locale: 表.TXT not in the built updater"
  echo "$locale: extract, pack, check and build with Japanese names: ok"
done
