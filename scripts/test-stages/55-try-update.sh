#!/usr/bin/env bash
# tools/try-update, headless, on two updates: the sample (scripts/run-sample.sh)
# and a small update made here whose outcome is known file by file (a start-up
# message answered OK, an Update entry whose installed file is newer, an
# Overwrite entry for a file that is not installed, an entry for another
# install mode, one for the data folder, a folder from a second CD-ROM). Each
# run must end with the updater's exit code 1 and change exactly the files
# expected. Where only 64-bit Wine runs, the updates are built with the 64-bit
# build, and a 32-bit UPDATE.EXE must be refused with exit code 3.
set -euo pipefail
. "$(dirname "$0")/../wine-check.sh"
wine_select
[ "$QA_WINE_MODE" != none ] || wine_skip "the try-update stage"
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"
work=$root/build-try
rm -rf "$work"
mkdir -p "$work"
fail() { echo "try-update stage: $*" >&2; exit 1; }

# The changed files of a run's output: "KIND NAME" lines, sorted.
changes() {
  sed -n 's/^ *\(added\|changed\|rewritten\|removed\) \+\([^ ]*\) .*/\1 \2/p' "$1" | sort
}
expect_run() {
  local name=$1 out=$work/$1.out expected=$2
  grep -q '^ *exit code 1$' "$out" || fail "$name: the updater did not end with exit code 1 (see $out)"
  grep -q ' passed ' "$out" || fail "$name: the run failed (see $out)"
  if [ "$(changes "$out")" != "$(printf '%s\n' "$expected" | sort)" ]; then
    echo "expected:"; printf '%s\n' "$expected" | sort
    echo "changed:"; changes "$out"
    fail "$name: other files changed than expected (see $out)"
  fi
  echo "$name: exit code 1, $(changes "$out" | wc -l) files changed as expected"
}

# 1. The sample, as scripts/run-sample.sh runs it.
env -u DISPLAY scripts/run-sample.sh --shots "$work/shots-sample" >"$work/sample.out" 2>&1 ||
  { cat "$work/sample.out"; fail "run-sample.sh failed"; }
cat "$work/sample.out"
if [ "$QA_WINE_MODE" = win64 ]; then
  grep -q "64-bit build of the same sources" "$work/sample.out" || fail "no word of the 64-bit build"
