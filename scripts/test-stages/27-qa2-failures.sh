#!/usr/bin/env bash
# qa2 when the machine fails it: a full disk (a 2 MB tmpfs in a private
# mount namespace), an input it may not read (run as nobody when root), and
# too little memory (ulimit -v on the release build). Each ends with one
# line naming the file and the cause, the documented exit code (3 files,
# 4 memory), the output path as it was and nothing left beside it.
# Build folder: QA_NATIVE_BUILD (default build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
native=$(cd "${QA_NATIVE_BUILD:-build}" && pwd)
cmake --build "$native" --target qa2 >/dev/null
qa2=$native/tools/qa2
work=$(mktemp -d "${TMPDIR:-/tmp}/qa2-failures.XXXXXX")
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "27-qa2-failures: $*" >&2
  exit 1
}
# expect CODE PATTERN OUTPUT -- COMMAND...: exit CODE, one line of stderr
# matching PATTERN, OUTPUT holding "old" and nothing new in its folder.
expect() {
  local code=$1 pattern=$2 out=$3 rc=0 before
  shift 4
  printf old >"$out"
  before=$(ls -A "$(dirname "$out")")
  "$@" >/dev/null 2>"$work/err" || rc=$?
  [ "$rc" -eq "$code" ] || fail "$* gave exit $rc, not $code: $(cat "$work/err")"
  # qa2 build's check may warn first; the failure is one line, the last.
  [ "$(grep -c '^qa2 ' "$work/err")" -eq 1 ] || fail "$* said more than one line: $(cat "$work/err")"
  tail -n 1 "$work/err" | grep -q -- "$pattern" || fail "$* said: $(cat "$work/err")"
  [ "$(cat "$out")" = old ] || fail "$* changed $out"
  [ "$(ls -A "$(dirname "$out")")" = "$before" ] ||
    fail "$* left files beside $out: $(ls -A "$(dirname "$out")")"
  echo "ok: $* -> $(tail -n 1 "$work/err")"
}

mkdir -p "$work/in" "$work/update"
head -c 3000000 /dev/urandom >"$work/in/NOISE.BIN"
(yes 'a line of text for the compressor' || true) | head -c 64000000 >"$work/in/TEXT.DAT"
cp -p samples/update/* "$work/update/"
cp -p "$work/in/NOISE.BIN" "$work/update/"

echo "--- full disk"
if unshare -rm true 2>/dev/null; then
  mkdir -p "$work/small"
  # The commands run in a namespace whose tmpfs nobody else sees.
  cat >"$work/full.sh" <<SH
set -eu
mount -t tmpfs -o size=2m tmpfs "$work/small"
$(declare -f fail expect)
work=$work
expect 3 'No space left on device' "$work/small/OUT.QA2" -- "$qa2" pack "$work/small/OUT.QA2" --store NOISE.BIN "$work/in/NOISE.BIN"
expect 3 'No space left on device' "$work/small/OUT.QA2" -- "$qa2" pack "$work/small/OUT.QA2" "$work/in/NOISE.BIN"
expect 3 "$work/small/X.LZ" "$work/small/X.LZ" -- "$qa2" compress --fast "$work/in/NOISE.BIN" "$work/small/X.LZ"
expect 3 'No space left on device' "$work/small/UPDATE.EXE" -- "$qa2" build --fast "$work/update" "$work/small/UPDATE.EXE"
SH
  unshare -rm bash "$work/full.sh"
else
  echo "27-qa2-failures: NOT RUN: full disk (no private mount namespace for a small tmpfs here)" >&2
fi

echo "--- unreadable input"
mkdir -p "$work/out"
chmod 777 "$work/out"
chmod 000 "$work/in/NOISE.BIN"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$work/in" "$work/update"
fi
expect 3 "NOISE.BIN: Permission denied" "$work/out/OUT.QA2" -- "${as_user[@]}" "$qa2" pack "$work/out/OUT.QA2" "$work/in/NOISE.BIN"
expect 3 "NOISE.BIN: Permission denied" "$work/out/X.LZ" -- "${as_user[@]}" "$qa2" compress "$work/in/NOISE.BIN" "$work/out/X.LZ"
chmod 000 "$work/update/NOISE.BIN"
expect 3 "NOISE.BIN: Permission denied" "$work/out/UPDATE.EXE" -- "${as_user[@]}" "$qa2" build "$work/update" "$work/out/UPDATE.EXE"
expect 3 "Is a directory" "$work/out/X.LZ" -- "$qa2" compress "$work/in" "$work/out/X.LZ"
chmod 644 "$work/in/NOISE.BIN" "$work/update/NOISE.BIN"

echo "--- out of memory"
# 16 MB of address space: enough to start, not for the compressor's blocks
# (it works in about 32 MB with -j 2, whatever the input's size).
limited() { bash -c 'ulimit -v 16384 && exec "$@"' - "$@"; }
expect 4 "out of memory" "$work/out/X.LZ" -- limited "$qa2" compress -j 2 "$work/in/TEXT.DAT" "$work/out/X.LZ"
expect 4 "out of memory" "$work/out/OUT.QA2" -- limited "$qa2" pack "$work/out/OUT.QA2" "$work/in/TEXT.DAT"
cp -p "$work/in/TEXT.DAT" "$work/update/"
expect 4 "out of memory" "$work/out/UPDATE.EXE" -- limited "$qa2" build --force "$work/update" "$work/out/UPDATE.EXE"
echo "qa2 failures: all checks passed"
