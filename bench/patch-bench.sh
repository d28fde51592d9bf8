#!/usr/bin/env bash
# Patches against the general delta tools: qa2 build --base on two Debian
# package upgrades (libssl3 3.0.20 -> 3.0.22, grub-efi-amd64-signed
# deb12u1 -> u2, fetched by version with apt-get), a 40 MB game data pack
# made from the benchmark corpus, and a generated pair of QA_PATCH_BENCH_GB
# (default 1) GB, against the smallest per file of xdelta3 -9 -B, bsdiff and
# zstd -19 --long=31 --patch-from (a tool that fails, or runs past
# QA_PEER_TIMEOUT seconds, is left out for that file and named). Then, under
# Wine, applying the generated pair's patch against extracting it whole,
# and the version gate's pass against a plain read (--no-wine skips this).
# Everything is kept in $QA_NATIVE_BUILD/patch-bench/.
# Where /proc/sys/vm/drop_caches can be written, the gate and the read are
# also taken from the disk rather than the page cache.
# Usage: bench/patch-bench.sh [--no-wine | --wine-only]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
for tool in xdelta3 bsdiff zstd; do
  command -v "$tool" >/dev/null || missing="${missing:-} $tool"
done
if [ -n "${missing:-}" ]; then
  echo "installing the peers:$missing"
  apt-get install -y -q $missing >/dev/null
fi
# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"
cmake --build "$QA_NATIVE_BUILD" -j 2 --target qa2 >/dev/null
work=$QA_NATIVE_BUILD/patch-bench
mkdir -p "$work"
[ -d "$work/corpus" ] || bench/make-corpus.sh "$work/corpus" >/dev/null
if [ "${1:-}" = --no-wine ]; then
  exec python3 bench/patch_bench.py "$work" "$@" --no-wine
fi
export E2E_DIR=${E2E_DIR:-$root/build-e2e}
mkdir -p "$E2E_DIR"
# shellcheck source=e2e/rig.sh
. e2e/rig.sh
trap rig_stop EXIT
rig_env
rig_display headless
rig_prefix
python3 bench/patch_bench.py "$work" "$@"
