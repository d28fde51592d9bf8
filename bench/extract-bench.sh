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
# What an update carries: the system's libraries and documentation (some
# 256 MB of them), repeated up to SIZE; copies reach 8 KB back, so the
# repetition does not make it compress better.
python3 - "$size" "$dir/MEMBER.BIN" <<'PY'
import os, sys
n, path = int(sys.argv[1]), sys.argv[2]
parts, total = [], 0
for top in ("/usr/lib/x86_64-linux-gnu", "/usr/share/doc", "/usr/lib"):
    for base, _, names in os.walk(top):
        for name in sorted(names):
            p = os.path.join(base, name)
            if os.path.islink(p) or not os.path.isfile(p):
                continue
            try:
                parts.append(open(p, "rb").read())
            except OSError:
                continue
            total += len(parts[-1])
            if total >= 256 << 20:
                break
        if total >= 256 << 20:
            break
    if total >= 256 << 20:
        break
block = b"".join(parts)[:256 << 20]
with open(path, "wb") as f:
    for _ in range(n // len(block)):
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
