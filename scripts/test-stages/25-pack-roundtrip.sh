#!/usr/bin/env bash
# The author's round trip on real data: the benchmark corpus packed with qa2
# in both modes, verified, extracted, and compared byte for byte with times.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
corpus=build/corpus
[ -d "$corpus" ] || bench/make-corpus.sh "$corpus" >/dev/null
bash bench/pack-roundtrip.sh "$root/build/tools/qa2" "$corpus"
bash bench/pack-roundtrip.sh "$root/build/tools/qa2" "$corpus" --fast
