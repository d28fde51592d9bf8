#!/usr/bin/env bash
# Runs the end-to-end scenarios (e2e/scenarios/*.scn, or the files given)
# under Wine on a private X display, against the Win32 build in
# $QA_WIN32_BUILD (default build-win32: the driver, the stand-in game, qa2.exe)
# with qa2 from $QA_NATIVE_BUILD (default build), whose `qa2 build` makes each
# scenario's UPDATE.EXE. Screenshots go to build-e2e/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export E2E_DIR=${E2E_DIR:-$root/build-e2e}
export QA_WIN32_BUILD=${QA_WIN32_BUILD:-$root/build-win32}
export QA_NATIVE_BUILD=${QA_NATIVE_BUILD:-$root/build}

for f in "$QA_WIN32_BUILD/e2e/driver.exe" "$QA_WIN32_BUILD/e2e/fakegame.exe" \
         "$QA_WIN32_BUILD/tools/qa2.exe" "$QA_NATIVE_BUILD/tools/qa2"; do
  [ -f "$f" ] || { echo "e2e: $f is missing; build first" >&2; exit 2; }
done

mkdir -p "$E2E_DIR"
rm -rf "$E2E_DIR/screenshots"
# shellcheck source=e2e/rig.sh
. "$root/e2e/rig.sh"
trap rig_stop EXIT
rig_env
rig_display "${E2E_DISPLAY:-headless}"
rig_prefix

if [ $# -eq 0 ]; then
  set -- "$root"/e2e/scenarios/*.scn
fi
python3 "$root/e2e/run.py" "$@"
