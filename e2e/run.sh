#!/usr/bin/env bash
# Runs the end-to-end scenarios (e2e/scenarios/*.scn, or the ones given) under
# Wine on a private display, against the Win32 build in $E2E_WIN32_BUILD
# (default build-win32) with qa2 from $E2E_HOST_BUILD (default build).
# Screenshots go to build-e2e/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export E2E_DIR=${E2E_DIR:-$root/build-e2e}
export E2E_WIN32_BUILD=${E2E_WIN32_BUILD:-$root/build-win32}
export E2E_HOST_BUILD=${E2E_HOST_BUILD:-$root/build}
# tools/build-updater relinks against these builds.
export QA_WIN32_BUILD=$E2E_WIN32_BUILD QA_NATIVE_BUILD=$E2E_HOST_BUILD

for f in "$E2E_WIN32_BUILD/e2e/driver.exe" "$E2E_WIN32_BUILD/e2e/fakegame.exe" \
         "$E2E_WIN32_BUILD/updater/UPDATE.EXE" "$E2E_HOST_BUILD/tools/qa2"; do
  [ -f "$f" ] || { echo "e2e: $f is missing; build first" >&2; exit 2; }
done

mkdir -p "$E2E_DIR"
rm -rf "$E2E_DIR/screenshots"
# shellcheck source=e2e/rig.sh
. "$root/e2e/rig.sh"
trap rig_stop EXIT
rig_env
rig_display headless
rig_prefix

if [ $# -eq 0 ]; then
  set -- "$root"/e2e/scenarios/*.scn
fi
python3 "$root/e2e/run.py" "$@"
