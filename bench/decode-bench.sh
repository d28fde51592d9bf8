#!/usr/bin/env bash
# The decoder alone on the benchmark corpus, as the native tools run it and
# as UPDATE.EXE runs it: qa_decode_bench of the native build, then of the
# Windows build under Wine (32-bit where this machine runs 32-bit programs,
# else the 64-bit build, as scripts/wine-check.sh decides; it says which).
# The optimal streams are made once and kept in build/decode-bench/.
# Usage: bench/decode-bench.sh [passes, default 7]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
passes=${1:-7}
# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"
cmake --build "$QA_NATIVE_BUILD" -j 2 --target qa_decode_bench >/dev/null
cache=$QA_NATIVE_BUILD/decode-bench
mkdir -p "$cache"
[ -d "$cache/corpus" ] || bench/make-corpus.sh "$cache/corpus" >/dev/null
echo "native ($(uname -m)):"
"$QA_NATIVE_BUILD/bench/qa_decode_bench" "$cache/corpus" "$cache/streams" "$passes" | tail -n 2
if [ "$QA_WINE_MODE" = none ]; then
  echo "Windows build: not measured, Wine cannot run here"
  exit 0
fi
cmake --build "$QA_WINE_BUILD" -j 2 --target qa_decode_bench >/dev/null
echo "$QA_WINE_MODE build under Wine (wall clock):"
winpath() { echo "Z:$1" | tr / '\\'; }
"$QA_WINE_RUN" "$QA_WINE_BUILD/bench/qa_decode_bench.exe" "$(winpath "$cache/corpus")" \
  "$(winpath "$cache/streams")" "$passes" | tail -n 2
