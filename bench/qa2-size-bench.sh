#!/usr/bin/env bash
# qa2 at size (not a test): MB/s of input, peak anonymous memory and CPU time
# over wall time (the machine is shared: the ratio shows how much of the
# parallel speed-up was there to have) for
#   - 1 GB of game-like content (the benchmark corpus, cycled) built in the
#     default mode with -j 1 and -j 2, by the native qa2 and by qa2.exe
#     under Wine;
#   - 3.9 GB that compresses well (1000 bytes of noise, repeated) built with
#     -j 2 in both modes, natively.
# Each run is `qa2 build` of a folder holding the member and the sample's
# UPDATE.INI; the results are compared byte for byte.
# Usage: bench/qa2-size-bench.sh NATIVE_BUILD WINDOWS_BUILD [WORK_DIR]
#        (WINDOWS_BUILD's qa2.exe runs under scripts/wine64-run, or
#        scripts/wine-run for a 32-bit build; "-" skips it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "$1" && pwd)
winbuild=$2
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/qa2-size.XXXXXX")}
mkdir -p "$work"
qa2=$native/tools/qa2
sample=$root/bench/memory-sample.sh
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), nproc $(nproc)"

folder() {  # DIR MEMBER: an update folder with the member and a minimal UPDATE.INI
  mkdir -p "$1"
  cp -p "$root/samples/update/UPDATE.INI" "$1/"
  ln -f "$2" "$1/$(basename "$2")" 2>/dev/null || cp -p "$2" "$1/"
}
run() {  # LABEL SIZE COMMAND...
  local label=$1 size=$2 line
  shift 2
  line=$("$sample" "$@" 2>&1 >/dev/null | tail -1)
  awk -v l="$label" -v s="$size" -v line="$line" 'BEGIN {
    split(line, f, /[ ,]+/); w = f[2];
    printf "%-34s %7.1f MB/s  %s\n", l, s / 1e6 / w, line }'
}

corpus=$root/build/corpus
[ -d "$corpus" ] || "$root/bench/make-corpus.sh" "$corpus" >/dev/null
game=$work/GAME.PAK
if [ ! -f "$game" ]; then
  python3 - "$corpus" "$game" <<'PY'
import os, sys
corpus, out = sys.argv[1], sys.argv[2]
files = sorted(os.path.join(corpus, n) for n in os.listdir(corpus))
left = 1_000_000_000
with open(out, "wb") as f:
    while left > 0:
        for p in files:
            data = open(p, "rb").read()[:left]
            f.write(data)
            left -= len(data)
            if left <= 0:
                break
PY
fi
folder "$work/game" "$game"
rm -f "$work/game/UPDATE.INI"
printf '[SETUP]\r\nCompanyName=B\r\nGameTitle=B\r\nGameClass=B\r\nGameDir=B\r\n[UPDATE]\r\nUpdateFile00=GAME.PAK\r\n' >"$work/game/UPDATE.INI"
size=$(stat -c %s "$game")
run "game 1 GB default -j 1 native" "$size" "$qa2" build -j 1 "$work/game" "$work/G1.EXE"
run "game 1 GB default -j 2 native" "$size" "$qa2" build -j 2 "$work/game" "$work/G2.EXE"
cmp "$work/G1.EXE" "$work/G2.EXE" && echo "  -j 1 and -j 2: same bytes"
if [ "$winbuild" != - ]; then
  wrun=$root/scripts/wine64-run
  x86_64-w64-mingw32-objdump -f "$winbuild/tools/qa2.exe" | grep -q x86-64 || wrun=$root/scripts/wine-run
  zp() { printf 'Z:%s' "${1//\//\\}"; }
  run "game 1 GB default -j 1 qa2.exe" "$size" "$wrun" "$winbuild/tools/qa2.exe" build -j 1 "$(zp "$work/game")" "$(zp "$work/W1.EXE")"
  run "game 1 GB default -j 2 qa2.exe" "$size" "$wrun" "$winbuild/tools/qa2.exe" build -j 2 "$(zp "$work/game")" "$(zp "$work/W2.EXE")"
  cmp "$work/G1.EXE" "$work/W1.EXE" && cmp "$work/G1.EXE" "$work/W2.EXE" && echo "  qa2.exe: same bytes as qa2"
fi
rm -f "$work"/W*.EXE "$work"/G*.EXE

big=$work/BIG.BIN
if [ ! -f "$big" ]; then
  python3 - "$big" <<'PY'
import random, sys
noise = random.Random(5)
block = (bytes(noise.getrandbits(8) for _ in range(1000)) * 4200)[:4096000]
n = 3_900_000_000
with open(sys.argv[1], "wb") as f:
    for _ in range(n // len(block)):
        f.write(block)
    f.write(block[:n % len(block)])
PY
fi
mkdir -p "$work/big"
ln -f "$big" "$work/big/BIG.BIN"
printf '[SETUP]\r\nCompanyName=B\r\nGameTitle=B\r\nGameClass=B\r\nGameDir=B\r\n[UPDATE]\r\nUpdateFile00=BIG.BIN\r\n' >"$work/big/UPDATE.INI"
size=$(stat -c %s "$big")
run "compressible 3.9 GB fast -j 2" "$size" "$qa2" build -j 2 --fast "$work/big" "$work/BF.EXE"
run "compressible 3.9 GB default -j 2" "$size" "$qa2" build -j 2 "$work/big" "$work/BD.EXE"
ls -l "$work"/B?.EXE
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
