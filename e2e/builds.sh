# Sourced by the end-to-end stage and by tools/try-update: the Win32 build
# (QA_WIN32_BUILD, default build-win32) and the native tools build
# (QA_NATIVE_BUILD, default build) that the runs use, configured where missing
# and brought up to date for what the rig needs.
e2e_builds() {
  local root=$1 jobs=${QA_JOBS:-2}
  . "$root/scripts/wine-check.sh"
  wine_select
  # The end-to-end runs use the Windows build that Wine runs here.
  export QA_WIN32_BUILD=$QA_WINE_BUILD
  export QA_NATIVE_BUILD=${QA_NATIVE_BUILD:-$root/build}
  # Every qa2 carries the 32-bit updater of build-win32 (made when missing).
  local stub=-DQA_STUB_BUILD=$root/build-win32
  if [ ! -f "$QA_WIN32_BUILD/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$QA_WIN32_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$QA_WINE_TOOLCHAIN" \
      -DCMAKE_BUILD_TYPE=Release "$stub" >/dev/null
  fi
  if [ ! -f "$QA_NATIVE_BUILD/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$QA_NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQA_BUILD_TESTS=OFF \
      "$stub" >/dev/null
  fi
  cmake --build "$QA_WIN32_BUILD" -j "$jobs" --target qa2 e2e_driver e2e_fakegame >/dev/null
  cmake --build "$QA_NATIVE_BUILD" -j "$jobs" --target qa2 >/dev/null
}
