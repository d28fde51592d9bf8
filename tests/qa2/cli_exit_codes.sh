#!/bin/sh
# qa2 check's, qa2 pack -j's and qa2 preview's exit codes, as the help documents them, and
# pack's archive the same for -j 1 and -j 4.
# Usage: cli_exit_codes.sh QA2 SOURCE_DIR
qa2=$1
src=$2
failed=0
expect() {
  want=$1
  shift
  "$qa2" "$@" >/dev/null 2>&1
  got=$?
  if [ "$got" != "$want" ]; then
    echo "qa2 $*: exit $got, expected $want"
    failed=1
  fi
}
expect 0 check "$src/samples/update"
expect 0 check "$src/tests/qa2/check/unused-file"   # warnings only
expect 1 check "$src/tests/qa2/check/list-gap"
expect 3 check "$src/tests/qa2/check/no-such-folder"
expect 2 check
expect 2 check "$src/samples/update" --force
expect 0 check --help
expect 0 check --install "$src/samples/installation"
expect 0 check "$src/samples/update" --install "$src/samples/installation"
expect 1 check --install "$src/tests/qa2/install/missing-keys"
expect 1 check "$src/samples/update" --install "$src/tests/qa2/install/no-setup-ini"
expect 3 check --install "$src/tests/qa2/install/no-such-folder"
expect 2 check --install
# A clean check says so, in one line.
clean=$("$qa2" check "$src/samples/update" 2>&1)
if [ "$clean" != "UPDATE.INI: ok, 7 update entries, 2 copy entries" ]; then
  echo "qa2 check samples/update printed: $clean"
  failed=1
fi
tmp=$(mktemp -d)
expect 2 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j 0
expect 2 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j
expect 0 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j 2
# The same archive whatever the number of jobs.
expect 0 pack "$tmp/ONE.QA2" -j 1 "$src"/samples/update/*
expect 0 pack "$tmp/FOUR.QA2" -j 4 "$src"/samples/update/*
cmp -s "$tmp/ONE.QA2" "$tmp/FOUR.QA2" || { echo "qa2 pack -j 1 and -j 4 differ"; failed=1; }
# qa2 list keeps its columns in line after full-width and half-width names:
# the kind column starts at the same display column on every line.
mkdir "$tmp/names"
for name in GAME.EXE 星の記憶.DAT ｱｲｳｴｵ.DAT Ａ.TXT; do echo x >"$tmp/names/$name"; done
"$qa2" pack "$tmp/NAMES.QA2" "$tmp"/names/* >/dev/null 2>&1
"$qa2" list "$tmp/NAMES.QA2" >"$tmp/list.txt" 2>&1
python3 - "$tmp/list.txt" <<'PY' || failed=1
import sys, unicodedata
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
def column(line, word):
    at = line.index(word)
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line[:at])
starts = {column(l, "kind" if i == 0 else ("compressed" if "compressed" in l else "stored"))
          for i, l in enumerate(lines)}
if len(lines) != 5 or len(starts) != 1:
    print("qa2 list columns out of line:\n" + "\n".join(lines))
    sys.exit(1)
PY
# qa2 preview: 0 whatever it predicts, 2 for wrong arguments, 3 for a folder
# that cannot be read.
expect 0 preview "$src/samples/update" --install "$src/samples/installation" --mode 1 --json
expect 0 preview "$tmp/ONE.QA2" --install "$src/samples/installation"
expect 2 preview "$src/samples/update"
expect 2 preview "$src/samples/update" --install "$src/samples/installation" --cdrom Q
expect 2 preview "$src/samples/update" --install "$src/samples/installation" --data-path 'C:\\X'
expect 2 preview "$src/samples/update" --install "$src/samples/installation" --inst-path relative
expect 3 preview "$src/samples/update" --install "$tmp/no-such-folder"
expect 3 preview "$tmp/NONE.EXE" --install "$src/samples/installation"
# Only regular files and folders are read: a FIFO as SETUP.INI (which would
# block a read for ever) and a link out of the installation are refused.
cp -r "$src/samples/installation" "$tmp/fifo" && rm "$tmp/fifo/SETUP.INI" && mkfifo "$tmp/fifo/SETUP.INI"
expect 3 preview "$src/samples/update" --install "$tmp/fifo"
cp -r "$src/samples/installation" "$tmp/link" && mv "$tmp/link/SETUP.INI" "$tmp/OUTSIDE.INI" &&
  ln -s ../OUTSIDE.INI "$tmp/link/SETUP.INI"
expect 3 preview "$src/samples/update" --install "$tmp/link"
# Two names that Windows sees as one: which the updater meets, nobody knows.
cp -r "$src/samples/installation" "$tmp/twins" && cp "$tmp/twins/GAME.EXE" "$tmp/twins/game.exe"
expect 3 preview "$src/samples/update" --install "$tmp/twins"
ln -s "$(cd "$src" && pwd)/samples/installation" "$tmp/root-link"
expect 0 preview "$src/samples/update" --install "$tmp/root-link"
rm -rf "$tmp"
exit $failed
