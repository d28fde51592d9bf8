# Sourced by the test scripts: whether Wine can run the Win32 programs here.
#
# Wine's 32-bit half is an i386 Linux program. A kernel booted without 32-bit
# emulation (ia32_emulation=off, as some virtual machines are) refuses to
# execute it, and Wine under qemu's user-mode emulator does not get through
# creating a prefix. On such a machine the stages that run Windows programs
# say so and are skipped (exit code 77); the Win32 build and every check that
# reads its files still run.
wine_usable() {
  command -v wine >/dev/null 2>&1 && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Prints why a stage is skipped and exits with the skip code.
wine_skip() {
  echo "SKIPPED: $1 needs Wine, and this kernel runs no 32-bit programs" \
       "(booted without 32-bit emulation: 'ia32_emulation=off')." >&2
  exit 77
}
