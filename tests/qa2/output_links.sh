#!/bin/sh
# qa2's outputs never write through a link: a link at the output is replaced
# itself, its target kept. Two extractions into one folder at once each put
# a whole file in place. A pack stopped by a signal leaves no scratch file,
# and what a killed run left (a link among it) is swept by the next one
# without touching what a link points to.
# Usage: output_links.sh QA2
qa2=$1
failed=0
fail() { echo "$*"; failed=1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/a" "$tmp/b" "$tmp/out"
head -c 6000000 /dev/urandom > "$tmp/a/A.DAT"
head -c 6000000 /dev/urandom > "$tmp/b/A.DAT"
"$qa2" pack "$tmp/a.qa2" "$tmp/a/A.DAT" --store A.DAT >/dev/null || fail "pack a failed"
"$qa2" pack "$tmp/b.qa2" "$tmp/b/A.DAT" --store A.DAT >/dev/null || fail "pack b failed"

echo victim > "$tmp/victim.txt"
ln -s ../victim.txt "$tmp/out/A.DAT"
"$qa2" extract "$tmp/a.qa2" -C "$tmp/out" >/dev/null || fail "extract over a link failed"
[ -L "$tmp/out/A.DAT" ] && fail "extract left the link at out/A.DAT"
cmp -s "$tmp/out/A.DAT" "$tmp/a/A.DAT" || fail "extract over a link: wrong content"
[ "$(cat "$tmp/victim.txt")" = victim ] || fail "extract wrote through the link"

ln -s victim.txt "$tmp/OUT.QA2"
"$qa2" pack "$tmp/OUT.QA2" "$tmp/a/A.DAT" >/dev/null || fail "pack over a link failed"
[ -L "$tmp/OUT.QA2" ] && fail "pack left the link at OUT.QA2"
[ "$(cat "$tmp/victim.txt")" = victim ] || fail "pack wrote through the link"

for round in 1 2 3 4 5; do
  "$qa2" extract "$tmp/a.qa2" -C "$tmp/out" >/dev/null & pa=$!
  "$qa2" extract "$tmp/b.qa2" -C "$tmp/out" >/dev/null & pb=$!
  wait $pa || fail "round $round: extraction a failed"
  wait $pb || fail "round $round: extraction b failed"
  cmp -s "$tmp/out/A.DAT" "$tmp/a/A.DAT" || cmp -s "$tmp/out/A.DAT" "$tmp/b/A.DAT" ||
    fail "round $round: out/A.DAT is neither member whole"
done
left=$(ls "$tmp/out" | grep -v '^A\.DAT$' || true)
[ -z "$left" ] || fail "files left beside: $left"

mkdir "$tmp/big"
# Text: the optimal parse takes seconds over it, long enough to be stopped.
(yes 'a line of text for the compressor' || true) | head -c 32000000 > "$tmp/big/B.DAT"
for signal in INT TERM HUP; do
  # A background job starts with SIGINT ignored; qa2 leaves an ignored
  # signal ignored, so the job gets the default back first.
  env --default-signal=INT "$qa2" pack "$tmp/big/OUT.QA2" "$tmp/big/B.DAT" >/dev/null 2>&1 & pid=$!
  n=0
  until ls "$tmp/big" | grep -q '\.spool$'; do
    n=$((n + 1))
    [ $n -gt 400 ] && break
    sleep 0.05
  done
  kill -s $signal $pid
  wait $pid 2>/dev/null
  left=$(ls "$tmp/big" | grep -v '^B\.DAT$' || true)
  [ -z "$left" ] || fail "SIG$signal: files left beside the output: $left"
  rm -f "$tmp/big/OUT.QA2"
done

ln -s ../victim.txt "$tmp/big/OUT.QA2.~7ffffff0-0123456789abcdef.spool"
echo stale > "$tmp/big/OUT.QA2.~7ffffff1-0123456789abcdef.tmp"
echo kept > "$tmp/big/OUT.QA2.~7ffffff1-0123456789abcdef.tmp.mine"
"$qa2" pack "$tmp/big/OUT.QA2" "$tmp/a/A.DAT" --store A.DAT >/dev/null || fail "pack beside left-overs failed"
left=$(ls "$tmp/big" | sort | tr '\n' ' ')
[ "$left" = "B.DAT OUT.QA2 OUT.QA2.~7ffffff1-0123456789abcdef.tmp.mine " ] || fail "after the sweep: $left"
[ "$(cat "$tmp/victim.txt")" = victim ] || fail "the sweep touched a link's target"
exit $failed
