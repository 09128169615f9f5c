#!/usr/bin/env bash
# Prepares the Windows test bed in the build tree, as a Windows user would have it:
#   BUILD/wine/prefix   a fresh 64-bit Wine prefix (Wine's own cmd.exe, xcopy, rd, del)
#   BUILD/bin/7z.exe    the real 7-Zip for Windows (7za.exe from the npm package 7zip-bin)
#   BUILD/bin/luac.exe  the real Lua 5.4 compiler, built with mingw-w64 from Debian's lua5.4
#   BUILD/wine/libarchive  the static libarchive that uipcheck.exe is linked with
# (all three from scripts/windows-tools.sh) and the Unix locale zh_CN.UTF-8, with which Wine runs a
# Chinese Windows (code page 936).
# BUILD defaults to build/win64. Installs missing Debian packages first (as root, or through
# sudo). A second run only checks what is there. Nothing here is committed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "${1:-$root/build/win64}" && cd "${1:-$root/build/win64}" && pwd)"
work="$build/wine"
mkdir -p "$work" "$build/bin"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

"$root/scripts/install-deps.sh"

# Wine takes the Windows code page from the Unix locale, and reads the arguments in its
# character set: the locale must exist for both to be right.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then
  echo "setup: generating the locale zh_CN.UTF-8"
  $sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# No menu entries in the home directory, no Mono or Gecko installers: none of it is needed.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
if [ ! -f "$WINEPREFIX/.uippack-ready" ]; then
  echo "setup: creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  # wineboot reports a missing syswow64 rundll32.exe: that is the 32-bit half, not needed here.
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/drive_c/windows/system32/cmd.exe" ] || {
    echo "setup: wineboot did not create the prefix" >&2
    exit 1
  }
  touch "$WINEPREFIX/.uippack-ready"
fi

"$root/scripts/windows-tools.sh" "$build"

echo "setup: ready (prefix $WINEPREFIX, tools in $build/bin)"
