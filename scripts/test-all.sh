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

# The native qa2s carry the updater stub of build-win32, built once for all.
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
ctest --test-dir build-win32 --output-on-failure

# Stages run in order; the first that fails stops the run (set -e).
stages=2  # the native and the Win32 unit tests above
for extra in scripts/test-stages/*.sh; do
  [ -e "$extra" ] || continue
  stage "$(basename "$extra" .sh)"
  bash "$extra"
  stages=$((stages + 1))
done

stage "all tests passed"
echo "stages: $stages passed, 0 failed"
