#!/usr/bin/env bash
# End to end: UPDATE.EXE under Wine on a private X display, worked through
# its windows by the scenarios in e2e/scenarios/. Uses the Win32 build
# (QA_WIN32_BUILD, default build-win32) and the native tools build
# (QA_NATIVE_BUILD, default build), configuring and building what is missing.
set -euo pipefail
. "$(dirname "$0")/../wine-check.sh"
wine_select
[ "$QA_WINE_MODE" != none ] || wine_skip "the end-to-end stage"
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"

exec bash e2e/run.sh
