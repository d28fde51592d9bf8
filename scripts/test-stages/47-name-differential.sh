#!/usr/bin/env bash
# Differential test of the preview's name resolution against Windows' own:
# the same probe resolves every path of tests/names/queries.txt below a copy
# of tests/names/tree through the overlay (native build) and through
# GetFileAttributesA and FindFirstFileA (Win32 build under Wine), and
# compares member names as the archive's lookup does and as lstrcmpiA does
# (the two fold case alike, but apart from file names' trailing periods,
# relative parts and devices); both answers must agree, except for the queries listed in
# tests/names/expected-differences.txt, where Wine is known to differ from
# Windows' documented rule and the overlay follows the rule. Paths of exactly
# 259 and 260 bytes are made for the copy's own location.
#
# Build folders: QA_NATIVE_BUILD (default build-asan) and the Wine build that
# scripts/wine-check.sh picks.
set -euo pipefail
. "$(dirname "$0")/../wine-check.sh"
wine_select
[ "$QA_WINE_MODE" != none ] || wine_skip "the name differential"
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
native=${QA_NATIVE_BUILD:-build-asan}
win32=$QA_WINE_BUILD
jobs=${QA_JOBS:-2}
for build in "$native" "$win32"; do
  [ -f "$build/CMakeCache.txt" ] || { echo "47-name-differential: $build is not configured" >&2; exit 1; }
done
cmake --build "$native" -j "$jobs" --target name_probe
cmake --build "$win32" -j "$jobs" --target name_probe

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r tests/names/tree "$work/tree"
winroot="Z:${work//\//\\}\\tree"
queries=$work/queries.txt
cp tests/names/queries.txt "$queries"
# One name that makes the whole Windows path 259 bytes, one 260.
mkdir "$work/tree/LONG"
base=$(( ${#winroot} + 1 + 5 ))  # "\LONG\"
for total in 259 260; do
  n=$((total - base - 4))
  name=$(printf '%*s' "$n" '' | tr ' ' "$([ "$total" = 259 ] && echo A || echo B)").DAT
  printf x >"$work/tree/LONG/$name"
  printf '# %s bytes\nLONG\\%s\n' "$total" "$name" >>"$queries"
done

"$native/tests/names/name_probe" "$winroot" "$work/tree" "$queries" >"$work/host.txt"
"$QA_WINE_RUN" "$win32/tests/names/name_probe.exe" "$winroot" "$queries" | tr -d '\r' >"$work/wine.txt"

expected=$(sed -e 's/[[:space:]]*#.*//' tests/names/expected-differences.txt | grep -v '^$' || true)
total=$(wc -l <"$work/host.txt")
if [ "$total" -ne "$(wc -l <"$work/wine.txt")" ]; then
  echo "probe outputs differ in length" >&2
  diff "$work/host.txt" "$work/wine.txt" >&2 || true
  exit 1
fi
unexpected=0 differing=0
declare -A shown=()
while IFS= read -r host && IFS= read -r wine <&3; do
  query=${host%% -> *}
  if [ "$host" = "$wine" ]; then
    grep -qxF -- "$query" <<<"$expected" && echo "note: $query was listed as differing but agreed" >&2
    continue
  fi
  if grep -qxF -- "$query" <<<"$expected"; then
    differing=$((differing + 1))
    printf 'expected difference  overlay: %s\n                      wine:    %s\n' "$host" "$wine"
    continue
  fi
  unexpected=$((unexpected + 1))
  printf 'DIFFERS  overlay: %s\n         wine:    %s\n' "$host" "$wine" >&2
done <"$work/host.txt" 3<"$work/wine.txt"
echo "name differential: $total paths, $differing expected differences, $unexpected unexpected"
[ "$unexpected" -eq 0 ]
