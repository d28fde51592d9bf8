#!/usr/bin/env bash
# Assembles the benchmark corpus (about 40 MB) from files of installed Debian
# packages, the kind of data an update carries: 32-bit Windows DLLs (Wine's
# and MinGW-w64's), a Japanese font, Japanese text in code page 932 and small
# generated INI files. Same packages in, same bytes out; file times are fixed.
# Names fit the archive (at most 14 bytes in code page 932).
# Usage: bench/make-corpus.sh OUT_DIR
# Needs: wine32 (i386 DLLs), g++-mingw-w64-i686, fonts-ipafont-gothic,
# gettext (msgunfmt), man pages in Japanese where present.
set -euo pipefail
out=${1:?usage: make-corpus.sh OUT_DIR}
rm -rf "$out"
mkdir -p "$out"

wine=/usr/lib/i386-linux-gnu/wine/i386-windows
for dll in kernelbase user32 comctl32 ntdll msvcrt gdi32 kernel32 shlwapi advapi32; do
  cp "$wine/$dll.dll" "$out/$(echo "$dll" | tr a-z A-Z).DLL"
done
mingw=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-win32 | sort | tail -n 1)
cp "$mingw/libgcc_s_dw2-1.dll" "$out/LIBGCC.DLL"
cp "$mingw/libgomp-1.dll" "$out/LIBGOMP.DLL"
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$out/ZLIB1.DLL"
cp /usr/i686-w64-mingw32/lib/libwinpthread-1.dll "$out/WINPTHRD.DLL"
cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$out/IPAG.TTF"

# Message catalogues, Japanese and English side by side as a game's script
# would have them, cut to about 4 MB in all.
export LC_ALL=C
n=0
budget=$((4 * 1024 * 1024))
for mo in $(ls /usr/share/locale/ja/LC_MESSAGES/*.mo | sort); do
  [ "$budget" -gt 0 ] || break
  n=$((n + 1))
  name=$(printf 'JA%03d.TXT' "$n")
  msgunfmt "$mo" 2>/dev/null | iconv -c -f UTF-8 -t CP932 > "$out/$name" || true
  budget=$((budget - $(stat -c %s "$out/$name")))
done
# Manual pages; the first one also under a Japanese name.
n=0
for page in $(ls /usr/share/man/ja/man*/*.gz 2>/dev/null | sort); do
  n=$((n + 1))
  zcat "$page" | iconv -c -f UTF-8 -t CP932 > "$out/$(printf 'MAN%02d.TXT' "$n")"
done
if [ -e "$out/MAN01.TXT" ]; then cp "$out/MAN01.TXT" "$out/説明書.txt"; fi

# Small settings files, as an installation's would look.
title=$(printf '%s' 'ゲーム本編' | iconv -f UTF-8 -t CP932)
for i in $(seq 1 40); do
  {
    printf '[SETUP]\r\nCompanyName=Example Soft\r\nGameTitle=%s %d\r\n' "$title" "$i"
    printf 'GameDir=GAME%02d\r\nInstallFiles%d=1:\\DATA\\PACK%02d.DAT\r\n' "$i" "$i" "$i"
    for k in $(seq 1 $((i % 7 + 1))); do
      printf 'UpdateFile%02d=GAME%02d.EXE,DATA\\FILE%03d.PAK,%d\r\n' "$k" "$i" "$((i * k))" "$((k % 2))"
    done
  } > "$out/$(printf 'SET%02d.INI' "$i")"
done

# Fixed times, one with a fraction of a second the archive can carry.
t=1600000000
for f in $(ls "$out" | sort); do
  touch -d "@$t" "$out/$f"
  t=$((t + 3600))
done
touch -d "@1700000000.1234567" "$out/IPAG.TTF"

count=$(ls "$out" | wc -l)
bytes=$(cat "$out"/* | wc -c)
digest=$(cd "$out" && ls | sort | xargs sha256sum | sha256sum | cut -c1-16)
echo "corpus: $count files, $bytes bytes, digest $digest"
