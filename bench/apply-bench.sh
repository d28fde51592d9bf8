#!/usr/bin/env bash
# Applying one large member at the speed of the disk: UPDATE.EXE under Wine
# writing a member of SIZE bytes (default 1 GB: the benchmark corpus repeated)
# from launch to its completion page, from a --fast archive and from a
# default-mode one; qa2 extract of the same archives natively; dd bs=1M
# conv=fsync of the same bytes. Best of three each, with the ratios to dd.
# Everything is written on the file system of the repository (the rig's G:
# drive lies in build-e2e/), never on a RAM disk.
#
# The corpus, the member and both archives are kept in
# $QA_NATIVE_BUILD/apply-bench/ (the default-mode archive takes minutes to
# pack); UPDATE.EXE is made again on every run, from the current stub.
# QA_BENCH_STUB names another updater stub to measure; QA_BENCH_BEFORE_STUB
# and QA_BENCH_BEFORE_QA2 name an earlier stub and qa2, measured in turn with
# the current ones (a shared machine then loads both alike).
# --native measures qa2 extract and dd only, without Wine; QA_BENCH_MODES
# ("fast optimal" unless set) names its archives, QA_BENCH_BEFORE_QA2 an
# earlier qa2 beside the current one.
# Usage: bench/apply-bench.sh [--native] [SIZE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
native=
if [ "${1:-}" = --native ]; then native=1; shift; fi
size=${1:-1000000000}
if [ -n "$native" ]; then
  export QA_NATIVE_BUILD=${QA_NATIVE_BUILD:-$root/build}
  if [ ! -f "$QA_NATIVE_BUILD/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$QA_NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQA_BUILD_TESTS=OFF \
      >/dev/null
  fi
  cmake --build "$QA_NATIVE_BUILD" -j 2 --target qa2 >/dev/null
  cache=$QA_NATIVE_BUILD/apply-bench
  mkdir -p "$cache"
  [ -d "$cache/corpus" ] || bench/make-corpus.sh "$cache/corpus" >/dev/null
  exec python3 bench/apply_bench.py "$size" "$cache" --native
fi
# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"
cmake --build "$QA_NATIVE_BUILD" -j 2 --target qa2 qa_embed_archive >/dev/null
cache=$QA_NATIVE_BUILD/apply-bench
mkdir -p "$cache"
[ -d "$cache/corpus" ] || bench/make-corpus.sh "$cache/corpus" >/dev/null

export E2E_DIR=${E2E_DIR:-$root/build-e2e}
mkdir -p "$E2E_DIR"
# shellcheck source=e2e/rig.sh
. e2e/rig.sh
trap rig_stop EXIT
rig_env
rig_display headless
rig_prefix
python3 bench/apply_bench.py "$size" "$cache"
