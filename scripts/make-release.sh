#!/usr/bin/env bash
# Makes what an update author downloads, the same bytes on every run from the
# same sources and compilers:
#   qa2-VERSION-windows-x86_64.zip  qa2.exe (64-bit Windows, carrying the
#                                   32-bit UPDATE.EXE stub), authoring.md,
#                                   the samples its examples use (update,
#                                   installation, disc1, their README),
#                                   tools/try-update with the rig it runs
#   qa2-VERSION-linux-x86_64.tar.gz qa2 for x86-64 Linux (libstdc++ and libgcc
#                                   linked in; glibc, whose conversion
#                                   modules code page 932 needs, from the
#                                   system), the same documents and sample
#   SHA256SUMS
# Usage: scripts/make-release.sh [OUT_DIR]   (default build-release/dist)
# Builds in build-release/{win32,win64,linux}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-build-release/dist}" && cd "${1:-build-release/dist}" && pwd)
base=$root/build-release
jobs=${QA_JOBS:-2}
export SOURCE_DATE_EPOCH=0 TZ=UTC LC_ALL=C
say() { echo "make-release: $*" >&2; }

configure() {  # DIR [ARGS...]
  local dir=$1
  shift
  [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQA_BUILD_TESTS=OFF "$@" >/dev/null
}
# The stub both carry: the 32-bit updater, as every qa2 build makes it.
say "building the 32-bit UPDATE.EXE stub in $base/win32"
configure "$base/win32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
cmake --build "$base/win32" --target updater_exe e2e_driver -j "$jobs" >/dev/null
stub=(-DQA_STUB_BUILD="$base/win32")
say "building the 64-bit qa2.exe in $base/win64"
configure "$base/win64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "${stub[@]}" \
  -DCMAKE_EXE_LINKER_FLAGS="-s -Wl,--no-insert-timestamp"
cmake --build "$base/win64" --target qa2 -j "$jobs" >/dev/null
say "building the Linux qa2 in $base/linux"
configure "$base/linux" "${stub[@]}" -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root/=" \
  -DCMAKE_EXE_LINKER_FLAGS="-s -static-libstdc++ -static-libgcc -Wl,--build-id=none"
cmake --build "$base/linux" --target qa2 -j "$jobs" >/dev/null

version=$("$base/linux/tools/qa2" --version | sed -n '1s/^qa2 //p')
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
lay_out() {  # NAME PROGRAM
  local dir=$stage/$1
  mkdir -p "$dir/samples"
  cp "$2" "$dir/"
  cp docs/authoring.md "$dir/"
  cp -r samples/update samples/installation samples/disc1 samples/README.md "$dir/samples/"
  # tools/try-update with what it runs: the rig, its Wine scripts and the
  # window driver (Wine, Xvfb and Python come from the system).
  mkdir -p "$dir/tools" "$dir/scripts" "$dir/e2e" "$dir/try-update-bin/e2e"
  cp tools/try-update "$dir/tools/"
  cp scripts/wine-check.sh scripts/wine-run "$dir/scripts/"
  cp e2e/*.py e2e/rig.sh "$dir/e2e/"
  cp "$base/win32/e2e/driver.exe" "$dir/try-update-bin/e2e/"
  # Fixed times and modes: the archive's bytes depend on the contents alone.
  # Zip cannot store times before 1980.
  find "$dir" -type d -exec chmod 755 {} +
  find "$dir" -type f -exec chmod 644 {} +
  chmod 755 "$dir/$(basename "$2")" "$dir/tools/try-update" "$dir/scripts/wine-run"
  find "$dir" -exec touch -h -d '1980-01-01 00:00:00' {} +
}
win=qa2-$version-windows-x86_64
lin=qa2-$version-linux-x86_64
say "laying out $win and $lin in $out"
lay_out "$win" "$base/win64/tools/qa2.exe"
lay_out "$lin" "$base/linux/tools/qa2"
rm -f "$out/$win.zip" "$out/$lin.tar.gz"
(cd "$stage" && find "$win" | sort | zip -q -X -D -@ "$out/$win.zip")
tar -C "$stage" --sort=name --mtime=@315532800 --owner=0 --group=0 --numeric-owner --format=gnu \
  -cf - "$lin" | gzip -n -9 >"$out/$lin.tar.gz"
(cd "$out" && sha256sum "$win.zip" "$lin.tar.gz" >SHA256SUMS)
cat "$out/SHA256SUMS"
