#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test:
#   1. native unit tests (host platform) under AddressSanitizer and UBSan
#   2. the same core and unit tests cross-built for Win32, run under Wine
#   3. further stages when present: the fuzz pass, the end-to-end scenarios
# Usage: scripts/test-all.sh            (from anywhere; builds under build-*/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

stage() { printf '\n=== %s\n' "$*"; }

stage "install dependencies"
bash scripts/install-deps.sh

# The native qa2s and the 64-bit qa2.exe carry the updater stub of
# build-win32, built once for all.
stub="-DQA_STUB_BUILD=$root/build-win32"

stage "native build and unit tests (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQA_SANITIZE=ON "$stub" >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan -j "$jobs" --output-on-failure

stage "native release build (tools)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQA_BUILD_TESTS=OFF "$stub" >/dev/null
cmake --build build -j "$jobs"

stage "Win32 build and unit tests under Wine"
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win32 -j "$jobs"
. scripts/wine-check.sh
wine_select
stages=1 skipped=0  # the native unit tests above
case "$QA_WINE_MODE" in
  win32)
    ctest --test-dir build-win32 --output-on-failure
    stages=$((stages + 1)) ;;
  win64)
    stage "this kernel runs no 32-bit programs: the Windows tests use a 64-bit build under 64-bit Wine"
    # Its qa2.exe carries build-win32's stub, as the one authors get does.
    cmake -S . -B "$QA_WINE_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$QA_WINE_TOOLCHAIN" \
      -DCMAKE_BUILD_TYPE=Release "$stub" >/dev/null
    cmake --build "$QA_WINE_BUILD" -j "$jobs"
    ctest --test-dir "$QA_WINE_BUILD" --output-on-failure
    stages=$((stages + 1)) ;;
  *)
    (wine_skip "the Win32 unit tests") || skipped=$((skipped + 1)) ;;
esac

# Stages run in order; the first that fails stops the run. Exit code 77
# means the stage cannot run on this machine and says why.
for extra in scripts/test-stages/*.sh; do
  [ -e "$extra" ] || continue
  stage "$(basename "$extra" .sh)"
  rc=0
  bash "$extra" || rc=$?
  if [ "$rc" -eq 77 ]; then
    skipped=$((skipped + 1))
  elif [ "$rc" -ne 0 ]; then
    echo "stage $(basename "$extra" .sh) failed (exit code $rc)"
    echo "stages: $stages passed, 1 failed, $skipped skipped"
    exit 1
  else
    stages=$((stages + 1))
  fi
done

stage "all tests passed"
echo "stages: $stages passed, 0 failed, $skipped skipped"
