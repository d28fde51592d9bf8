#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine:
# the native toolchain and GoogleTest, MinGW-w64 for i686, 32-bit Wine with
# Xvfb, a Japanese locale and font (so the ANSI code page is 932), clang for
# the fuzzers, and zlib/liblz4 for the benchmark peers. Safe to run again.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

pkgs=(
  cmake g++ make ninja-build pkg-config libgtest-dev libgmock-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64
  wine wine32:i386 xvfb xauth x11-apps imagemagick xdotool
  locales fonts-ipafont-gothic fonts-ipafont-mincho fonts-wine
  clang libclang-rt-14-dev
  zlib1g-dev liblz4-dev gettext
  python3 python3-pefile osslsigncode openssl
)

need=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need=(update)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Japanese locale lets Wine pick code page 932 as the ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

