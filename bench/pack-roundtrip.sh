#!/usr/bin/env bash
# Packs every file of a folder with qa2, verifies the archive, extracts it
# and checks each file byte for byte and its last-write time to the 100 ns
# the archive keeps.
# Usage: bench/pack-roundtrip.sh QA2 DIR [pack options, e.g. --fast]
set -euo pipefail
qa2=${1:?usage: pack-roundtrip.sh QA2 DIR [options]}
dir=${2:?usage: pack-roundtrip.sh QA2 DIR [options]}
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t files < <(cd "$dir" && ls | sort)
(cd "$dir" && "$qa2" pack "$work/corpus.qa2" "$@" "${files[@]}")
"$qa2" verify "$work/corpus.qa2"
mkdir "$work/out"
"$qa2" extract "$work/corpus.qa2" -C "$work/out" >/dev/null

# Seconds and 100 ns units of the last-write time.
ticks() { stat -c '%Y %y' "$1" | sed -E 's/^([0-9]+) .*:[0-9]{2}(\.([0-9]{7}))?[0-9]* .*/\1\3/'; }
bad=0
for f in "${files[@]}"; do
  if ! cmp -s "$dir/$f" "$work/out/$f"; then
    echo "content differs: $f"; bad=1
  elif [ "$(ticks "$dir/$f")" != "$(ticks "$work/out/$f")" ]; then
    echo "time differs: $f ($(stat -c %y "$dir/$f") vs $(stat -c %y "$work/out/$f"))"; bad=1
  fi
done
[ "$bad" = 0 ] || exit 1
echo "round trip ok: ${#files[@]} files, $(cat "$dir"/* | wc -c) bytes -> $(stat -c %s "$work/corpus.qa2") bytes"
