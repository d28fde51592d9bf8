#!/usr/bin/env bash
# The main job on the sample shipped in the repo: packs samples/update into an
# UPDATE.EXE, installs samples/installation in the end-to-end rig's Wine
# prefix (install mode 1, the game's registry key, disc 1 in the CD-ROM drive
# Q:), and runs the updater against it.
#
# With $DISPLAY set, the dialog opens on your display and you press its
# buttons; otherwise it runs headless under Xvfb and a driver presses Next,
# Next and Done. Either way the script prints the texts seen, the
# installation's files that changed, and the exit code (1: completed).
# Builds what is missing first (build-win32/, build/); installs the
# dependencies when the tools are not there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
for tool in cmake ninja wine Xvfb i686-w64-mingw32-g++-posix python3; do
  if ! command -v "$tool" >/dev/null; then
    bash scripts/install-deps.sh
    break
  fi
done

# shellcheck source=e2e/builds.sh
. e2e/builds.sh
e2e_builds "$root"

if [ -n "${DISPLAY:-}" ]; then
  echo "run-sample: the updater opens on $DISPLAY; press its buttons"
  E2E_DISPLAY=visible exec bash e2e/run.sh e2e/sample/run-visible.scn
else
  echo "run-sample: no display; running headless under Xvfb"
  exec bash e2e/run.sh e2e/sample/run-headless.scn
fi
