# Sourced by the test scripts: how Wine runs the Windows programs here.
#
# Wine's 32-bit half is an i386 Linux program. A kernel booted without 32-bit
# emulation (ia32_emulation=off, as some virtual machines are) refuses to
# execute it (and Wine under qemu's user-mode emulator does not get through
# creating a prefix). There the tests that run Windows programs use a 64-bit
# build of the same sources (cmake/mingw-x86_64.cmake) under 64-bit Wine:
# the platform layer and every portable test run for real, though not as the
# 32-bit program that ships (build-win32 is still built and read by the
# checks that do not run it). wine_select exports the choice:
#   QA_WINE_MODE    win32, win64, or none
#   QA_WINE_BUILD   the Windows build that runs under Wine (build-win32 or
#                   build-win64)
#   QA_WINE_TOOLCHAIN, QA_WINE_RUN, QA_WINE  its toolchain file, the runner
#                   that makes its prefix, and the Wine loader itself
wine_usable() {
  command -v wine >/dev/null 2>&1 && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

wine64_usable() {
  [ -x /usr/lib/wine/wine64 ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 &&
    /usr/lib/wine/wine64 --version >/dev/null 2>&1
}

wine_select() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [ -n "${QA_WINE_MODE:-}" ]; then
    :
  elif wine_usable; then
    QA_WINE_MODE=win32
  elif wine64_usable; then
    QA_WINE_MODE=win64
  else
    QA_WINE_MODE=none
  fi
  if [ "$QA_WINE_MODE" = win64 ]; then
    QA_WINE_BUILD=${QA_WINE_BUILD:-$root/build-win64}
    QA_WINE_TOOLCHAIN=$root/cmake/mingw-x86_64.cmake
    QA_WINE_RUN=$root/scripts/wine64-run
    QA_WINE=/usr/lib/wine/wine64
  else
    QA_WINE_BUILD=${QA_WINE_BUILD:-${QA_WIN32_BUILD:-$root/build-win32}}
    QA_WINE_TOOLCHAIN=$root/cmake/mingw-i686.cmake
    QA_WINE_RUN=$root/scripts/wine-run
    QA_WINE=wine
  fi
  export QA_WINE_MODE QA_WINE_BUILD QA_WINE_TOOLCHAIN QA_WINE_RUN QA_WINE
}

# Prints why a stage is skipped and exits with the skip code.
wine_skip() {
  echo "SKIPPED: $1 needs Wine, and this kernel runs no 32-bit programs" \
       "(booted without 32-bit emulation: 'ia32_emulation=off')." >&2
  exit 77
}
