#!/usr/bin/env bash
# The main job on the sample shipped in the repo: tools/try-update on
# samples/update, with a copy of samples/installation (install mode 1, its
# SAVE folder as the data folder, disc 1 in a CD-ROM drive).
#
# With $DISPLAY set, the dialog opens on your display and you press its
# buttons; otherwise it runs headless under Xvfb and a driver presses Next,
# Next and Done. Either way it prints the texts seen, the files that changed,
# and the exit code (1: completed), and keeps screenshots in
# try-update-shots/. Where 32-bit programs cannot run, the update is built
# and run with the 64-bit build of the same sources (try-update says so).
# Builds what is missing first; installs the dependencies when the tools are
# not there. Arguments (--headless, --shots DIR, --keep) go to try-update.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
for tool in cmake ninja wine Xvfb i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix python3; do
  if ! command -v "$tool" >/dev/null; then
    bash scripts/install-deps.sh
    break
  fi
done

# Checkout gives the installed and the updated files about the same time:
# the installed ones are made older, so that the Update entry shows its
# effect, and the rewritten SETUP.INI its new time, every time.
inst=$(mktemp -d "${TMPDIR:-/tmp}/run-sample.XXXXXX")
trap 'rm -rf "$inst"' EXIT
cp -a samples/installation/. "$inst/"
touch -d 2020-01-01T00:00:00Z "$inst/README.TXT" "$inst/SETUP.INI"
tools/try-update samples/update --install "$inst" --data "$inst/SAVE" --mode 1 \
  --cdrom Q:=samples/disc1 "$@"
