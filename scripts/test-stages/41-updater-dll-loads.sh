#!/usr/bin/env bash
# UPDATE.EXE links statically and imports system DLLs only (checked in the
# 32-bit build that ships and in the build Wine runs), and every DLL loaded
# before WinMain restricts the search to the system folder comes from there:
# run under Wine with WINEDEBUG=+loaddll,+relay, the loads of the updater's
# process up to its SetDefaultDllDirectories call are listed and checked.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
win32=${QA_WIN32_BUILD:-$root/build-win32}
. scripts/wine-check.sh
wine_select
fail() {
  echo "41-updater-dll-loads: $*" >&2
  exit 1
}
# The system DLLs the updater may import; any other would be searched for
# beside it (the download folder) on systems without the restriction.
allowed='^(advapi32|kernel32|msvcrt|ole32|shell32|user32)\.dll$'
builds=("$win32")
[ "$QA_WINE_MODE" = none ] || [ "$QA_WINE_BUILD" = "$win32" ] || builds+=("$QA_WINE_BUILD")
for build in "${builds[@]}"; do
  cmake --build "$build" --target updater_exe >/dev/null
  exe=$build/updater/UPDATE.EXE
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$imports" ] || fail "$exe: no imports read"
  for dll in $imports; do
    [[ $dll =~ $allowed ]] || fail "$exe imports $dll, not one of the system DLLs it may use"
  done
  echo "$(basename "$build")/updater/UPDATE.EXE imports:" $imports
done

[ "$QA_WINE_MODE" != none ] || wine_skip "running UPDATE.EXE to list its DLL loads"
if [ "$QA_WINE_MODE" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine64} WINEARCH=win64
else
  export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/qa2-wine}
fi
"$QA_WINE_RUN" cmd /c exit >/dev/null 2>&1 || fail "Wine cannot run programs here"
log=$(mktemp "${TMPDIR:-/tmp}/dll-loads.XXXXXX")
trap 'rm -f "$log"' EXIT
# Without a display its first box fails at once and it exits (its archive is
# empty); the loads before that are the ones that matter.
exe=$(printf 'Z:%s' "${QA_WINE_BUILD//\//\\}\\updater\\UPDATE.EXE")
(cd "${TMPDIR:-/tmp}" && env -u DISPLAY LC_ALL=ja_JP.UTF-8 WINEDEBUG=+loaddll,+relay \
  timeout 120 "$QA_WINE" "$exe" 2>&1 | grep -aE 'loaddll|SetDefaultDllDirectories\(' >"$log" || true)
pid=$(grep -a 'Loaded L".*UPDATE.EXE"' "$log" | head -1 | cut -d: -f1)
[ -n "$pid" ] || fail "no load of UPDATE.EXE in the trace"
python3 - "$log" "$pid" <<'PY'
import re, sys
log, pid = sys.argv[1], sys.argv[2]
loads, restricted = [], False
for line in open(log, encoding="utf-8", errors="replace"):
    if not line.startswith(pid + ":"):
        continue
    if "Call KERNEL32.SetDefaultDllDirectories" in line:
        restricted = True
        break
    m = re.search(r'Loaded L"(.*?)"', line)
    if m:
        loads.append(m.group(1).replace("\\\\", "\\"))
if not restricted:
    sys.exit("41-updater-dll-loads: the trace shows no SetDefaultDllDirectories call")
print("loaded before WinMain restricts the search:")
bad = []
for path in loads[1:]:  # the first is UPDATE.EXE itself
    system = re.match(r"(?i)c:\\windows\\(system32|syswow64)\\[^\\]+$", path) is not None
    print(("  " if system else "  NOT SYSTEM ") + path)
    if not system:
        bad.append(path)
if bad:
    sys.exit("41-updater-dll-loads: loaded from outside the system folder: " + ", ".join(bad))
print(f"{len(loads) - 1} DLLs, all from the system folder")
PY
