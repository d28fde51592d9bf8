#!/usr/bin/env bash
# Extracts a member of SIZE bytes (default 1 GB) from an archive packed with
# qa2 (fast mode), to a file in a tmpfs folder (default /dev/shm), by the
# streamed path and by the whole-buffer path, each three times; prints
# throughput and peak resident memory. Needs the native build (build/).
# Usage: bench/extract-bench.sh [SIZE] [TMPFS_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-1000000000}
dir=${2:-/dev/shm}/qa-extract-bench.$$
build=${QA_NATIVE_BUILD:-$root/build}
cmake --build "$build" -j 2 --target qa2 qa_extract_bench >/dev/null
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
# Text-like data: words of the corpus's kind, so that the stream holds the
# usual mix of literals and copies (about 40% of the size).
python3 - "$size" "$dir/MEMBER.BIN" <<'PY'
import random, sys
n, path = int(sys.argv[1]), sys.argv[2]
rng = random.Random(1)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(5000)]
block = bytearray()
while len(block) < 1 << 24:
    block += rng.choice(words) + (b"\r\n" if rng.random() < 0.1 else b" ")
    if rng.random() < 0.02:
        block += bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 40)))
block = bytes(block[:1 << 24])
with open(path, "wb") as f:
    # Copies reach 8 KB back: a 16 MB block repeated compresses as text does.
    for i in range(n // len(block)):
        f.write(block)
    f.write(block[:n % len(block)])
PY
"$build/tools/qa2" pack "$dir/A.QA2" "$dir/MEMBER.BIN" --fast
rm -f "$dir/MEMBER.BIN"
ls -l "$dir/A.QA2"
for round in 1 2 3; do
  for mode in whole stream; do
    "$build/bench/qa_extract_bench" "$mode" "$dir/A.QA2" MEMBER.BIN "$dir/OUT.BIN"
    rm -f "$dir/OUT.BIN"
  done
done
