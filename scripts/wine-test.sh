#!/usr/bin/env bash
# The Windows build and its tests under Wine, in one command: prepares the test bed (installing
# what is missing), cross-builds the win64 preset, and runs its tests. The end-to-end scenarios
# run from the native build's test binary, which scripts/test.sh builds first, against the
# Windows zip (scripts/windows-bundle.sh) unpacked into a fresh folder.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -x build/tests/e2e_test ] || { cmake --preset default && cmake --build --preset default; }
scripts/wine-setup.sh build/win64
cmake --preset win64
cmake --build --preset win64
ctest --preset win64
