#!/usr/bin/env bash
# End to end: UPDATE.EXE under Wine on a private X display, worked through
# its windows by the scenarios in e2e/scenarios/. Uses the Win32 build
# (QA_WIN32_BUILD, default build-win32) and the native tools build
# (QA_NATIVE_BUILD, default build), configuring and building what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
export QA_WIN32_BUILD=${QA_WIN32_BUILD:-$root/build-win32}
export QA_NATIVE_BUILD=${QA_NATIVE_BUILD:-$root/build}
jobs=${QA_JOBS:-2}

if [ ! -f "$QA_WIN32_BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$QA_WIN32_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ ! -f "$QA_NATIVE_BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$QA_NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$QA_WIN32_BUILD" -j "$jobs" --target updater_exe e2e_driver e2e_fakegame
cmake --build "$QA_NATIVE_BUILD" -j "$jobs" --target qa2

exec bash e2e/run.sh
