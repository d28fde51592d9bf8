#!/usr/bin/env bash
# Fuzz pass of the CI run: each fuzz target for about 20 seconds, so that a
# crash on the decoder, the archive opener, the compressor, the resource
# writer (fed arbitrary stubs), the PE readers or the patch reader and coder
# fails the run.
set -euo pipefail
exec "$(dirname "$0")/../fuzz.sh" 20
