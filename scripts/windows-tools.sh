#!/usr/bin/env bash
# Puts the tools uippack.exe starts beside it in the Windows build, as a Windows user would have
# them, for the tests under Wine and the Windows bundle:
#   BUILD/bin/7z.exe    the real 7-Zip for Windows (7za.exe from the npm package 7zip-bin)
#   BUILD/bin/luac.exe  the real Lua 5.4 compiler, built with mingw-w64 from Debian's lua5.4
#                       source package, which stays in BUILD/wine/lua-source (its licence goes
#                       into the bundle)
#   BUILD/wine/libarchive  a static libarchive for uipcheck.exe (include/, lib/libarchive.a),
#                       built with mingw-w64 from Debian's libarchive source package, which stays
#                       in BUILD/wine/libarchive-source, with ZIP reading and zlib alone (the
#                       static zlib of libz-mingw-w64-dev); the win64 toolchain file looks there
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

# Unpacks Debian's source package PACKAGE into BUILD/wine/NAME-source once. install-deps.sh has
# added deb-src entries where there were none; an old source index is refreshed once.
source_package() {
  local package="$1" name="$2"
  local unpacked=("$work/$name-source/$package"-*/)
  [ -d "${unpacked[0]}" ] && return
  echo "setup: fetching the $package source package"
  rm -rf "$work/$name-source"
  mkdir -p "$work/$name-source"
  fetch() { (cd "$work/$name-source" && apt-get source "$package") >"$work/$name-source.log" 2>&1; }
  fetch || { $sudo apt-get update -qq || true; fetch; } || {
    cat "$work/$name-source.log" >&2
    exit 1
  }
}

if [ ! -f "$build/bin/luac.exe" ]; then
  source_package lua5.4 lua
  lua_source=("$work"/lua-source/lua5.4-*/)
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


library="$work/libarchive"
if [ ! -f "$library/lib/libarchive.a" ]; then
  source_package libarchive libarchive
  archive_source=("$work"/libarchive-source/libarchive-*/)
  echo "setup: building libarchive from ${archive_source[0]}"
  objects="$work/libarchive-objects"
  rm -rf "$objects" "$library"
  # zlib is named outright: the check for zlib's WINAPI build is a program run, which cross
  # builds cannot do (CMake 3.25 crashes on it), and Debian's zlib is a plain one. Everything
  # else is off: uipcheck reads ZIP archives, stored or deflated, and nothing more.
  zlib=/usr/x86_64-w64-mingw32
  if ! cmake -S "${archive_source[0]}" -B "$objects" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DZLIB_INCLUDE_DIR="$zlib/include" -DZLIB_LIBRARY="$zlib/lib/libz.a" \
    -DZLIB_WINAPI=0 -DZLIB_WINAPI_WITH_LIB="$zlib/lib/libz.a" \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=OFF \
    -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_BZip2=OFF -DENABLE_LZMA=OFF \
    -DENABLE_ZSTD=OFF -DENABLE_LZ4=OFF -DENABLE_LZO=OFF -DENABLE_LIBB2=OFF -DENABLE_ICONV=OFF \
    -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_PCREPOSIX=OFF -DENABLE_LIBGCC=OFF \
    -DPOSIX_REGEX_LIB=NONE -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF \
    -DENABLE_TEST=OFF -DENABLE_WERROR=OFF >"$work/libarchive-build.log" 2>&1 ||
    ! cmake --build "$objects" --target archive_static -j 2 >>"$work/libarchive-build.log" 2>&1
  then
    cat "$work/libarchive-build.log" >&2
    exit 1
  fi
  # Only the static library is built, which libarchive's own install rules do not allow for.
  mkdir -p "$library/include" "$library/lib.part"
  cp "${archive_source[0]}"libarchive/archive.h "${archive_source[0]}"libarchive/archive_entry.h \
    "$library/include/"
  cp "$objects/libarchive/libarchive_static.a" "$library/lib.part/libarchive.a"
  mv "$library/lib.part" "$library/lib"
fi
