#!/usr/bin/env bash
# Makes the Windows bundle from the mingw-w64 build: BUILD/uippack-VERSION-win64.zip, holding
# one folder uippack-VERSION-win64 with
#   uippack.exe, ScriptStager.exe, uipcheck.exe
#   7z.exe, luac.exe            as scripts/windows-tools.sh obtains them
#   README.txt, LICENSE.txt     text with CR LF line ends, as Notepad wants it
#   licenses\                   the licence texts of everything else the bundle carries
# uippack.exe starts its tools from its own folder, so the folder can be unpacked anywhere.
# BUILD defaults to build/win64 and must have been built (cmake --build --preset win64), with the
# libarchive of scripts/windows-tools.sh there before the configure step, or the build has no
# uipcheck.exe. The version is the one set in CMakeLists.txt's project(). Prints the path of the
# zip.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/win64}" && pwd)"
version="$(sed -n 's/^project(uippack VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "bundle: no version in CMakeLists.txt's project()" >&2; exit 1; }
name="uippack-$version-win64"

for program in uippack ScriptStager uipcheck; do
  [ -f "$build/bin/$program.exe" ] || {
    echo "bundle: $build/bin/$program.exe is missing; build the win64 preset first" \
      "(uipcheck.exe: after scripts/windows-tools.sh, which builds libarchive)" >&2
    exit 1
  }
done
"$root/scripts/windows-tools.sh" "$build" >&2

stage="$build/bundle/$name"
rm -rf "$build/bundle"
mkdir -p "$stage/licenses"
for program in uippack.exe ScriptStager.exe uipcheck.exe 7z.exe luac.exe; do
  cp "$build/bin/$program" "$stage/"
done
# Ours without their symbols (7z.exe comes as it is published, luac.exe is linked with -s).
# The same bytes from the same build: strip stamps a PE file with SOURCE_DATE_EPOCH, or with the
# time it runs, and the zip's entries get that time too: the time of the last commit.
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"
for program in uippack.exe ScriptStager.exe uipcheck.exe; do
  x86_64-w64-mingw32-strip "$stage/$program"
done

# Text for Windows: every line ends with CR LF (lines that have one already keep it).
text() { sed 's/\r$//; s/$/\r/' "$@"; }
first() { for file in "$@"; do [ -f "$file" ] && { echo "$file"; return; }; done; return 1; }
doc=/usr/share/doc

text "$root/README.md" >"$stage/README.txt"
text "$root/LICENSE" >"$stage/LICENSE.txt"
{
  echo "7z.exe is 7za.exe, the standalone console version of 7-Zip by Igor Pavlov, from the npm"
  echo "package 7zip-bin. 7-Zip is free software under the GNU LGPL 2.1 or later, with parts under"
  echo "the BSD 3-clause licence and in the public domain, as detailed below (Debian's account of"
  echo "the 7-Zip sources), followed by the text of the GNU LGPL 2.1. Source: https://www.7-zip.org/"
  echo
  cat "$doc/7zip/copyright"
  echo
  cat /usr/share/common-licenses/LGPL-2.1
} | text >"$stage/licenses/7-Zip.txt"
lua_copyright="$(first "$build"/wine/lua-source/lua5.4-*/debian/copyright "$doc/lua5.4/copyright")"
{
  echo "luac.exe is the Lua 5.4 compiler, built with mingw-w64 from Debian's lua5.4 source"
  echo "package. Lua is Copyright (C) 1994-2020 Lua.org, PUC-Rio, under the MIT (Expat) licence:"
  echo
  cat "$lua_copyright"
} | text >"$stage/licenses/Lua.txt"
{
  echo "Every .exe here links the mingw-w64 runtime statically."
  echo
  cat "$doc/mingw-w64-common/copyright"
} | text >"$stage/licenses/mingw-w64.txt"
{
  echo "uippack.exe, ScriptStager.exe and uipcheck.exe link the GCC runtime libraries (libstdc++,"
  echo "libgcc) statically, under the GCC Runtime Library Exception described below."
  echo
  cat "$doc/gcc-mingw-w64-base/copyright"
} | text >"$stage/licenses/GCC-runtime.txt"
{
  echo "uippack.exe and uipcheck.exe link zlib statically."
  echo
  cat "$doc/libz-mingw-w64-dev/copyright"
} | text >"$stage/licenses/zlib.txt"
archive_copyright="$(first "$build"/wine/libarchive-source/libarchive-*/debian/copyright \
  "$doc/libarchive13/copyright")"
{
  echo "uipcheck.exe reads ZIP archives with libarchive, linked statically, built with mingw-w64"
  echo "from Debian's libarchive source package. libarchive is under the BSD 2-clause licence, with"
  echo "parts under other permissive licences, as detailed below:"
  echo
  cat "$archive_copyright"
} | text >"$stage/licenses/libarchive.txt"

zip="$build/$name.zip"
rm -f "$zip"
cd "$build/bundle"
find "$name" -type f | LC_ALL=C sort >files.txt
# 7-Zip keeps only each file's modification time, in the zone TZ names.
xargs -d '\n' touch -d "@$SOURCE_DATE_EPOCH" <files.txt
TZ=UTC 7zz a -tzip -mx=9 -bso0 -bsp0 "$zip" @files.txt
7zz t -bso0 -bsp0 "$zip"
echo "$zip"
