# The end-to-end rig, sourced by e2e/run.sh and tools/try-update:
# a display (Xvfb unless one is given), one 32-bit Wine prefix with code page
# 932 and a Japanese font, the drives the scenarios use, and one wineserver
# kept alive for all of them.
#
#   rig_env                 exports WINEPREFIX and friends (E2E_DIR must be set)
#   rig_display [headless]  starts Xvfb on a free display unless DISPLAY is set
#                           (or always, with "headless")
#   rig_prefix              creates and configures the prefix, starts wineserver
#   rig_stop                stops what rig_display and rig_prefix started
#
# Drives: C: the prefix's own; G: $E2E_DIR/drive-g (installations);
# T: $E2E_DIR/drive-t (a small tmpfs when it can be mounted: a drive whose
# free space is known and below 4 GiB); Q: $E2E_DIR/disc, a CD-ROM drive;
# for each letter L of $E2E_CDROMS (made with the prefix), another CD-ROM
# drive L: on $E2E_DIR/cdrom-L; for each letter L of $E2E_DISKS, a hard disk
# L: on $E2E_DIR/drive-L (tools/try-update --inst-path).

rig_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rig_xvfb_pid=""
rig_mounted=""

rig_env() {
  export WINEPREFIX="$E2E_DIR/prefix"
  export WINEARCH=win32
  # A kernel without 32-bit emulation runs a 64-bit build under 64-bit Wine
  # (scripts/wine-check.sh): every Wine command found on PATH is then the
  # 64-bit one, in a prefix of its own.
  if [ "${QA_WINE_MODE:-win32}" = win64 ]; then
    export WINEPREFIX="$E2E_DIR/prefix64" WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    local bin="$E2E_DIR/wine64-bin" tool
    mkdir -p "$bin"
    for tool in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$tool"
    done
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$bin/wineserver"
    for tool in winepath regedit wineboot; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 %s.exe "$@"\n' "$tool" >"$bin/$tool"
    done
    chmod +x "$bin"/*
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
  fi
  export WINEDEBUG=-all
  export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

rig_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != headless ]; then
    return 0
  fi
  local fdfile="$E2E_DIR/xvfb-display"
  rm -f "$fdfile"
  # -displayfd: Xvfb picks a free display itself and reports its number.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >"$E2E_DIR/xvfb.log" 2>&1 &
  rig_xvfb_pid=$!
  local i
  for i in $(seq 1 100); do
    if [ -s "$fdfile" ]; then
      export DISPLAY=":$(tr -d '\n' <"$fdfile")"
      return 0
    fi
    kill -0 "$rig_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "rig: Xvfb did not start (see $E2E_DIR/xvfb.log)" >&2
  return 1
}

# Registry settings of the prefix, as one .reg file (regedit reads it in one
# process; reg add would take one Wine start per value).
rig_registry() {
  local reg="$E2E_DIR/rig.reg"
  python3 - "$reg" "${E2E_DISKS:-}" ${E2E_CDROMS:-} <<'EOF'
import sys
lines = [
    "Windows Registry Editor Version 5.00", "",
    # The dialog's face and the faces Wine's boxes ask for, all drawn with
    # the IPA font that the system has.
    r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
    '"ＭＳ Ｐゴシック"="IPAPGothic"',
    '"MS PGothic"="IPAPGothic"',
    '"ＭＳ ゴシック"="IPAGothic"',
    '"MS Gothic"="IPAGothic"',
    '"MS UI Gothic"="IPAPGothic"',
    '"Tahoma"="IPAPGothic"',
    '"MS Shell Dlg"="IPAPGothic"',
    '"MS Shell Dlg 2"="IPAPGothic"',
    "",
    r"[HKEY_LOCAL_MACHINE\Software\Wine\Drives]",
    '"q:"="cdrom"',
    '"g:"="hd"',
    '"t:"="hd"',
] + ['"%s:"="cdrom"' % letter for letter in sys.argv[3:]] + [
    '"%s:"="hd"' % letter for letter in sys.argv[2].split()] + [
    "",
]
# regedit takes UTF-16 files with a byte-order mark.
open(sys.argv[1], "wb").write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
EOF
  wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
}

rig_prefix() {
  mkdir -p "$E2E_DIR/drive-g" "$E2E_DIR/drive-t" "$E2E_DIR/disc"
  # A small drive for the free-space scenarios. Without the right to mount,
  # T: is an ordinary folder and those scenarios say so and skip.
  if ! mountpoint -q "$E2E_DIR/drive-t"; then
    if mount -t tmpfs -o size=8m e2e-drive-t "$E2E_DIR/drive-t" 2>/dev/null; then
      rig_mounted="$E2E_DIR/drive-t"
    fi
  else
    rig_mounted="$E2E_DIR/drive-t"
  fi
  local stamp="$WINEPREFIX/.e2e-rig-2"
  if [ ! -f "$stamp" ]; then
    # The project's own script creates the prefix on first use.
    "${QA_WINE_RUN:-$rig_root/scripts/wine-run}" cmd /c exit >/dev/null 2>&1 || true
    rig_registry
    wineserver -w
    touch "$stamp"
  fi
  # Wine draws the caption buttons with its Marlett font, which Debian ships
  # (fonts-wine) outside the folders this Wine searches: without it the close
  # box shows the letter "r".
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  # Xvfb has no window manager: Wine then draws captions and frames itself,
  # so that screenshots show the caption, and places the windows itself
  # (unmanaged, which keeps boxes quick to close). The stand-in game stays
  # managed: activation handed between unmanaged windows of three processes
  # races with X focus events and can leave the desktop in front.
  local x11='HKCU\Software\Wine\X11 Driver'
  local game='HKCU\Software\Wine\AppDefaults\fakegame.exe\X11 Driver'
  if [ -n "$rig_xvfb_pid" ]; then
    wine reg add "$x11" /v Decorated /d N /f >/dev/null 2>&1
    wine reg add "$x11" /v Managed /d N /f >/dev/null 2>&1
    wine reg add "$game" /v Managed /d Y /f >/dev/null 2>&1
  else
    wine reg delete "$x11" /f >/dev/null 2>&1 || true
    wine reg delete "$game" /f >/dev/null 2>&1 || true
  fi
  local d
  for d in g t q; do rm -f "$WINEPREFIX/dosdevices/$d:"; done
  ln -s "$E2E_DIR/drive-g" "$WINEPREFIX/dosdevices/g:"
  ln -s "$E2E_DIR/drive-t" "$WINEPREFIX/dosdevices/t:"
  ln -s "$E2E_DIR/disc" "$WINEPREFIX/dosdevices/q:"
  for d in ${E2E_CDROMS:-}; do
    mkdir -p "$E2E_DIR/cdrom-$d"
    rm -f "$WINEPREFIX/dosdevices/$d:"
    ln -s "$E2E_DIR/cdrom-$d" "$WINEPREFIX/dosdevices/$d:"
  done
  for d in ${E2E_DISKS:-}; do
    mkdir -p "$E2E_DIR/drive-$d"
    rm -f "$WINEPREFIX/dosdevices/$d:"
    ln -s "$E2E_DIR/drive-$d" "$WINEPREFIX/dosdevices/$d:"
  done
  # One persistent server for every scenario: Wine reads the drive types when
  # it starts, and starting it costs seconds.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p
}

rig_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [ -n "$rig_xvfb_pid" ]; then
    kill "$rig_xvfb_pid" 2>/dev/null || true
    wait "$rig_xvfb_pid" 2>/dev/null || true
    rig_xvfb_pid=""
  fi
  if [ -n "$rig_mounted" ]; then
    umount "$rig_mounted" 2>/dev/null || true
    rig_mounted=""
  fi
}
