#!/usr/bin/env bash
# qa2 on broken archives, built with ASan and UBSan: every fault is named,
# exit code 1, and neither verify, list nor extract crashes or overreads.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ASAN_OPTIONS=detect_leaks=1 python3 "$root/tests/qa2/verify_cases.py" "$root/build-asan/tools/qa2" "$work"
