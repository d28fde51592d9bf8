#!/usr/bin/env bash
# Builds the fuzzers with clang into build-fuzz/, replays the saved inputs
# of fuzz/corpus/<target>/, then runs each target for a bounded time.
# A crash stops the script with a non-zero exit; libFuzzer leaves the input
# as build-fuzz/crash-* (keep it, small, in fuzz/corpus/<target>/ under a
# name that says its case, once the fault is fixed).
# Usage: scripts/fuzz.sh [seconds-per-target, default 60]
#   CI runs 20 s per target (test-stages/30-fuzz.sh). For a long run, give
#   an hour per target and leave it alone: scripts/fuzz.sh 3600. The corpus
#   grows in build-fuzz/corpus-<target>/ and is reused by the next run.
#   Each target prints its executions (stat::number_of_executed_units).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQA_FUZZ=ON -DQA_BUILD_TESTS=OFF -DQA_BUILD_TOOLS=OFF >/dev/null
targets=(decoder chunked archive roundtrip stub patch pe)
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t" "replay_$t"); done
cmake --build build-fuzz -j "$jobs" --target "${build_targets[@]}"

for t in "${targets[@]}"; do
  saved=fuzz/corpus/$t
  work=build-fuzz/corpus-$t
  mkdir -p "$work"
  echo "== $t: replaying $saved"
  build-fuzz/fuzz/replay_$t "$saved"
  echo "== $t: fuzzing for ${seconds}s"
  # Inputs stay small: the format's faults show in a few hundred bytes, and
  # the round trip's optimal parse should not dominate the time.
  log=build-fuzz/fuzz-$t.log
  if ! (cd build-fuzz && ./fuzz/fuzz_$t -max_total_time="$seconds" -max_len=4096 -timeout=20 \
          -rss_limit_mb=2048 -print_final_stats=1 "corpus-$t" "../$saved") >"$log" 2>&1; then
    cat "$log"
    echo "== $t: FAILED (input saved as build-fuzz/crash-* or timeout-*)"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 3 "$log"
done
echo "fuzzing found nothing"
