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
tmp=$(mktemp -d)
expect 2 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j 0
expect 2 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j
expect 0 pack "$tmp/OUT.QA2" "$src/samples/update/GAME.EXE" -j 2
# The same archive whatever the number of jobs.
expect 0 pack "$tmp/ONE.QA2" -j 1 "$src"/samples/update/*
expect 0 pack "$tmp/FOUR.QA2" -j 4 "$src"/samples/update/*
cmp -s "$tmp/ONE.QA2" "$tmp/FOUR.QA2" || { echo "qa2 pack -j 1 and -j 4 differ"; failed=1; }
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
rm -rf "$tmp"
exit $failed
