#!/usr/bin/env bash
# Runs the Win32 layer's own checks under Wine, with a directory link made on the Unix side
# (Wine's CreateSymbolicLinkW reports success but makes no link).
set -euo pipefail
build="$(cd "${UIPPACK_WIN64_BUILD:-$(dirname "$0")/../../build/win64}" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$build/wine/prefix}" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
mkdir -p "$build/wine/scratch"
links="$(mktemp -d "$build/wine/scratch/links.XXXXXX")"
trap 'rm -rf "$links"' EXIT
mkdir "$links/real"
ln -s "$links/real" "$links/link"
# Wine's services, started by a session's first process, inherit its output and keep it open
# while the server lives: started here without ctest's, they cannot hold this test open.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
wine "$build/tests/win32_layer_test.exe" "Z:${links//\//\\}"
