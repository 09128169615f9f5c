#!/usr/bin/env bash
# Puts the tools uippack.exe starts beside it in the Windows build, as a Windows user would have
# them, for the tests under Wine and the Windows bundle:
#   BUILD/bin/7z.exe    the real 7-Zip for Windows (7za.exe from the npm package 7zip-bin)
#   BUILD/bin/luac.exe  the real Lua 5.4 compiler, built with mingw-w64 from Debian's lua5.4
#                       source package, which stays in BUILD/wine/lua-source (its licence goes
#                       into the bundle)
# BUILD defaults to build/win64. Expects what scripts/install-deps.sh installs. A second run only
# checks what is there. Nothing here is committed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "${1:-$root/build/win64}" && cd "${1:-$root/build/win64}" && pwd)"
work="$build/wine"
mkdir -p "$work" "$build/bin"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ! -f "$build/bin/7z.exe" ]; then
  echo "setup: fetching 7-Zip for Windows (npm package 7zip-bin)"
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' EXIT
  (cd "$scratch" && npm pack --silent 7zip-bin >/dev/null && tar -xzf 7zip-bin-*.tgz package/win/x64/7za.exe)
  cp "$scratch/package/win/x64/7za.exe" "$build/bin/7z.exe.part"
  mv "$build/bin/7z.exe.part" "$build/bin/7z.exe"
fi

if [ ! -f "$build/bin/luac.exe" ]; then
  fetch() { (cd "$work/lua-source" && apt-get source lua5.4) >"$work/lua-source.log" 2>&1; }
  lua_source=("$work"/lua-source/lua5.4-*/)
  if [ ! -d "${lua_source[0]}" ]; then
    # install-deps.sh has added deb-src entries where there were none; an old source index is
    # refreshed once.
    echo "setup: fetching the lua5.4 source package"
    rm -rf "$work/lua-source"
    mkdir -p "$work/lua-source"
    fetch || { $sudo apt-get update -qq || true; fetch; } || {
      cat "$work/lua-source.log" >&2
      exit 1
    }
    lua_source=("$work"/lua-source/lua5.4-*/)
  fi
  echo "setup: building luac.exe from ${lua_source[0]}"
  objects="$work/lua-objects"
  rm -rf "$objects"
  mkdir -p "$objects"
  # luac is the compiler's main plus the core and the standard libraries; lua.c is the
  # interpreter's main and stays out.
  for source in "${lua_source[0]}"src/*.c; do
    case "$(basename "$source")" in lua.c | onelua.c) continue ;; esac
    x86_64-w64-mingw32-gcc -std=gnu99 -O2 -DLUA_COMPAT_5_3 -c "$source" \
      -o "$objects/$(basename "$source" .c).o" &
    [ "$(jobs -r | wc -l)" -lt 2 ] || wait -n
  done
  wait
  x86_64-w64-mingw32-gcc -static -s -o "$build/bin/luac.exe.part" "$objects"/*.o
  mv "$build/bin/luac.exe.part" "$build/bin/luac.exe"
fi

