#!/usr/bin/env bash
# Differential test of the host INI reader against GetPrivateProfileStringA:
# the same probe reads tests/ini/cases through the host reader (native build)
# and through the system's reader (Win32 build under Wine), and both outputs
# must be identical, except for the case files listed in
# tests/ini/expected-differences.txt, where Wine is known to differ from
# Windows and the host reader follows Windows.
#
# Build folders: QA_NATIVE_BUILD (default build-asan, a native build with the
# tests) and QA_WIN32_BUILD (default build-win32); configured here when they
# do not exist yet.
set -euo pipefail
. "$(dirname "$0")/../wine-check.sh"
wine_select
[ "$QA_WINE_MODE" != none ] || wine_skip "the INI differential"
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
native=${QA_NATIVE_BUILD:-build-asan}
win32=$QA_WINE_BUILD
jobs=${QA_JOBS:-2}

if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQA_SANITIZE=ON \
    -DQA_BUILD_TOOLS=OFF >/dev/null
fi
if [ ! -f "$win32/CMakeCache.txt" ]; then
  cmake -S . -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$QA_WINE_TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" -j "$jobs" --target ini_probe
cmake --build "$win32" -j "$jobs" --target ini_probe

cases=$root/tests/ini/cases
queries=$root/tests/ini/queries.txt
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$native/tests/ini/ini_probe" "$cases" "$queries" >"$out/host.txt"
# Z: is the root in every prefix: the probe takes the cases' Windows path.
wincases="Z:${cases//\//\\}"
"$QA_WINE_RUN" "$win32/tests/ini/ini_probe.exe" "$wincases" "$queries" | tr -d '\r' >"$out/wine.txt"

expected=$(sed -e 's/#.*//' -e 's/[[:space:]]*$//' tests/ini/expected-differences.txt | grep -v '^$' || true)
is_expected() {
  local file=$1
  grep -qxF "$file" <<<"$expected"
}

files=$(ls "$cases" | wc -l)
total=$(wc -l <"$out/host.txt")
if [ "$total" -ne "$(wc -l <"$out/wine.txt")" ]; then
  echo "probe outputs differ in length" >&2
  diff "$out/host.txt" "$out/wine.txt" >&2 || true
  exit 1
fi

unexpected=0 differing=0
declare -A shown=()
while IFS= read -r host && IFS= read -r wine <&3; do
  [ "$host" = "$wine" ] && continue
  file=${host%%|*}
  if is_expected "$file"; then
    differing=$((differing + 1))
    shown[$file]=1
    continue
  fi
  unexpected=$((unexpected + 1))
  printf 'DIFFERS  host: %s\n         wine: %s\n' "$host" "$wine" >&2
done <"$out/host.txt" 3<"$out/wine.txt"

for file in $expected; do
  [ -n "${shown[$file]:-}" ] || echo "note: $file was listed as differing but agreed" >&2
done
echo "INI differential: $files case files, $total queries, $differing expected differences" \
  "in ${#shown[@]} files, $unexpected unexpected"
[ "$unexpected" -eq 0 ]
