#!/usr/bin/env bash
# The unit tests again, built by clang with AddressSanitizer and UBSan: the
# two compilers' sanitizers instrument differently (clang's caught a pointer
# overflow in the decoder that GCC's build let pass).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQA_SANITIZE=ON -DQA_BUILD_TOOLS=OFF >/dev/null
cmake --build build-clang -j "$jobs" --target qa_tests
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-clang -j "$jobs" --output-on-failure
