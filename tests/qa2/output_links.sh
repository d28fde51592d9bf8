#!/bin/sh
# qa2's outputs never write through a link: a link at the output is replaced
# itself, its target kept. Two extractions into one folder at once each put
# a whole file in place.
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
exit $failed