fi
expect_run sample "changed GAME.EXE
changed PATCH.DAT
changed README.TXT
rewritten SETUP.INI
added DATA1.PAK
added MOVIE/OPENING.MPG
added EXTRAS/EXTRA1.TXT
added EXTRAS/EXTRA2.TXT
rewritten CONFIG.DAT"
ls "$work"/shots-sample/*-page.png >/dev/null 2>&1 || fail "no screenshots of the sample's pages"

# 2. An update made here.
u=$work/update i=$work/inst d=$work/data c=$work/disc2
mkdir -p "$u" "$i/SUB" "$d" "$c/EXTRA" "$work/disc1"
printf '%s\r\n' '[SETUP]' 'CompanyName=TRY' 'GameTitle=試験' 'GameClass=TRYGAME' 'GameDir=GAME' \
  'UpdateMessage=試験用のアップデートです' '[UPDATE]' 'UpdateFile00=MAIN.EXE' 'UpdateFile01=u,NEWER.TXT' \
  'UpdateFile02=o,ABSENT.DAT' 'UpdateFile03=2,MODE2.DAT' 'UpdateFile04=d,SAVE.DAT' \
  'UpdateFile05=1,SUB\MODE1.DAT' 'CopyFile00=2:EXTRA' | iconv -f UTF-8 -t CP932 >"$u/UPDATE.INI"
for f in MAIN.EXE NEWER.TXT ABSENT.DAT MODE2.DAT SAVE.DAT MODE1.DAT; do echo "new $f" >"$u/$f"; done
touch -d 2021-01-01T00:00:00Z "$u"/*
printf '%s\r\n' '[SETUP]' 'CompanyName=TRY' 'GameTitle=試験' 'GameDir=GAME' 'GameExe=MAIN.EXE' \
  'UninstExe=UNINST.EXE' 'SetupBmp=A.BMP' 'InstallSelects=0' 'Shortcuts=0' 'DiskCheckFile2=DISC2.CHK' |
  iconv -f UTF-8 -t CP932 >"$i/SETUP.INI"
echo old >"$i/MAIN.EXE"
echo "installed later" >"$i/NEWER.TXT"
touch -d 2022-01-01T00:00:00Z "$i/NEWER.TXT"
echo "the player's" >"$d/SAVE.DAT"
echo disc >"$c/DISC2.CHK"
echo extra >"$c/EXTRA/X.TXT"
update_arg=$u
if [ "$QA_WINE_MODE" = win32 ]; then
  # A given UPDATE.EXE, as an author has it.
  "$QA_NATIVE_BUILD/tools/qa2" build "$u" "$work/UPDATE.EXE" --stub "$QA_WINE_BUILD/updater/UPDATE.EXE" >/dev/null
  update_arg=$work/UPDATE.EXE
fi
# On a drive of its own, where players have it; discs named as qa2 preview
# names them.
env -u DISPLAY tools/try-update "$update_arg" --install "$i" --data "$d" --mode 1 \
  --inst-path 'D:\Games\GAME' --cdrom "Q:=$work/disc1" --cdrom "R:=$c" \
  --shots "$work/shots-made" >"$work/made.out" 2>&1 ||
  { cat "$work/made.out"; fail "try-update failed on the update made here"; }
cat "$work/made.out"
grep -q "試験用のアップデートです" "$work/made.out" || fail "the start-up message was not seen"
grep -q "preview held" "$work/made.out" || fail "the run was not held against qa2 preview"
grep -q 'InstPath=D:\\Games\\GAME' "$work/made.out" || fail "--inst-path was not the InstPath"
expect_run made "changed MAIN.EXE
added SUB/MODE1.DAT
added EXTRA/X.TXT
rewritten SAVE.DAT"

# 3. An update whose UPDATE.INI names another registry key than the
# installer wrote: the player is told the game is not installed.
w=$work/wrong-key
cp -r "$u" "$w"
sed -i 's/^GameDir=GAME/GameDir=OTHER/' "$w/UPDATE.INI"
env -u DISPLAY tools/try-update "$w" --install "$i" --mode 1 --shots "$work/shots-wrong" >"$work/wrong.out" 2>&1 ||
  { cat "$work/wrong.out"; fail "try-update failed on the update with a wrong key"; }
grep -q 'インストールされていません' "$work/wrong.out" && grep -q '^ *exit code 0$' "$work/wrong.out" ||
  { cat "$work/wrong.out"; fail "a wrong GameDir did not show as the player sees it"; }
echo "wrong-key: the player is told the game is not installed, exit code 0"

# 4. Where 32-bit programs cannot run, a 32-bit UPDATE.EXE is refused before
# anything is built or run: the headers of one are enough.
if [ "$QA_WINE_MODE" = win64 ]; then
  python3 - "$work/UPDATE32.EXE" <<'EOF'
import struct, sys
image = bytearray(512)
image[0:2] = b"MZ"
struct.pack_into("<I", image, 0x3C, 0x80)
image[0x80:0x84] = b"PE\0\0"
struct.pack_into("<H", image, 0x84, 0x14C)  # i386
open(sys.argv[1], "wb").write(image)
EOF
  rc=0
  tools/try-update "$work/UPDATE32.EXE" --install "$i" >"$work/refused.out" 2>&1 || rc=$?
  [ "$rc" = 3 ] && grep -q "is a 32-bit program" "$work/refused.out" ||
    { cat "$work/refused.out"; fail "a 32-bit UPDATE.EXE was not refused (exit $rc)"; }
  echo "a 32-bit UPDATE.EXE is refused here (exit 3): $(grep -m1 "32-bit program," "$work/refused.out")"
fi
